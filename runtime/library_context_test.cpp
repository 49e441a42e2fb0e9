// Tests of the library context: where it lies, how its offsets resolve, and
// the library segment's layout with the pool and timer list behind it.
#include <zeb/env/context.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <zeb/containers/pool.h>
#include <zeb/containers/timer.h>
#include <zeb/platform/segment.h>
#include <zeb/runtime/library_segment.h>
#include "platform/host/host.h"
#include "platform/testing/testing.h"

namespace {

const auto* const kSwapVolumeHost =
    ::testing::AddGlobalTestEnvironment(new zeb::testing::SwapVolumeHost);

class ContextTest : public zeb::testing::SwapSegmentTest {
 protected:
  ContextTest() : SwapSegmentTest({7, 101}) {}
};

TEST_F(ContextTest, NoContextBeforeTheSegmentExists) {
  EXPECT_EQ(zeb::library_context(), nullptr);
  EXPECT_EQ(zeb::library_pool(), nullptr);
  EXPECT_EQ(zeb::library_flags(), 0);
  EXPECT_NE(zeb::library_base(), nullptr);
}

TEST_F(ContextTest, ContextLiesAtTheBaseOfSegment101Only) {
  void* base = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, 4, 7), 0);
  EXPECT_EQ(zeb::library_context(), nullptr) << "another segment is in use";
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, 4, 101), 0);
  ASSERT_EQ(USESEGMENT(zeb::mask({1}), 101), 7);
  EXPECT_EQ(base, zeb::library_base());
  EXPECT_EQ(static_cast<void*>(zeb::library_context()), base);
  USESEGMENT(zeb::mask({1}), 7);
  EXPECT_EQ(zeb::library_context(), nullptr);
}

TEST_F(ContextTest, StartUpLayoutOver1000Pages) {
  void* base = nullptr;
  ASSERT_EQ(UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, 1000, zeb::kLibrarySegmentId), 0);
  ASSERT_EQ(base, zeb::library_base());
  USESEGMENT(zeb::mask({1}), zeb::kLibrarySegmentId);
  LibraryContext* ctx = zeb::library_context();
  ASSERT_NE(ctx, nullptr);

  char* pool = static_cast<char*>(base) + zeb::kLibraryPoolOffset;
  const int32_t pool_size = 1000 * zeb::kPageBytes - zeb::kLibraryPoolOffset;
  EXPECT_EQ(pool_size, 2047976);
  ASSERT_EQ(MEM_DEFINEPOOL(pool, pool_size), 0);
  ctx->pool = zeb::to_segment_offset(pool);
  EXPECT_EQ(ctx->pool, 24u);
  EXPECT_EQ(zeb::library_pool(), pool);

  void* timers = nullptr;
  ASSERT_EQ(TIMER_INIT(&timers, zeb::library_pool()), 0);
  ctx->timers = zeb::to_segment_offset(timers);
  EXPECT_EQ(zeb::library_timers(), timers);
  EXPECT_EQ(ctx->timers, 24u + 96 + 8) << "the first buffer of the pool";
  ctx->flags = 0x29;
  EXPECT_EQ(zeb::library_flags(), 0x29);
  EXPECT_EQ(zeb::library_env(), nullptr) << "not set yet";
  EXPECT_EQ(zeb::library_term(), nullptr);

  // The whole pool can be carved inside the segment.
  void* b = nullptr;
  int32_t left = reinterpret_cast<PoolHeader*>(pool)->unextended;
  EXPECT_EQ(left, 2047872 - 56);
  ASSERT_EQ(MEM_ALLOC(pool, &b, left - 8), 0);
  static_cast<char*>(b)[left - 9] = 1;
  EXPECT_EQ(zeb::to_segment_offset(nullptr), 0u);
  EXPECT_EQ(zeb::from_segment_offset(0), nullptr);
}

}  // namespace
