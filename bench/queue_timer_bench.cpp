// Queue and timer-list operations against the std::list and std::multimap
// a program would otherwise use.
#include <benchmark/benchmark.h>

#include <list>
#include <map>
#include <random>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/containers/queue.h>
#include <zeb/containers/timer.h>
#include <zeb/platform/clock.h>

namespace {

struct Item {
  QueueLinks links;
  int64_t value;
};

// n elements put in at the back of a queue, then taken off by `drain`.
template <typename Drain>
void queue_round(benchmark::State& state, Drain drain) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<Item> items(n);
  QueueHeader q;
  QUEUE_INIT(&q);
  for (auto _ : state) {
    for (auto& it : items) QUEUE_ENQUEUETAIL(&q, &it);
    drain(&q, items);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

// FIFO traffic: n elements in at the back, out at the front.
void BM_QueueFifo(benchmark::State& state) {
  queue_round(state, [](QueueHeader* q, std::vector<Item>&) {
    void* e = nullptr;
    int64_t sum = 0;
    while (QUEUE_DEQUEUE(q, &e) == 0) sum += static_cast<Item*>(e)->value;
    benchmark::DoNotOptimize(sum);
  });
}

void BM_StdListFifo(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<int64_t> values(n);
  std::list<int64_t> q;
  for (auto _ : state) {
    for (int64_t v : values) q.push_back(v);
    int64_t sum = 0;
    while (!q.empty()) {
      sum += q.front();
      q.pop_front();
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

// Removal from the middle by handle.
void BM_QueueDeleteMiddle(benchmark::State& state) {
  queue_round(state, [](QueueHeader*, std::vector<Item>& items) {
    for (size_t i = 0; i < items.size(); i += 2) QUEUE_DELETE(&items[i]);
    for (size_t i = 1; i < items.size(); i += 2) QUEUE_DELETE(&items[i]);
  });
}

void BM_StdListDeleteMiddle(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::list<int64_t> q;
  std::vector<std::list<int64_t>::iterator> handles(n);
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) handles[i] = q.insert(q.end(), static_cast<int64_t>(i));
    for (size_t i = 0; i < n; i += 2) q.erase(handles[i]);
    for (size_t i = 1; i < n; i += 2) q.erase(handles[i]);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

int64_t g_fired = 0;

// The delays in ticks of n timers: 0 to n - 1 in order, or random ones
// (the same sequence for both contenders).
std::vector<int32_t> timer_ticks(size_t n, bool random_order) {
  std::vector<int32_t> ticks(n);
  std::mt19937 rng(3);
  for (size_t i = 0; i < n; ++i) {
    ticks[i] = random_order ? static_cast<int32_t>(rng() % 100000) : static_cast<int32_t>(i);
  }
  return ticks;
}

void fire(int16_t, int16_t, int32_t a3) { g_fired += a3; }

constexpr int32_t kPoolBytes = 4 * 1024 * 1024;

// n timers inserted (in increasing or random order of ticks), then all run
// by TIMER_DELAY once the clock has passed them.
void timer_round(benchmark::State& state, bool random_order) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<uint64_t> area(kPoolBytes / 8);
  MEM_DEFINEPOOL(area.data(), kPoolBytes);
  void* list = nullptr;
  TIMER_INIT(&list, area.data());
  const std::vector<int32_t> ticks = timer_ticks(n, random_order);
  zeb::platform::clock_freeze();
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) {
      TIMER_INSERT(zeb::mask({1, 3, 4, 8}), list, nullptr, fire, ticks[i], 0, 0, 0, 1);
    }
    zeb::platform::clock_advance(1000000000);
    int32_t delay = 0;
    TIMER_DELAY(list, &delay);
  }
  zeb::platform::clock_release();
  benchmark::DoNotOptimize(g_fired);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

struct StdTimer {
  TimerProc proc;
  int32_t arg3;
};

void multimap_round(benchmark::State& state, bool random_order) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::multimap<int64_t, StdTimer> timers;
  const std::vector<int32_t> ticks = timer_ticks(n, random_order);
  zeb::platform::clock_freeze();
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i) {
      int64_t expiry = PROCESSOR_CLOCK() + ticks[i] * int64_t{10000} + 5000;
      timers.emplace_hint(timers.end(), expiry, StdTimer{fire, 1});
    }
    zeb::platform::clock_advance(1000000000);
    int64_t now = PROCESSOR_CLOCK();
    while (!timers.empty() && timers.begin()->first - now < 10000) {
      StdTimer t = timers.begin()->second;
      timers.erase(timers.begin());
      t.proc(0, 0, t.arg3);
    }
  }
  zeb::platform::clock_release();
  benchmark::DoNotOptimize(g_fired);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

void BM_TimerListInOrder(benchmark::State& state) { timer_round(state, false); }
void BM_MultimapInOrder(benchmark::State& state) { multimap_round(state, false); }
void BM_TimerListRandom(benchmark::State& state) { timer_round(state, true); }
void BM_MultimapRandom(benchmark::State& state) { multimap_round(state, true); }

}  // namespace

BENCHMARK(BM_QueueFifo)->Arg(1024);
BENCHMARK(BM_StdListFifo)->Arg(1024);
BENCHMARK(BM_QueueDeleteMiddle)->Arg(1024);
BENCHMARK(BM_StdListDeleteMiddle)->Arg(1024);
BENCHMARK(BM_TimerListInOrder)->Arg(16)->Arg(1024);
BENCHMARK(BM_MultimapInOrder)->Arg(16)->Arg(1024);
BENCHMARK(BM_TimerListRandom)->Arg(16)->Arg(1024);
BENCHMARK(BM_MultimapRandom)->Arg(16)->Arg(1024);
