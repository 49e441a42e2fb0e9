// Tests of the memory pool: block sizes, split versus whole allocation,
// joins and release, statistics, failures and tag checks, and a seeded
// property test that walks the whole pool after every step.
#include <zeb/containers/pool.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include "containers/pool_walk.h"

namespace {

namespace err = zeb::err;

// An 8-aligned area with a pool over it.
class Area {
 public:
  explicit Area(int32_t size) : words_((static_cast<size_t>(size) + 7) / 8 + 1), size_(size) {}
  void* data() { return words_.data(); }
  char* bytes() { return reinterpret_cast<char*>(words_.data()); }
  int32_t size() const { return size_; }
  PoolHeader* header() { return reinterpret_cast<PoolHeader*>(words_.data()); }

 private:
  std::vector<uint64_t> words_;
  int32_t size_;
};

// Declares `area_name`, an area of `size` bytes, and `pool_name`, a pool
// defined over it; the test stops if the pool is refused.
#define DEFINE_POOL(area_name, pool_name, size) \
  Area area_name(size);                         \
  void* pool_name = area_name.data();           \
  ASSERT_EQ(MEM_DEFINEPOOL(pool_name, size), 0)

int32_t i32_at(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void set_i32_at(char* p, int32_t v) { std::memcpy(p, &v, sizeof v); }

void* alloc(void* pool, int32_t size) {
  void* b = nullptr;
  EXPECT_EQ(MEM_ALLOC(pool, &b, size), 0) << "size " << size;
  return b;
}

// Allocates N buffers of `size` bytes, one after the other.
template <size_t N>
std::array<void*, N> alloc_each(void* pool, int32_t size) {
  std::array<void*, N> buffers{};
  for (void*& b : buffers) b = alloc(pool, size);
  return buffers;
}

int32_t buflen(const void* b) {
  int32_t len = -1;
  EXPECT_EQ(MEM_BUFFERLEN(b, &len), 0);
  return len;
}

PoolStats stats(void* pool) {
  PoolStats s{};
  EXPECT_EQ(MEM_STATS(zeb::mask({1, 2}), pool, &s), 0);
  return s;
}

// Walks the pool and checks every invariant of its layout. Returns the
// number of free blocks.
int check_pool(Area& area) {
  char* p = area.bytes();
  const PoolHeader* h = area.header();
  const uint32_t extent = h->extent;
  EXPECT_EQ(h->used, static_cast<int32_t>(extent) - 96) << "used is the carved size";
  EXPECT_GE(h->maxused, h->used);
  EXPECT_EQ(h->unextended % 8, 0);
  EXPECT_LE(static_cast<int64_t>(extent) + h->unextended + 8, area.size())
      << "the end block stays inside the area";

  std::set<uint32_t> free_blocks;
  int32_t expect_prev = 0;
  bool prev_free = false;
  uint32_t b = 96;
  while (b < extent) {
    int32_t prev = i32_at(p + b), size = i32_at(p + b + 4);
    EXPECT_EQ(prev, expect_prev) << "tag pair at block " << b;
    EXPECT_NE(size, 0) << "end block before the extent at " << b;
    if (size == 0) return -1;
    int32_t bs = size < 0 ? -size : size;
    EXPECT_EQ(bs % 8, 0) << "block " << b;
    EXPECT_GE(bs, 16) << "block " << b;
    if (size > 0) {
      EXPECT_FALSE(prev_free) << "two free blocks adjacent at " << b;
      free_blocks.insert(b);
    }
    prev_free = size > 0;
    expect_prev = size;
    b += static_cast<uint32_t>(bs);
  }
  EXPECT_EQ(b, extent) << "blocks end exactly at the end block";
  EXPECT_FALSE(prev_free) << "a free block precedes the end block";
  EXPECT_EQ(i32_at(p + extent), expect_prev) << "end block's previous tag";
  EXPECT_EQ(i32_at(p + extent + 4), 0) << "end block's size tag";

  // The free list holds exactly the free blocks, linked both ways.
  std::set<uint32_t> listed;
  uint32_t back = 0;
  uint32_t f = h->free_fwd;
  size_t guard = 0;
  while (f != 0 && guard++ <= free_blocks.size()) {
    EXPECT_TRUE(free_blocks.count(f)) << "listed block " << f << " is not free";
    EXPECT_EQ(static_cast<uint32_t>(i32_at(p + f + 12)), back) << "backward link of " << f;
    listed.insert(f);
    back = f;
    f = static_cast<uint32_t>(i32_at(p + f + 8));
  }
  EXPECT_EQ(f, 0u) << "free list does not come back to the header";
  EXPECT_EQ(h->free_bwd, back);
  EXPECT_EQ(listed, free_blocks);
  return static_cast<int>(free_blocks.size());
}

// ---- Defining a pool ------------------------------------------------------

TEST(PoolDefine, RefusesAreasBelow128Bytes) {
  Area area(256);
  std::memset(area.data(), 0x5A, 256);
  EXPECT_EQ(MEM_DEFINEPOOL(area.data(), 127), err::kBadPoolSize);
  EXPECT_EQ(static_cast<unsigned char>(area.bytes()[0]), 0x5A) << "nothing written";
  EXPECT_EQ(MEM_DEFINEPOOL(area.data(), 0), err::kBadPoolSize);
  EXPECT_EQ(MEM_DEFINEPOOL(area.data(), -5), err::kBadPoolSize);
}

TEST(PoolDefine, CountKeepsRoomForTheEndBlock) {
  // 128 bytes leave 32 behind the header, but carving all 32 would put the
  // end block outside the area: 8 bytes are kept back.
  Area small(128);
  ASSERT_EQ(MEM_DEFINEPOOL(small.data(), 128), 0);
  EXPECT_EQ(small.header()->unextended, 24);
  EXPECT_EQ(small.header()->extent, 96u);
  EXPECT_EQ(small.header()->free_fwd, 0u);
  EXPECT_EQ(small.header()->free_bwd, 0u);
  void* b = nullptr;
  EXPECT_EQ(MEM_ALLOC(small.data(), &b, 16), 0);  // a 24-byte block: all of it
  EXPECT_EQ(small.header()->extent + 8, 128u);
  check_pool(small);

  // The library's pool over 1000 pages: 8 bytes already lie behind the
  // rounded count, so nothing is kept back.
  Area big(2047976);
  ASSERT_EQ(MEM_DEFINEPOOL(big.data(), 2047976), 0);
  EXPECT_EQ(big.header()->unextended, 2047872);
  Area odd(96 + 40);
  ASSERT_EQ(MEM_DEFINEPOOL(odd.data(), 96 + 40), 0);
  EXPECT_EQ(odd.header()->unextended, 32);
}

TEST(PoolDefine, RedefiningForgetsEveryBuffer) {
  Area area(4096);
  ASSERT_EQ(MEM_DEFINEPOOL(area.data(), 4096), 0);
  alloc(area.data(), 100);
  alloc(area.data(), 100);
  ASSERT_EQ(MEM_DEFINEPOOL(area.data(), 4096), 0);
  PoolStats s = stats(area.data());
  EXPECT_EQ(s.used, 0);
  EXPECT_EQ(s.alloc_requests, 0);
  EXPECT_EQ(check_pool(area), 0);
}

// ---- Allocation sizes -------------------------------------------------------

TEST(PoolAlloc, BlockSizesRoundUpToEightWithAMinimumOf16) {
  Area area(8192);
  ASSERT_EQ(MEM_DEFINEPOOL(area.data(), 8192), 0);
  struct Case {
    int32_t request, length;
  };
  for (Case c : {Case{0, 8}, Case{1, 8}, Case{8, 8}, Case{-1, 8}, Case{-100000, 8}, Case{9, 16},
                 Case{16, 16}, Case{17, 24}, Case{100, 104}}) {
    void* b = alloc(area.data(), c.request);
    EXPECT_EQ(buflen(b), c.length) << "request " << c.request;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 8, 0u);
  }
  // Blocks follow each other: 16 * 5 + 24 + 24 + 32 + 112.
  EXPECT_EQ(stats(area.data()).used, 16 * 5 + 24 + 24 + 32 + 112);
  check_pool(area);
}

TEST(PoolAlloc, FreeBlockWithinThresholdIsTakenWhole) {
  DEFINE_POOL(area, pool, 8192);
  void* a = alloc(pool, 104);  // a 112-byte block
  void* keep = alloc(pool, 8);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  void* b = alloc(pool, 40);  // 48-byte block: 48 + 64 is not less than 112
  EXPECT_EQ(b, a);
  EXPECT_EQ(buflen(b), 104);
  PoolStats s = stats(pool);
  EXPECT_EQ(s.whole_allocs, 1);
  EXPECT_EQ(s.splits, 0);
  EXPECT_EQ(check_pool(area), 0);
  (void)keep;
}

TEST(PoolAlloc, LargerFreeBlockIsSplitFromTheTop) {
  DEFINE_POOL(area, pool, 8192);
  void* a = alloc(pool, 112);  // a 120-byte block
  alloc(pool, 8);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  void* b = alloc(pool, 40);
  EXPECT_EQ(static_cast<char*>(b), static_cast<char*>(a) + 72) << "top 48 bytes";
  EXPECT_EQ(buflen(b), 40);
  // 72 bytes stay free at the same place.
  const char* block = static_cast<char*>(a) - 8;
  EXPECT_EQ(i32_at(block + 4), 72);
  EXPECT_EQ(area.header()->free_fwd, static_cast<uint32_t>(block - area.bytes()));
  PoolStats s = stats(pool);
  EXPECT_EQ(s.splits, 1);
  EXPECT_EQ(s.whole_allocs, 0);
  EXPECT_EQ(check_pool(area), 1);
}

TEST(PoolAlloc, FirstFitTakesTheFirstListedBlockThatIsLargeEnough) {
  DEFINE_POOL(area, pool, 8192);
  void* small = alloc(pool, 16);
  alloc(pool, 8);
  void* big = alloc(pool, 64);
  alloc(pool, 8);
  ASSERT_EQ(MEM_FREE(pool, big), 0);
  ASSERT_EQ(MEM_FREE(pool, small), 0);  // now first on the list, too small
  void* b = alloc(pool, 48);
  EXPECT_EQ(b, big);
  check_pool(area);
}

// ---- Release and joins ------------------------------------------------------

TEST(PoolFree, JoinsWithFreeNeighboursAndReleasesTheTail) {
  DEFINE_POOL(area, pool, 8192);
  auto [a, b, c] = alloc_each<3>(pool, 40);
  ASSERT_EQ(MEM_FREE(pool, b), 0);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  PoolStats s = stats(pool);
  EXPECT_EQ(s.joins, 1);
  ASSERT_EQ(check_pool(area), 1);
  EXPECT_EQ(i32_at(static_cast<char*>(a) - 4), 96) << "A+B at A's place";
  ASSERT_EQ(MEM_FREE(pool, c), 0);
  s = stats(pool);
  EXPECT_EQ(s.joins, 2);
  EXPECT_EQ(s.releases, 1);
  EXPECT_EQ(s.used, 0);
  EXPECT_EQ(s.maxused, 144) << "maxused is not lowered";
  EXPECT_EQ(area.header()->free_fwd, 0u);
  EXPECT_EQ(check_pool(area), 0);
}

TEST(PoolFree, OnlyBlockIsReleasedWithoutJoin) {
  DEFINE_POOL(area, pool, 1024);
  int32_t before = area.header()->unextended;
  ASSERT_EQ(MEM_FREE(pool, alloc(pool, 100)), 0);
  PoolStats s = stats(pool);
  EXPECT_EQ(s.used, 0);
  EXPECT_EQ(s.releases, 1);
  EXPECT_EQ(s.joins, 0);
  EXPECT_EQ(area.header()->unextended, before);
  EXPECT_EQ(area.header()->extent, 96u);
}

TEST(PoolFree, JoinWithBothNeighboursCountsTwo) {
  DEFINE_POOL(area, pool, 8192);
  auto [a, b, c] = alloc_each<3>(pool, 40);
  alloc(pool, 40);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  ASSERT_EQ(MEM_FREE(pool, c), 0);
  ASSERT_EQ(check_pool(area), 2);
  ASSERT_EQ(MEM_FREE(pool, b), 0);
  EXPECT_EQ(stats(pool).joins, 2);
  ASSERT_EQ(check_pool(area), 1);
  EXPECT_EQ(i32_at(static_cast<char*>(a) - 4), 144);
}

// ---- Statistics -------------------------------------------------------------

TEST(PoolStatsTest, ResetKeepsTheCarvedSizeAndRestartsTheClock) {
  zeb::platform::clock_freeze();
  DEFINE_POOL(area, pool, 8192);
  void* a = alloc(pool, 100);
  alloc(pool, 100);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  void* fail = nullptr;
  EXPECT_EQ(MEM_ALLOC(pool, &fail, 100000), err::kPoolExhausted);
  zeb::platform::clock_advance(250);
  PoolStats s{};
  // Filled first, then reset, in one call.
  ASSERT_EQ(MEM_STATS(zeb::mask({1, 2, 3}), pool, &s, 1), 0);
  EXPECT_EQ(s.elapsed, 250);
  EXPECT_EQ(s.alloc_requests, 3);
  EXPECT_EQ(s.free_requests, 1);
  EXPECT_EQ(s.extends, 2);
  EXPECT_EQ(s.failsize, 100008);
  s = stats(pool);
  EXPECT_EQ(s.elapsed, 0);
  EXPECT_EQ(s.alloc_requests, 0);
  EXPECT_EQ(s.free_requests, 0);
  EXPECT_EQ(s.extends, 0);
  EXPECT_EQ(s.used, 224) << "reset keeps the carved size";
  EXPECT_EQ(s.maxused, 224);
  EXPECT_EQ(s.failsize, 0);
  // Reset with a zero flag, and a statistics call without the record, do
  // nothing.
  ASSERT_EQ(MEM_STATS(zeb::mask({1, 3}), pool, nullptr, 0), 0);
  zeb::platform::clock_advance(7);
  EXPECT_EQ(stats(pool).elapsed, 7);
  zeb::platform::clock_release();
}

TEST(PoolStatsTest, ChecksItsMask) {
  Area area(1024);
  ASSERT_EQ(MEM_DEFINEPOOL(area.data(), 1024), 0);
  PoolStats s{};
  EXPECT_EQ(MEM_STATS(zeb::mask({1, 2, 3, 4}), area.data(), &s, 0), err::kInvalidOperation);
  EXPECT_EQ(MEM_STATS(zeb::mask({2}), nullptr, &s), err::kMissingParameter);
}

// ---- Failures ---------------------------------------------------------------

TEST(PoolFail, FailedAllocationKeepsItsBlockSizeAndChangesNothingElse) {
  DEFINE_POOL(area, pool, 1024);
  void* a = alloc(pool, 500);
  PoolHeader before = *area.header();
  void* b = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(MEM_ALLOC(pool, &b, 500), err::kPoolExhausted);
  EXPECT_EQ(b, reinterpret_cast<void*>(0x1234)) << "buffer not written";
  PoolStats s = stats(pool);
  EXPECT_EQ(s.failsize, 512);
  EXPECT_EQ(s.alloc_requests, 2);
  EXPECT_EQ(s.alloc_requests - (s.whole_allocs + s.splits + s.extends), 1);
  EXPECT_EQ(area.header()->extent, before.extent);
  EXPECT_EQ(area.header()->unextended, before.unextended);
  check_pool(area);
  (void)a;
}

TEST(PoolFail, HugeRequestsFailWithoutOverflow) {
  DEFINE_POOL(area, pool, 1024);
  void* b = nullptr;
  for (int32_t size : {INT32_MAX, INT32_MAX - 8, INT32_MAX - 14, 0x7FFFFFF0, 1 << 30}) {
    EXPECT_EQ(MEM_ALLOC(pool, &b, size), err::kPoolExhausted) << size;
    EXPECT_GT(stats(pool).failsize, 0);
  }
  EXPECT_EQ(stats(pool).failsize, (1 << 30) + 8);
  EXPECT_EQ(MEM_ALLOC(pool, &b, INT32_MAX), err::kPoolExhausted);
  EXPECT_EQ(stats(pool).failsize, 0x7FFFFFF8);
  EXPECT_EQ(check_pool(area), 0);
}

TEST(PoolFail, SpaceComesBackAfterAFailure) {
  DEFINE_POOL(area, pool, 512);
  std::vector<void*> live;
  void* b = nullptr;
  while (MEM_ALLOC(pool, &b, 24) == 0) live.push_back(b);
  EXPECT_EQ(live.size(), static_cast<size_t>(area.header()->used / 32));
  for (void* x : live) ASSERT_EQ(MEM_FREE(pool, x), 0);
  EXPECT_EQ(check_pool(area), 0);
  EXPECT_EQ(stats(pool).used, 0);
}

// ---- Tag checks -------------------------------------------------------------

TEST(PoolTags, OverwrittenEndTagIsRefusedAndChangesNoLink) {
  DEFINE_POOL(area, pool, 4096);
  auto [a, b, c] = alloc_each<3>(pool, 40);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  // Run past the end of B into C's header.
  std::memset(b, 0x41, 48 + 4);
  std::vector<char> before(area.bytes(), area.bytes() + 4096);
  EXPECT_EQ(MEM_FREE(pool, b), err::kPoolTags);
  int32_t len = 0;
  EXPECT_EQ(MEM_BUFFERLEN(b, &len), err::kPoolTags);
  PoolStats s = stats(pool);
  EXPECT_EQ(s.free_requests, 2) << "a refused free still counts";
  EXPECT_EQ(s.joins, 0);
  // Only the free-request counter changed.
  std::vector<char> after(area.bytes(), area.bytes() + 4096);
  std::memcpy(after.data() + offsetof(PoolHeader, free_requests),
              before.data() + offsetof(PoolHeader, free_requests), 8);
  EXPECT_EQ(before, after);
  (void)c;
}

TEST(PoolTags, BufferLengthRefusesFreeAndEndBlocks) {
  DEFINE_POOL(area, pool, 4096);
  void* a = alloc(pool, 40);
  void* b = alloc(pool, 40);
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  int32_t len = 77;
  EXPECT_EQ(MEM_BUFFERLEN(a, &len), err::kNotPoolBuffer) << "free block";
  EXPECT_EQ(MEM_BUFFERLEN(static_cast<char*>(b) + 48, &len), err::kNotPoolBuffer) << "end block";
  EXPECT_EQ(len, 77);
}

TEST(PoolTags, DoubleFreeIsRefusedInEveryShape) {
  DEFINE_POOL(area, pool, 4096);
  auto [a, b, c, d] = alloc_each<4>(pool, 40);
  alloc(pool, 40);
  // Free and listed: its size tag is positive.
  ASSERT_EQ(MEM_FREE(pool, b), 0);
  EXPECT_EQ(MEM_FREE(pool, b), err::kNotPoolBuffer);
  // Merged into a free predecessor: its stale header disagrees.
  ASSERT_EQ(MEM_FREE(pool, c), 0);
  EXPECT_EQ(MEM_FREE(pool, c), err::kPoolTags);
  // Merged into its predecessor while absorbing a free successor: the stale
  // tag pair still agrees, but the predecessor does not.
  ASSERT_EQ(MEM_FREE(pool, a), 0);
  ASSERT_EQ(check_pool(area), 1);
  EXPECT_NE(MEM_FREE(pool, c), 0);
  EXPECT_NE(MEM_FREE(pool, b), 0);
  // Released into the uncarved region.
  void* last = alloc(pool, 2000);
  ASSERT_EQ(MEM_FREE(pool, last), 0);
  EXPECT_EQ(MEM_FREE(pool, last), err::kNotPoolBuffer);
  // Not a buffer of this pool at all.
  int local = 0;
  EXPECT_EQ(MEM_FREE(pool, &local), err::kNotPoolBuffer);
  EXPECT_EQ(MEM_FREE(pool, static_cast<char*>(d) + 4), err::kNotPoolBuffer);
  EXPECT_EQ(MEM_FREE(pool, nullptr), err::kNotPoolBuffer);
  check_pool(area);
}

// ---- Property test ----------------------------------------------------------

struct Live {
  int32_t size;
  unsigned char fill;
};

void fill(void* b, const Live& l) { std::memset(b, l.fill, static_cast<size_t>(l.size)); }

bool intact(const void* b, const Live& l) {
  const auto* p = static_cast<const unsigned char*>(b);
  for (int32_t i = 0; i < l.size; ++i) {
    if (p[i] != l.fill) return false;
  }
  return true;
}

class PoolProperty : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PoolProperty, RandomSequencesKeepEveryInvariant) {
  const int32_t kSize = 64 * 1024 + 40;
  DEFINE_POOL(area, pool, kSize);
  std::mt19937 rng(GetParam());
  std::map<void*, Live> live;
  std::vector<void*> dead;  // freed addresses not reused since
  int64_t allocs = 0, frees = 0;
  for (int step = 0; step < 3000; ++step) {
    int action = static_cast<int>(rng() % 100);
    if (action < 55 || live.empty()) {
      int32_t size;
      switch (rng() % 4) {
        case 0:
          size = static_cast<int32_t>(rng() % 9);
          break;
        case 1:
          size = static_cast<int32_t>(rng() % 128);
          break;
        case 2:
          size = static_cast<int32_t>(rng() % 1024);
          break;
        default:
          size = static_cast<int32_t>(rng() % 8192);
          break;
      }
      void* b = nullptr;
      ++allocs;
      int16_t e = MEM_ALLOC(pool, &b, size);
      if (e == 0) {
        ASSERT_EQ(live.count(b), 0u);
        int32_t len = 0;
        ASSERT_EQ(MEM_BUFFERLEN(b, &len), 0);
        ASSERT_GE(len, size);
        ASSERT_LE(len, (size < 8 ? 8 : size) + 7 + 64);
        Live l{size, static_cast<unsigned char>(rng() | 0x80)};
        fill(b, l);
        live[b] = l;
        std::erase(dead, b);
      } else {
        ASSERT_EQ(e, err::kPoolExhausted);
      }
    } else if (action < 92) {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      ++frees;
      ASSERT_EQ(MEM_FREE(pool, it->first), 0);
      dead.push_back(it->first);
      live.erase(it);
    } else if (action < 97 && !dead.empty()) {
      // Freeing a stale address again is refused and changes nothing.
      void* b = dead[rng() % dead.size()];
      if (live.count(b) == 0) {
        ++frees;
        bool inside_live = false;
        for (auto& [addr, l] : live) {
          char* lo = static_cast<char*>(addr) - 8;
          char* hi = static_cast<char*>(addr) + l.size + 64 + 8;
          if (static_cast<char*>(b) >= lo && static_cast<char*>(b) < hi) inside_live = true;
        }
        int16_t e = MEM_FREE(pool, b);
        if (!inside_live) {
          ASSERT_TRUE(e == err::kNotPoolBuffer || e == err::kPoolTags) << e;
        }
        ASSERT_NE(e, 0) << "a stale address was accepted";
      }
    } else if (!live.empty()) {
      // Overwrite the end tag of a live buffer: its free is refused; mend it.
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      int32_t len = 0;
      ASSERT_EQ(MEM_BUFFERLEN(it->first, &len), 0);
      char* tag = static_cast<char*>(it->first) + len;
      int32_t saved = i32_at(tag);
      set_i32_at(tag, saved + 8);
      ++frees;
      ASSERT_EQ(MEM_FREE(pool, it->first), err::kPoolTags);
      set_i32_at(tag, saved);
    }
    ASSERT_GE(check_pool(area), 0) << "step " << step;
    if (HasFailure()) FAIL() << "invariant broken at step " << step;
    for (auto& [b, l] : live) ASSERT_TRUE(intact(b, l)) << "contents lost at step " << step;
  }
  PoolStats s = stats(pool);
  EXPECT_EQ(s.alloc_requests, allocs);
  EXPECT_EQ(s.free_requests, frees);
  // Free everything: the pool is empty again.
  for (auto& [b, l] : live) ASSERT_EQ(MEM_FREE(pool, b), 0);
  EXPECT_EQ(check_pool(area), 0);
  EXPECT_EQ(stats(pool).used, 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, PoolProperty, ::testing::Values(1u, 2u, 3u, 42u, 1974u, 65535u));

// ---- Placement against a walk of the free list ---------------------------

// A million random requests and frees, with sizes drawn so that blocks too
// small for the index, blocks taken whole and blocks split all occur, and
// the pool now and then runs full: the pool chooses the same address as a
// walk of the list every time, and ends with the same blocks.
TEST(PoolPlacement, IndexedSearchChoosesWhatTheListWalkChooses) {
  const int32_t kSize = 1 << 20;
  Area area(kSize), ref_area(kSize);
  void* pool = area.data();
  ASSERT_EQ(MEM_DEFINEPOOL(pool, kSize), 0);
  ASSERT_EQ(MEM_DEFINEPOOL(ref_area.data(), kSize), 0);
  zeb::testing::WalkPool ref{ref_area.bytes()};
  std::mt19937 rng(20);
  std::vector<uint32_t> live;
  int64_t fails = 0, indexed_steps = 0;
  for (int step = 0; step < 1'000'000; ++step) {
    // The top bit of the reserved word: the search runs on its index.
    if ((static_cast<uint32_t>(area.header()->reserved) & 0x80000000u) != 0) ++indexed_steps;
    // Phases that grow and shrink the number of live blocks between a few
    // and a few thousand, so the free list is long at times.
    const uint32_t grow = (step / 50'000) % 2 == 0 ? 60 : 40;
    if (live.empty() || rng() % 100 < grow) {
      int32_t size;
      switch (rng() % 8) {
        case 0:
          size = static_cast<int32_t>(rng() % 17);  // 16- and 24-byte blocks
          break;
        case 1:
          size = 200 + static_cast<int32_t>(rng() % 2000);
          break;
        default:
          size = static_cast<int32_t>(rng() % 160);
          break;
      }
      void* b = nullptr;
      const int16_t e = MEM_ALLOC(pool, &b, size);
      const uint32_t want = ref.alloc(size);
      if (want == 0) {
        ASSERT_EQ(e, err::kPoolExhausted) << "step " << step;
        ++fails;
        continue;
      }
      ASSERT_EQ(e, 0) << "step " << step;
      ASSERT_EQ(static_cast<char*>(b) - area.bytes(), static_cast<ptrdiff_t>(want) + 8)
          << "step " << step << " size " << size;
      live.push_back(want);
    } else {
      const size_t i = rng() % live.size();
      const uint32_t block = live[i];
      live[i] = live.back();
      live.pop_back();
      ASSERT_EQ(MEM_FREE(pool, area.bytes() + block + 8), 0) << "step " << step;
      ref.free(block);
    }
  }
  PoolStats s = stats(pool);
  EXPECT_GT(s.splits, 10'000);
  EXPECT_GT(s.whole_allocs, 10'000);
  EXPECT_GT(s.joins, 10'000);
  EXPECT_GT(fails, 0) << "the pool never ran full";
  EXPECT_GT(indexed_steps, 100'000) << "the index was hardly used";
  EXPECT_GT(1'000'000 - indexed_steps, 100'000) << "the list walk was hardly used";
  // Same blocks and the same list, in the same order.
  EXPECT_EQ(area.header()->extent, ref_area.header()->extent);
  EXPECT_EQ(area.header()->unextended, ref_area.header()->unextended);
  for (uint32_t f = area.header()->free_fwd, g = ref_area.header()->free_fwd;;) {
    ASSERT_EQ(f, g);
    if (f == 0) break;
    ASSERT_EQ(i32_at(area.bytes() + f + 4), i32_at(ref_area.bytes() + g + 4));
    f = static_cast<uint32_t>(i32_at(area.bytes() + f + 8));
    g = static_cast<uint32_t>(i32_at(ref_area.bytes() + g + 8));
  }
  check_pool(area);
}

}  // namespace
