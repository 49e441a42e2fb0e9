// The library's extended data segment: choosing, checking or creating its
// swap file, then asking the platform for the segment.
#include <zeb/runtime/library_segment.h>

#include <algorithm>
#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/segment.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/system/segments.h"
#include "runtime/runtime_core.h"

namespace {

namespace err = zeb::err;

bool all_blank(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != ' ') return false;
  }
  return true;
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

  // The look-up's error tells a missing file (11: create it) from one that
  // cannot be reached.
  platform::Result<platform::DiskFileInfo> info = platform::disk_file_info(name);
  if (!info.ok()) return info.code();
  if (((info->device_type >> 6) & 0x3F) != kDeviceTypeDisk) return err::kInvalidOperation;
  if (info->capacity < static_cast<int64_t>(pages) * kPageBytes) return 1;
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
    platform::Extents extents;
    swap_extents(pages, &extents.primary, &extents.maxextents);
    extents.secondary = extents.primary;
    Status created = platform::create_by_internal_name(name, extents);
    if (!created.ok()) {
      // The last open or create error says more than the creation's own;
      // when it is 0, the creation's stands.
      platform::Result<int16_t> last = platform::last_error(-1);
      const int16_t code = last.ok() && *last != 0 ? *last : created.code();
      return Status::error(code, created.what());
    }
  } else if (verdict != 0) {
    return Status::error(verdict);
  }

  // The segment is as large as its swap file. An inquiry that fails leaves
  // no size to ask for, so it ends the allocation with its error.
  platform::Result<platform::DiskFileInfo> info = platform::disk_file_info(name);
  if (!info.ok()) return info.status();
  const int32_t capacity = info->capacity;
  if (capacity < static_cast<int64_t>(pages) * kPageBytes) return Status::error(err::kNoSegment);

  // The segment options a flags word would choose (this host has one kind:
  // a read-write view of its own swap file) are not asked for.
  // Any failure to map it is 317; the note says what stood in the way.
  if (Status mapped = platform::allocate_segment(segment_id, capacity, name); !mapped.ok()) {
    return Status::error(err::kNoSegment, mapped.what());
  }
  return static_cast<void*>(platform::segment_base());
}

}  // namespace zeb::runtime

int16_t UTIL_MYSWAPVOLUME(char* volume, int16_t maxlen, int16_t* length) {
  if (volume == nullptr || length == nullptr) return err::kInvalidOperation;
  // The swap file of this process is named by its swap volume alone.
  zeb::platform::Result<std::string> swap = zeb::platform::swap_file_name();
  if (!swap.ok()) return err::kInvalidOperation;
  zeb::platform::Result<std::string> part = zeb::platform::file_name_part(*swap, 0);
  if (!part.ok() || static_cast<size_t>(std::max<int16_t>(maxlen, 0)) < part->size()) {
    return err::kInvalidOperation;
  }
  std::memcpy(volume, part->data(), part->size());
  *length = static_cast<int16_t>(part->size());
  return 0;
}
