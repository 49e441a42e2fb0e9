// MEM_ALLOC / MEM_FREE against malloc / free, on a last-in-first-out
// pattern and on a random pattern of small sizes. The random pattern runs
// with 64, 1,024 and 16,384 slots (about half of them hold a block at any
// time), so the ratios show how the cost grows with the number of blocks.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include <zeb/containers/pool.h>
#include "bench/ratio_reporter.h"

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

void BM_PoolRandom(benchmark::State& state) {
  void* pool = area().data();
  MEM_DEFINEPOOL(pool, kPoolBytes);
  run_random(
      state,
      [pool](int32_t size) {
        void* p = nullptr;
        MEM_ALLOC(pool, &p, size);
        return p;
      },
      [pool](void* p) { MEM_FREE(pool, p); });
  PoolStats st{};
  MEM_STATS(zeb::mask({1, 2}), pool, &st);
  state.counters["maxused_kb"] = st.maxused / 1024.0;
}

void BM_MallocRandom(benchmark::State& state) {
  run_random(
      state, [](int32_t size) { return std::malloc(static_cast<size_t>(size)); },
      [](void* p) { std::free(p); });
}

}  // namespace

BENCHMARK(BM_PoolLifo)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(BM_MallocLifo)->Arg(1)->Arg(16)->Arg(256);
BENCHMARK(BM_PoolRandom)->Arg(64)->Arg(1024)->Arg(16384);
BENCHMARK(BM_MallocRandom)->Arg(64)->Arg(1024)->Arg(16384);

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
          Pair{"BM_PoolRandom/16384", "BM_PoolRandom/64",
               "pool time per operation, 16,384 slots / 64 slots", RatioReporter::Ratio::kCpuTime},
      });
}
