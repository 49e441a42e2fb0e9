// The library's extended data segment: choosing, checking or creating its
// swap file, then asking the platform for the segment.
#include <zeb/runtime/library_segment.h>

#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/segment.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "platform/processes/processes.h"
#include "runtime/runtime_core.h"

namespace {

namespace err = zeb::err;

constexpr uint16_t kSegmentFlags = 0x5800;

bool all_blank(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != ' ') return false;
  }
  return true;
}

// The capacity in bytes of the file named by a 24-byte internal name, with
// the result of the inquiry.
int16_t capacity_of(char* name, int16_t* error, int16_t* devtype, int32_t* capacity) {
  return FILEINFO(zeb::mask({2, 3, 5, 18}), 0, error, name, nullptr, devtype, nullptr, nullptr,
                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                  nullptr, capacity);
}

}  // namespace

namespace zeb {

void swap_extents(int16_t pages, int32_t* ext, int16_t* maxext) {
  int32_t x = pages / 100;
  int32_t e = 4;
  while (e <= x) e *= 2;
  int32_t m = (pages + e - 1) / e;
  *ext = e;
  *maxext = static_cast<int16_t>(m < 16 ? 16 : m);
}

int16_t FILE_EXISTS(char* name, int16_t pages) {
  if (all_blank(name, 8)) {
    char volume[8];
    int16_t length = 0;
    int16_t result = UTIL_MYSWAPVOLUME(volume, sizeof volume, &length);
    if (result != 0) return result;
    std::memset(name, ' ', 8);
    std::memcpy(name, volume, static_cast<size_t>(length));
  }
  // Only a volume: a temporary file is to be created there.
  if (all_blank(name + 8, 16)) return err::kNotFound;

  int16_t error = 0, devtype = 0;
  int32_t capacity = 0;
  if (capacity_of(name, &error, &devtype, &capacity) != 0) {
    // The look-up's own error tells a missing file (11: create it) from
    // one that cannot be reached.
    return error != 0 ? error : err::kNotFound;
  }
  if (error != 0) return error;
  if (((devtype >> 6) & 0x3F) != kDeviceTypeDisk) return err::kInvalidOperation;
  if (capacity < static_cast<int64_t>(pages) * kPageBytes) return 1;
  return 0;
}

}  // namespace zeb

namespace zeb::runtime {

Result<void*> allocate_segment(int16_t pages, int16_t segment_id, const char* swapfile) {
  char name[24];
  std::memset(name, ' ', sizeof name);
  if (swapfile != nullptr) std::memcpy(name, swapfile, sizeof name);
  if (pages < 1 || pages > kMaxSegmentPages) return Status::error(err::kOutOfBounds);

  int16_t verdict = FILE_EXISTS(name, pages);
  if (verdict == err::kNotFound) {
    int32_t ext = 0;
    int16_t maxext = 0;
    swap_extents(pages, &ext, &maxext);
    int16_t result = CREATE(zeb::mask({1, 2, 4, 11}), name, ext, 0, ext, 0, 0, 0, 0, 0, 0, maxext);
    if (result != 0) {
      // The last open or create error says more than CREATE's result; when
      // the inquiry fails, last stays 0 and CREATE's result stands.
      int16_t last = 0;
      FILEINFO(zeb::mask({1, 2}), -1, &last);
      return Status::error(last != 0 ? last : result, "create the swap file");
    }
  } else if (verdict != 0) {
    return Status::error(verdict, "swap file");
  }

  // The segment is as large as its swap file. An inquiry that fails leaves
  // no size to ask for, so it ends the allocation with its error.
  int16_t error = 0, devtype = 0;
  int32_t capacity = 0;
  int16_t result = capacity_of(name, &error, &devtype, &capacity);
  if (result != 0) return Status::error(result, "swap file");
  if (error != 0) return Status::error(error, "swap file");
  if (capacity < static_cast<int64_t>(pages) * kPageBytes) return Status::error(err::kNoSegment);

  if (ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), segment_id, capacity, name,
                      static_cast<int16_t>(kSegmentFlags)) != 0) {
    return Status::error(err::kNoSegment, "segment");
  }
  return static_cast<void*>(platform::segment_base());
}

}  // namespace zeb::runtime

int16_t UTIL_MYSWAPVOLUME(char* volume, int16_t maxlen, int16_t* length) {
  if (volume == nullptr || length == nullptr) return err::kInvalidOperation;
  // The swap file of this process is named by its swap volume alone.
  zeb::platform::Result<std::string> swap = zeb::platform::swap_file_name();
  if (!swap.ok()) return err::kInvalidOperation;
  if (FILENAME_DECOMPOSE_(zeb::mask({1, 2, 3, 4, 5, 6}), swap->data(),
                          static_cast<int16_t>(swap->size()), volume, maxlen, length, 0) != 0) {
    return err::kInvalidOperation;
  }
  return 0;
}
