// Tests of the library segment's allocation: swap-file sizes, defaults,
// named swap files and their checks. The tests run on a volume of their own
// (a fresh directory), which is also the swap volume.
#include <zeb/runtime/library_segment.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/segment.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

namespace err = zeb::err;

const auto* const kSwapVolumeHost =
    ::testing::AddGlobalTestEnvironment(new zeb::testing::SwapVolumeHost);

std::string internal(const char* volume, const char* subvol, const char* file) {
  std::string name(24, ' ');
  std::memcpy(name.data(), volume, std::strlen(volume));
  std::memcpy(name.data() + 8, subvol, std::strlen(subvol));
  std::memcpy(name.data() + 16, file, std::strlen(file));
  return name;
}

int32_t capacity_of(std::string name) {
  int32_t capacity = -1;
  EXPECT_EQ(FILEINFO(zeb::mask({3, 18}), 0, nullptr, name.data(), nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &capacity),
            0);
  return capacity;
}

// Makes a named file of exactly bytes bytes.
void make_file(const std::string& name, long long bytes) {
  std::string n = name;
  ASSERT_EQ(CREATE(zeb::mask({1}), n.data()), 0);
  zeb::platform::Result<int> opened = zeb::platform::open_internal_for_mapping(name.c_str());
  int fd = opened.ok() ? *opened : -1;
  ASSERT_GE(fd, 0);
  ASSERT_EQ(zeb::platform::syscalls().ftruncate(fd, bytes), 0);
  zeb::platform::syscalls().close(fd);
}

class AllocateSegment : public zeb::testing::SwapSegmentTest {
 protected:
  AllocateSegment() : SwapSegmentTest({5, 101}) {}
};

TEST(SwapExtents, FollowTheSizeRule) {
  struct Row {
    int16_t pages;
    int32_t ext;
    int16_t maxext;
  };
  for (Row r : {Row{1, 4, 16}, Row{64, 4, 16}, Row{65, 4, 17}, Row{99, 4, 25}, Row{400, 8, 50},
                Row{500, 8, 63}, Row{799, 8, 100}, Row{800, 16, 50}, Row{1000, 16, 63},
                Row{4000, 64, 63}, Row{32000, 512, 63}}) {
    int32_t ext = 0;
    int16_t maxext = 0;
    zeb::swap_extents(r.pages, &ext, &maxext);
    EXPECT_EQ(ext, r.ext) << r.pages;
    EXPECT_EQ(maxext, r.maxext) << r.pages;
    EXPECT_GE(static_cast<int64_t>(ext) * maxext, r.pages);
  }
}

TEST_F(AllocateSegment, DefaultsGiveA500PageSegmentOnATemporaryFile) {
  void* base = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1}), &base), 0);
  EXPECT_EQ(base, zeb::platform::segment_base());
  EXPECT_EQ(zeb::platform::segment_in_use(), 101);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 504 * 2048) << "8-page extents, 63 of them";
  // Every byte of the segment can be written.
  std::memset(base, 0xA5, 504 * 2048);
}

TEST_F(AllocateSegment, PagesOutOfRangeAreRefused) {
  void* base = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2}), &base, 0), err::kOutOfBounds);
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2}), &base, 32001), err::kOutOfBounds);
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2}), &base, -1), err::kOutOfBounds);
  EXPECT_EQ(base, reinterpret_cast<void*>(0x1));
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 5}), &base), err::kInvalidOperation);
  EXPECT_EQ(zeb::platform::segment_in_use(), -1);
}

TEST_F(AllocateSegment, LargestSegmentIsAccepted) {
  void* base = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2}), &base, 32000), 0);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 32256 * 2048);
  static_cast<char*>(base)[32000 * 2048 - 1] = 1;
}

TEST_F(AllocateSegment, BaseIsTheSameWhateverTheId) {
  void* base = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, 4, 5), 0);
  EXPECT_EQ(base, zeb::platform::segment_base());
  EXPECT_EQ(zeb::platform::segment_in_use(), 5);
  void* again = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &again, 4, 101), 0);
  EXPECT_EQ(again, base);
}

TEST_F(AllocateSegment, NamedFileOfExactlyTheSizeIsReused) {
  std::string name = internal("$ZSWAP", "SWAPS", "EXACT");
  make_file(name, 10 * 2048);
  std::string n = name;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 10, 101, n.c_str()), 0);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 10 * 2048) << "not created again";
  // Its contents are the file's.
  std::memcpy(zeb::platform::segment_base(), "kept", 4);
  ASSERT_EQ(DEALLOCATESEGMENT(zeb::mask({1}), 101), 0);
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 10, 101, n.c_str()), 0);
  EXPECT_EQ(std::memcmp(zeb::platform::segment_base(), "kept", 4), 0);
}

TEST_F(AllocateSegment, NamedFileOneByteShortIsTooSmall) {
  std::string name = internal("$ZSWAP", "SWAPS", "SHORT");
  make_file(name, 10 * 2048 - 1);
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 10, 101, name.c_str()), 1);
  EXPECT_EQ(zeb::platform::segment_in_use(), -1);
  EXPECT_EQ(capacity_of(name), 10 * 2048 - 1) << "left as it was";
}

TEST_F(AllocateSegment, MissingNamedFileIsCreatedWithWholeExtents) {
  std::string name = internal("$ZSWAP", "SWAPS", "NEWONE");
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 99, 101, name.c_str()), 0);
  EXPECT_EQ(capacity_of(name), 100 * 2048);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 100 * 2048);
  EXPECT_TRUE(std::filesystem::exists(zeb::testing::SwapVolumeHost::root() + "/swaps/newone"));
}

TEST_F(AllocateSegment, BlankVolumeIsTheSwapVolume) {
  std::string name = internal("", "SWAPS", "NOVOL");
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 4, 101, name.c_str()), 0);
  EXPECT_EQ(capacity_of(internal("$ZSWAP", "SWAPS", "NOVOL")), 64 * 2048);
  // FILE^EXISTS fills the volume in place.
  std::string probe = internal("", "SWAPS", "NOVOL");
  EXPECT_EQ(zeb::FILE_EXISTS(probe.data(), 4), 0);
  EXPECT_EQ(probe.substr(0, 8), "$ZSWAP  ");
  EXPECT_EQ(zeb::FILE_EXISTS(probe.data(), 65), 1);
}

TEST_F(AllocateSegment, FileExistsVerdicts) {
  std::string volume_only = internal("", "", "");
  EXPECT_EQ(zeb::FILE_EXISTS(volume_only.data(), 1), err::kNotFound);
  EXPECT_EQ(volume_only, internal("$ZSWAP", "", ""));
  std::string missing = internal("$ZSWAP", "SWAPS", "ABSENT");
  EXPECT_EQ(zeb::FILE_EXISTS(missing.data(), 1), err::kNotFound);
  std::string bad_volume = internal("$NOSUCH", "SWAPS", "ABSENT");
  int16_t v = zeb::FILE_EXISTS(bad_volume.data(), 1);
  EXPECT_NE(v, 0);
  EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), nullptr, 1, 101, bad_volume.c_str()), v);
}

TEST_F(AllocateSegment, SwapFileThatCannotBeMadeIsTheFileSystemsError) {
  // Not 317: a full volume and the file-size limit are told as they are, at
  // the creation of the swap file, and no segment is mapped.
  struct Case {
    const char* name;
    long long limit;
    int fallocate_errno;
    int16_t error;
  } cases[] = {
      {"volume full", -1, ENOSPC, err::kNoDiscSpace},
      {"file-size limit", 504 * 2048 - 1, 0, err::kFileFull},
      {"just within the limit", 504 * 2048, 0, 0},
  };
  for (const Case& k : cases) {
    zeb::platform::SyscallOverride scope;
    long long limit = k.limit;
    int e = k.fallocate_errno;
    zeb::platform::syscalls().file_size_limit = [limit] { return limit; };
    if (e != 0) {
      zeb::platform::syscalls().fallocate = [e](int, long long, long long) {
        errno = e;
        return -1;
      };
    }
    EXPECT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({})), k.error) << k.name;
    EXPECT_EQ(zeb::platform::segment_in_use(), k.error == 0 ? 101 : -1) << k.name;
    DEALLOCATESEGMENT(zeb::mask({1}), 101);
  }
}

TEST_F(AllocateSegment, SwapVolumeIsNamedInExternalForm) {
  char volume[16];
  int16_t length = 0;
  ASSERT_EQ(UTIL_MYSWAPVOLUME(volume, sizeof volume, &length), 0);
  EXPECT_EQ(std::string(volume, static_cast<size_t>(length)), "$ZSWAP");
  EXPECT_EQ(UTIL_MYSWAPVOLUME(volume, 3, &length), err::kInvalidOperation);
}

}  // namespace
