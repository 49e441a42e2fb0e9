// MEM_ALLOC / MEM_FREE against malloc / free, on a last-in-first-out
// pattern and on two random patterns. The first uses small sizes and runs
// with 64, 1,024 and 16,384 slots (about half of them hold a block at any
// time), so the ratios show how the cost grows with the number of blocks.
// The second holds a fixed number of live blocks (64, 512, 1,024) of sizes
// spread from 8 to 4,096 bytes: each step frees one and allocates another.
// Both random patterns also run on the plain walk of the free list
// (containers/pool_walk.h, the same placement without the index, the
// statistics or the checks), so the ratios show what the pool's index wins
// or costs.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <zeb/containers/pool.h>
#include "bench/ratio_reporter.h"
#include "containers/pool_walk.h"

namespace {

constexpr int32_t kPoolBytes = 16 * 1024 * 1024;

std::vector<uint64_t>& area() {
  static std::vector<uint64_t> a(kPoolBytes / 8);
  return a;
}

// Sizes of 8 to 256 bytes, the same sequence for both allocators.
std::vector<int32_t> small_sizes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<int32_t> out(n);
  for (auto& s : out) s = 8 + static_cast<int32_t>(rng() % 249);
  return out;
}

// LIFO: allocate a batch, then free it in reverse order.
void BM_PoolLifo(benchmark::State& state) {
  const size_t depth = static_cast<size_t>(state.range(0));
  void* pool = area().data();
  MEM_DEFINEPOOL(pool, kPoolBytes);
  std::vector<int32_t> sizes = small_sizes(depth, 1);
  std::vector<void*> held(depth);
  for (auto _ : state) {
    for (size_t i = 0; i < depth; ++i) {
      MEM_ALLOC(pool, &held[i], sizes[i]);
      *static_cast<char*>(held[i]) = 1;
    }
    for (size_t i = depth; i-- > 0;) MEM_FREE(pool, held[i]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * depth));
}

void BM_MallocLifo(benchmark::State& state) {
  const size_t depth = static_cast<size_t>(state.range(0));
  std::vector<int32_t> sizes = small_sizes(depth, 1);
  std::vector<void*> held(depth);
  for (auto _ : state) {
    for (size_t i = 0; i < depth; ++i) {
      held[i] = std::malloc(static_cast<size_t>(sizes[i]));
      benchmark::DoNotOptimize(held[i]);
      *static_cast<char*>(held[i]) = 1;
    }
    for (size_t i = depth; i-- > 0;) std::free(held[i]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * depth));
}

// Random: a working set of slots; each step frees a random occupied slot or
// fills a random empty one with a random small size.
struct Step {
  uint32_t slot;
  int32_t size;
};

std::vector<Step> random_steps(size_t slots, size_t n) {
  std::mt19937 rng(7);
  std::vector<Step> out(n);
  for (auto& s : out)
    s = {static_cast<uint32_t>(rng() % slots), 8 + static_cast<int32_t>(rng() % 249)};
  return out;
}

// Runs the random pattern: each step frees its slot's block when it holds
// one and allocates a block of the step's size into it otherwise. alloc and
// release are the allocator under test; what is still held is released at
// the end.
template <typename Alloc, typename Release>
void run_random(benchmark::State& state, Alloc alloc, Release release) {
  const size_t slots = static_cast<size_t>(state.range(0));
  const std::vector<Step> steps = random_steps(slots, 1 << 16);
  std::vector<void*> held(slots, nullptr);
  size_t k = 0;
  for (auto _ : state) {
    const Step s = steps[k++ & (steps.size() - 1)];
    void* block = held[s.slot];
    if (block != nullptr) {
      release(block);
      held[s.slot] = nullptr;
    } else {
      block = alloc(s.size);
      benchmark::DoNotOptimize(block);
      *static_cast<char*>(block) = 1;
      held[s.slot] = block;
    }
  }
  for (void* p : held) {
    if (p != nullptr) release(p);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

// The pool's allocation and release, as the traces call them.
auto pool_alloc(void* pool) {
  return [pool](int32_t size) {
    void* p = nullptr;
    MEM_ALLOC(pool, &p, size);
    return p;
  };
}
auto pool_free(void* pool) {
  return [pool](void* p) { MEM_FREE(pool, p); };
}

void BM_PoolRandom(benchmark::State& state) {
  void* pool = area().data();
  MEM_DEFINEPOOL(pool, kPoolBytes);
  run_random(state, pool_alloc(pool), pool_free(pool));
  PoolStats st{};
  MEM_STATS(zeb::mask({1, 2}), pool, &st);
  state.counters["maxused_kb"] = st.maxused / 1024.0;
}

void BM_MallocRandom(benchmark::State& state) {
  run_random(
      state, [](int32_t size) { return std::malloc(static_cast<size_t>(size)); },
      [](void* p) { std::free(p); });
}

// The plain walk over a pool's area: alloc and release as run_* want them.
struct Walk {
  zeb::testing::WalkPool walk{reinterpret_cast<char*>(area().data())};
  Walk() { MEM_DEFINEPOOL(area().data(), kPoolBytes); }
  void* alloc(int32_t size) {
    const uint32_t block = walk.alloc(size);
    return block == 0 ? nullptr : walk.p + block + 8;
  }
  void release(void* p) { walk.free(static_cast<uint32_t>(static_cast<char*>(p) - walk.p) - 8); }
};

void BM_WalkRandom(benchmark::State& state) {
  Walk w;
  run_random(
      state, [&w](int32_t size) { return w.alloc(size); }, [&w](void* p) { w.release(p); });
}

// Held: a fixed number of live blocks; each step frees the block of a random
// slot and allocates one of the step's size in its place. Sizes are spread
// evenly over the powers of two from 8 to 4,096 bytes (log-uniform).
std::vector<Step> held_steps(size_t live, size_t n) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> exponent(3.0, 12.0);
  std::vector<Step> out(n);
  for (auto& s : out) {
    s = {static_cast<uint32_t>(rng() % live), static_cast<int32_t>(std::exp2(exponent(rng)))};
  }
  return out;
}

template <typename Alloc, typename Release>
void run_held(benchmark::State& state, Alloc alloc, Release release) {
  const size_t live = static_cast<size_t>(state.range(0));
  const std::vector<Step> steps = held_steps(live, 1 << 16);
  std::vector<void*> held(live);
  for (size_t i = 0; i < live; ++i) held[i] = alloc(steps[i].size);
  size_t k = 0;
  for (auto _ : state) {
    const Step s = steps[k++ & (steps.size() - 1)];
    release(held[s.slot]);
    void* block = alloc(s.size);
    benchmark::DoNotOptimize(block);
    *static_cast<char*>(block) = 1;
    held[s.slot] = block;
  }
  for (void* p : held) release(p);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_PoolHeld(benchmark::State& state) {
  void* pool = area().data();
  MEM_DEFINEPOOL(pool, kPoolBytes);
  run_held(state, pool_alloc(pool), pool_free(pool));
}

void BM_MallocHeld(benchmark::State& state) {
  run_held(
      state, [](int32_t size) { return std::malloc(static_cast<size_t>(size)); },
      [](void* p) { std::free(p); });
}

void BM_WalkHeld(benchmark::State& state) {
  Walk w;
  run_held(
      state, [&w](int32_t size) { return w.alloc(size); }, [&w](void* p) { w.release(p); });
}

}  // namespace

BENCHMARK(BM_PoolLifo)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(BM_MallocLifo)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(BM_PoolRandom)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_MallocRandom)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_WalkRandom)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_PoolHeld)->Arg(64)->Arg(512)->Arg(1024);
BENCHMARK(BM_MallocHeld)->Arg(64)->Arg(512)->Arg(1024);
BENCHMARK(BM_WalkHeld)->Arg(64)->Arg(512)->Arg(1024);

int main(int argc, char** argv) {
  using Pair = zeb::bench::RatioReporter::Pair;
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {
          Pair{"BM_PoolLifo/256", "BM_MallocLifo/256", "LIFO, 256 deep"},
          Pair{"BM_PoolRandom/64", "BM_MallocRandom/64", "random, 64 slots"},
          Pair{"BM_PoolRandom/1024", "BM_MallocRandom/1024", "random, 1,024 slots"},
          Pair{"BM_PoolRandom/16384", "BM_MallocRandom/16384", "random, 16,384 slots"},
          Pair{"BM_PoolHeld/64", "BM_MallocHeld/64", "held, 64 live, 8 to 4,096 bytes"},
          Pair{"BM_PoolHeld/1024", "BM_MallocHeld/1024", "held, 1,024 live, 8 to 4,096 bytes"},
          Pair{"BM_PoolRandom/1024", "BM_WalkRandom/1024",
               "against the plain walk: random, 1,024 slots"},
          Pair{"BM_PoolRandom/16384", "BM_WalkRandom/16384",
               "against the plain walk: random, 16,384 slots"},
          Pair{"BM_PoolHeld/512", "BM_WalkHeld/512", "against the plain walk: held, 512 live"},
          Pair{"BM_PoolHeld/1024", "BM_WalkHeld/1024", "against the plain walk: held, 1,024 live"},
          Pair{"BM_PoolRandom/16384", "BM_PoolRandom/64",
               "pool time per operation, 16,384 slots / 64 slots", RatioReporter::Ratio::kCpuTime},
      });
}
