// Tests of extended data segments: the fixed base, sharing with the swap
// file, switching segments, and the checks of ALLOCATESEGMENT.
#include <zeb/platform/segment.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

namespace err = zeb::err;

// A new temporary swap file of bytes length on the swap volume; returns its
// 24-byte internal name.
std::string temp_swap_file(int32_t pages) {
  std::string name(24, ' ');
  std::string volume = zeb::platform::swap_volume();
  EXPECT_FALSE(volume.empty());
  std::memcpy(name.data(), volume.data(), volume.size() < 8 ? volume.size() : 8);
  EXPECT_EQ(CREATE(zeb::mask({1, 2, 4, 11}), name.data(), pages, 0, pages, 0, 0, 0, 0, 0, 0, 1), 0);
  EXPECT_NE(name.substr(8), std::string(16, ' ')) << "the temporary file's name comes back";
  return name;
}

// The n bytes at offset of the internal file named internal.
std::string bytes_at(const std::string& internal, long long offset, size_t n) {
  zeb::platform::Result<int> opened = zeb::platform::open_internal_for_mapping(internal.c_str());
  int fd = opened.ok() ? *opened : -1;
  EXPECT_GE(fd, 0) << opened.code();
  std::string out(n, '\0');
  EXPECT_EQ(zeb::platform::syscalls().pread(fd, out.data(), n, offset), static_cast<long>(n));
  zeb::platform::syscalls().close(fd);
  return out;
}

class SegmentTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int16_t id : {1, 2, 101}) DEALLOCATESEGMENT(zeb::mask({1}), id);
  }
};

TEST_F(SegmentTest, BaseIsFixedForTheProcess) {
  char* base = zeb::platform::segment_base();
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(zeb::platform::segment_base(), base);
  // The preferred address is free in an ordinary process.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(base), zeb::kPreferredSegmentBase);
}

TEST_F(SegmentTest, FirstSegmentIsInUseAndSharedWithItsSwapFile) {
  std::string swap = temp_swap_file(4);
  ASSERT_EQ(zeb::platform::segment_in_use(), -1);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 101, 8192, swap.c_str(), 0x5800), 0);
  EXPECT_EQ(zeb::platform::segment_in_use(), 101);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 8192);
  char* base = zeb::platform::segment_base();
  std::memcpy(base, "context", 7);
  std::memcpy(base + 8191, "z", 1);
  EXPECT_EQ(bytes_at(swap, 0, 7), "context");
  EXPECT_EQ(bytes_at(swap, 8191, 1), "z");
}

TEST_F(SegmentTest, SwitchingSegmentsKeepsEachOnesContents) {
  std::string one = temp_swap_file(1), two = temp_swap_file(2);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 2048, one.c_str(), 0), 0);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 2, 4096, two.c_str(), 0), 0);
  char* base = zeb::platform::segment_base();
  EXPECT_EQ(zeb::platform::segment_in_use(), 1) << "a later segment waits for USESEGMENT";
  std::strcpy(base, "first");
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 2), 1);
  EXPECT_EQ(zeb::platform::segment_in_use_size(), 4096);
  EXPECT_EQ(base[0], '\0');
  std::strcpy(base + 4000, "second");
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 1), 2);
  EXPECT_STREQ(base, "first");
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 2), 1);
  EXPECT_STREQ(base + 4000, "second");
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 2), 2) << "already in use";
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 77), -2);
  EXPECT_EQ(USESEGMENT(0, 1), -2);
  EXPECT_EQ(zeb::platform::segment_in_use(), 2);
  ASSERT_EQ(DEALLOCATESEGMENT(zeb::mask({1}), 2), 0);
  EXPECT_EQ(zeb::platform::segment_in_use(), -1);
  EXPECT_EQ(DEALLOCATESEGMENT(zeb::mask({1}), 2), err::kOutOfBounds);
}

TEST_F(SegmentTest, SmallerSwapFileIsExtendedToTheSegment) {
  std::string swap = temp_swap_file(1);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 6144, swap.c_str(), 0), 0);
  int32_t capacity = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({3, 18}), 0, nullptr, swap.data(), nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &capacity),
            0);
  EXPECT_EQ(capacity, 6144);
  zeb::platform::segment_base()[6143] = 'x';
}

TEST_F(SegmentTest, RefusesBadRequests) {
  std::string swap = temp_swap_file(1);
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3}), 1, 2048), err::kMissingParameter);
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4, 5}), 1, 2048, swap.c_str()),
            err::kInvalidOperation);
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 0, swap.c_str()), err::kOutOfBounds);
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), -1, 2048, swap.c_str()), err::kOutOfBounds);
  std::string missing = swap.substr(0, 8) + "NOSUCHSVNOSUCHF1";
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 2048, missing.c_str()), err::kNotFound);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 2048, swap.c_str()), 0);
  EXPECT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3, 4}), 1, 2048, swap.c_str()), err::kFileInUse);
  EXPECT_EQ(zeb::platform::segment_in_use(), 1);
}

}  // namespace

// The segments belong to the host: a host that goes gives its segment's
// range back to the process's reservation and its ids back, so the next
// host maps its own segment at the same base, and the host before it finds
// its segments as it left them.
TEST_F(SegmentTest, AHostThatGoesLeavesTheBaseToTheNext) {
  std::string outer_swap = temp_swap_file(2);
  ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3}), 1, 4096, outer_swap.c_str()), 0);
  char* base = zeb::platform::segment_base();
  std::memcpy(base, "outer", 5);
  for (const char* text : {"first", "second"}) {
    SCOPED_TRACE(text);
    zeb::platform::ScopedHost scope(zeb::platform::host().config());
    EXPECT_EQ(zeb::platform::segment_in_use(), -1);
    std::string swap = temp_swap_file(2);
    ASSERT_EQ(ALLOCATESEGMENT(zeb::mask({1, 2, 3}), 1, 8192, swap.c_str()), 0);
    EXPECT_EQ(zeb::platform::segment_base(), base);
    EXPECT_EQ(zeb::platform::segment_in_use_size(), 8192);
    std::memcpy(base + 4096, text, 6);
    EXPECT_EQ(bytes_at(swap, 4096, 6), std::string(text, 6));
  }
  // The outer host's segment is its own again once the base holds it.
  EXPECT_EQ(zeb::platform::segment_in_use(), 1);
  EXPECT_EQ(std::string(base, 5), "outer");
  EXPECT_EQ(USESEGMENT(zeb::mask({1}), 1), 1);
  EXPECT_EQ(bytes_at(outer_swap, 0, 5), "outer");
}
