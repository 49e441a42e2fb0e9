// Processor load sampling: initialisation and sampling through a fake host,
// the arithmetic on tables the tests write themselves, and a real busy
// processor on this machine.
#include <zeb/cpu/cpu.h>

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/host/syscalls.h"

namespace {

using zeb::platform::serve_file;
using zeb::platform::SyscallOverride;
using zeb::platform::syscalls;

constexpr uint32_t kAllParams =
    zeb::mask({1, 2, 3, 4, 5});  // table, cpu mask, cpu, weight, use type
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// A host whose /proc/stat the test controls. Counters are in ticks of 1/100
// second, so one tick is 10000 microseconds.
struct FakeHost {
  struct Counters {
    bool online = true;
    uint64_t user = 0, system = 0, idle = 0, irq = 0;
  };
  Counters cpu[16];
  int reads = 0;
  std::function<void(FakeHost&)> on_read;  // runs before each reading
  SyscallOverride scope;

  explicit FakeHost(const std::string& online) {
    serve_file("/sys/devices/system/cpu/online", online);
    serve_file("/sys/devices/system/cpu/present", "0-15\n");
    syscalls().kernel_release = [](std::string* out) {
      *out = "6.1.0";
      return 0;
    };
    syscalls().clock_ticks = [] { return 100L; };
    serve_file("/proc/stat", [this](std::string* text) {
      std::string& out = *text;
      ++reads;
      if (on_read) on_read(*this);
      out = "cpu  0 0 0 0 0 0 0 0 0 0\n";
      for (int n = 0; n < 16; ++n) {
        const Counters& c = cpu[n];
        if (!c.online) continue;
        out += "cpu" + std::to_string(n) + " " + std::to_string(c.user) + " 0 " +
               std::to_string(c.system) + " " + std::to_string(c.idle) + " 0 " +
               std::to_string(c.irq) + " 0 0 0 0\n";
      }
      return 0;
    });
  }

  // One processor runs for busy ticks and idles for idle ticks.
  void advance(int n, uint64_t busy, uint64_t idle) {
    cpu[n].user += busy;
    cpu[n].idle += idle;
  }
};

TEST(CpuInit, RefusesAShortBufferBeforeWritingAnything) {
  FakeHost host("0-1\n");
  CpuTable table;
  std::memset(static_cast<void*>(&table), 0xAB, sizeof table);
  int16_t count = 77;
  EXPECT_EQ(CPU_INIT(&table, 1791, 0, &count), zeb::err::kBufferTooSmall);
  EXPECT_EQ(CPU_INIT(&table, -1, 0, &count), zeb::err::kBufferTooSmall);
  EXPECT_EQ(count, 77);
  EXPECT_EQ(host.reads, 0);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&table);
  for (size_t i = 0; i < sizeof table; ++i) ASSERT_EQ(bytes[i], 0xAB) << i;

  EXPECT_EQ(CPU_INIT(nullptr, 1792, 0, &count), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_INIT(&table, 1792, 0, nullptr), zeb::err::kMissingParameter);
}

TEST(CpuInit, UnreachableNodeStoresCountZero) {
  FakeHost host("0-1\n");
  CpuTable table;
  std::memset(static_cast<void*>(&table), 0xAB, sizeof table);
  int16_t count = 77;
  EXPECT_EQ(CPU_INIT(&table, sizeof table, 5, &count), zeb::err::kPathDown);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(table.cpu[0].system, static_cast<int16_t>(0xABAB));  // untouched
}

TEST(CpuInit, OnlyProcessorsUpAtInitAreSampled) {
  FakeHost host("0-1,3\n");
  host.cpu[2].online = false;
  for (int n = 4; n < 16; ++n) host.cpu[n].online = false;
  CpuTable table;
  int16_t count = 0;
  ASSERT_EQ(CPU_INIT(&table, sizeof table, 0, &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(host.reads, 6);  // three processors, two samples each
  for (int n = 0; n < 16; ++n) {
    const CpuRecord& r = table.cpu[n];
    bool up = n == 0 || n == 1 || n == 3;
    EXPECT_EQ(r.up, up ? 1 : 0) << n;
    EXPECT_EQ(r.cpu, n);
    EXPECT_EQ(r.system, 0);
    EXPECT_EQ(r.type, zeb::kHostProcessorType);
    EXPECT_EQ(r.version, 0x0601);
    EXPECT_EQ(r.current.valid, up ? zeb::kTrue : zeb::kFalse) << n;
    EXPECT_EQ(r.previous.valid, up ? zeb::kTrue : zeb::kFalse) << n;
  }
  // Processor 2 coming up later is not sampled until the next CPU_INIT.
  host.cpu[2].online = true;
  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  EXPECT_EQ(host.reads, 9);
  EXPECT_EQ(table.cpu[2].current.valid, zeb::kFalse);
}

TEST(CpuInit, SmoothedDeltasStartFromTheFirstInterval) {
  FakeHost host("0\n");
  // Each reading finds 1 second more: 0.6 s busy, 0.4 s idle.
  host.on_read = [](FakeHost& h) { h.advance(0, 60, 40); };
  CpuTable table;
  int16_t count = 0;
  ASSERT_EQ(CPU_INIT(&table, sizeof table, 0, &count), 0);
  EXPECT_EQ(count, 1);
  const CpuRecord& r = table.cpu[0];
  EXPECT_EQ(r.current.clock - r.previous.clock, 1000000);
  EXPECT_EQ(r.smoothed_clock, 1 + (1000000 - 1) / 30);
  EXPECT_EQ(r.smoothed_idle, 1 + (400000 - 1) / 30);
  // Records not up keep the reset value.
  EXPECT_EQ(table.cpu[5].smoothed_clock, 1);

  int16_t type = 0, share2 = -1, share1 = -1, busy = -1;
  ASSERT_EQ(CPU_INFO(&table, 0, &type, &share2, &share1, &busy), 0);
  EXPECT_EQ(type, zeb::kHostProcessorType);
  EXPECT_EQ(share1, 60);
  EXPECT_EQ(share2, 0);
  EXPECT_EQ(busy, 60);  // 101 x (20000 - 1) / 33334

  // CPU_RESET restarts the averages and leaves the samples alone.
  CpuSample before = r.current;
  ASSERT_EQ(CPU_RESET(&table), 0);
  EXPECT_EQ(r.smoothed_clock, 1);
  EXPECT_EQ(r.smoothed_idle, 1);
  EXPECT_EQ(std::memcmp(&before, &r.current, sizeof before), 0);
  ASSERT_EQ(CPU_INFO(&table, 0, nullptr, nullptr, nullptr, &busy), 0);
  EXPECT_EQ(busy, 0);  // no history: not -101
}

TEST(CpuSample, ProcessorThatGoesDownDropsOutUntilTwoValidReadings) {
  FakeHost host("0-1\n");
  host.on_read = [](FakeHost& h) {
    h.advance(0, 10, 90);
    h.advance(1, 50, 50);
  };
  CpuTable table;
  int16_t count = 0;
  ASSERT_EQ(CPU_INIT(&table, sizeof table, 0, &count), 0);
  int16_t cpu = -1;
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 1);
  int64_t smoothed = table.cpu[1].smoothed_clock;

  host.cpu[1].online = false;
  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  EXPECT_EQ(table.cpu[1].current.valid, zeb::kFalse);
  EXPECT_EQ(table.cpu[1].smoothed_clock, smoothed);
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 0);
  cpu = -1;
  EXPECT_EQ(CPU_MOSTBUSY(&table, 0x4000, &cpu), zeb::err::kPathDown);
  EXPECT_EQ(cpu, -1);
  EXPECT_EQ(CPU_INFO(&table, 1, nullptr, nullptr, nullptr, nullptr), zeb::err::kPathDown);

  host.cpu[1].online = true;
  ASSERT_EQ(CPU_SAMPLE(&table), 0);  // previous still invalid
  EXPECT_EQ(CPU_MOSTBUSY(&table, 0x4000, &cpu), zeb::err::kPathDown);
  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0x4000, &cpu), 0);
  EXPECT_EQ(cpu, 1);
}

// Tables written by hand: record n gets two valid samples whose deltas are
// the given ones, starting from base.
class CpuTableTest : public ::testing::Test {
 protected:
  CpuTable table{};

  CpuRecord& set(int n, int64_t clock, int64_t idle, int64_t busy1 = 0, int64_t busy2 = 0,
                 int16_t type = 0, int64_t base = 1000) {
    CpuRecord& r = table.cpu[n];
    r.up = 1;
    r.cpu = static_cast<int16_t>(n);
    r.type = type;
    r.previous = CpuSample{zeb::kTrue, base, base, base, base};
    r.current = CpuSample{zeb::kTrue, base + clock, base + busy1, base + busy2, base + idle};
    r.smoothed_clock = 1;
    r.smoothed_idle = 1;
    return r;
  }

  int16_t least(uint16_t mask, int16_t* cpu, int16_t weight = 0, int16_t use_type = 0) {
    return CPU_LEASTBUSY(kAllParams, &table, mask, cpu, weight, use_type);
  }
};

TEST_F(CpuTableTest, TiesChooseTheLowerProcessor) {
  set(3, 1000, 500, 300, 200);
  set(7, 1000, 500, 300, 200);
  int16_t cpu = -1;
  ASSERT_EQ(least(0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 3);
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 3);
  // The mask selects: processor 0 is the most significant bit.
  ASSERT_EQ(least(0x0100, &cpu), 0);
  EXPECT_EQ(cpu, 7);
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0x0100, &cpu), 0);
  EXPECT_EQ(cpu, 7);
}

TEST_F(CpuTableTest, NoCandidateLeavesCpuUnwritten) {
  set(0, 1000, 500);
  int16_t cpu = -7;
  EXPECT_EQ(least(0, &cpu), zeb::err::kPathDown);
  EXPECT_EQ(CPU_MOSTBUSY(&table, 0, &cpu), zeb::err::kPathDown);
  EXPECT_EQ(cpu, -7);
  // A candidate with no idle time at all is no better than none.
  set(0, 1000, 0, 1000);
  EXPECT_EQ(least(0xFFFF, &cpu), zeb::err::kPathDown);
  EXPECT_EQ(cpu, -7);
  // A processor that was not up at initialisation never qualifies, whatever
  // its samples say; nor does one with an invalid sample.
  set(1, 1000, 900).up = 0;
  set(2, 1000, 900).previous.valid = zeb::kFalse;
  EXPECT_EQ(least(0xFFFF, &cpu), zeb::err::kPathDown);
  EXPECT_EQ(cpu, -7);
  // With no busy time at all a processor still qualifies for the most busy.
  set(0, 1000, 1000);
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 0);
}

TEST_F(CpuTableTest, TypeFactorFavoursFasterProcessors) {
  set(0, 1000, 900, 100, 0, 3);  // 90 % idle, type 3: 900 x 3 = 2700
  set(1, 1000, 100, 900, 0, 7);  // 10 % idle, type 7: 100 x 32 = 3200
  int16_t cpu = -1;
  ASSERT_EQ(least(0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 0);
  ASSERT_EQ(least(0xFFFF, &cpu, 0, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 1);
  // Types outside 0 to 7 count with factor 1.
  EXPECT_EQ(zeb::cpu_type_factor(7), 32);
  EXPECT_EQ(zeb::cpu_type_factor(8), 1);
  EXPECT_EQ(zeb::cpu_type_factor(-1), 1);
  set(0, 1000, 500, 0, 0, 99);  // 500 x 1
  set(1, 1000, 400, 0, 0, 0);   // 400 x 1
  ASSERT_EQ(least(0xFFFF, &cpu, 0, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 0);
  set(1, 1000, 400, 0, 0, 2);  // 400 x 2
  ASSERT_EQ(least(0xFFFF, &cpu, 0, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 1);
  // The largest score, 1000 x 32, stays a 16-bit value.
  set(2, 1000, 1000, 0, 0, 7);
  ASSERT_EQ(least(0xFFFF, &cpu, 10, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 2);
}

TEST_F(CpuTableTest, WeightMixesLatestAndSmoothedIdle) {
  CpuRecord& a = set(0, 1000, 900);  // latest 90 % idle
  a.smoothed_clock = 1000;
  a.smoothed_idle = 100;             // smoothed 10 % idle
  CpuRecord& b = set(1, 1000, 200);  // latest 20 % idle
  b.smoothed_clock = 1000;
  b.smoothed_idle = 800;  // smoothed 80 % idle
  int16_t cpu = -1;
  ASSERT_EQ(least(0xFFFF, &cpu, 0), 0);
  EXPECT_EQ(cpu, 0);
  ASSERT_EQ(least(0xFFFF, &cpu, 10), 0);
  EXPECT_EQ(cpu, 1);
  ASSERT_EQ(least(0xFFFF, &cpu, 6), 0);  // 420 against 560
  EXPECT_EQ(cpu, 1);
  ASSERT_EQ(least(0xFFFF, &cpu, 5), 0);  // 500 against 500: the lower
  EXPECT_EQ(cpu, 0);
}

TEST_F(CpuTableTest, LeastBusyParameterMask) {
  set(0, 1000, 100);
  CpuRecord& r = set(1, 1000, 900);
  r.smoothed_clock = 1000;
  r.smoothed_idle = 0;
  int16_t cpu = -1;
  // Absent parameters take their defaults, whatever values are passed.
  ASSERT_EQ(CPU_LEASTBUSY(zeb::mask({1, 3}), &table, 0x8000, &cpu, 10, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 1);  // all 16 candidates, weight 0
  ASSERT_EQ(CPU_LEASTBUSY(zeb::mask({1, 3}), &table, 0, &cpu), 0);
  EXPECT_EQ(cpu, 1);
  cpu = -1;
  EXPECT_EQ(CPU_LEASTBUSY(zeb::mask({3}), &table, 0xFFFF, &cpu), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_LEASTBUSY(zeb::mask({1}), &table, 0xFFFF, &cpu), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_LEASTBUSY(kAllParams, nullptr, 0xFFFF, &cpu), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_LEASTBUSY(kAllParams, &table, 0xFFFF, nullptr), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_LEASTBUSY(kAllParams | zeb::mask({6}), &table, 0xFFFF, &cpu),
            zeb::err::kMissingParameter);
  EXPECT_EQ(least(0xFFFF, &cpu, 11), zeb::err::kOutOfBounds);
  EXPECT_EQ(least(0xFFFF, &cpu, -1), zeb::err::kOutOfBounds);
  EXPECT_EQ(CPU_MOSTBUSY(nullptr, 0xFFFF, &cpu), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, nullptr), zeb::err::kMissingParameter);
  EXPECT_EQ(cpu, -1);
}

TEST_F(CpuTableTest, MostBusyAddsBothBusyTimes) {
  set(0, 1000, 0, 600, 0);
  set(1, 1000, 0, 400, 300);
  set(2, 5000, 0, 650, 0);  // a longer interval: absolute amounts count
  int16_t cpu = -1;
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 1);
}

TEST_F(CpuTableTest, InfoPercentages) {
  CpuRecord& r = set(4, 1000000, 0, 1000000, 250000, 5);
  r.smoothed_clock = 1000;
  r.smoothed_idle = 250;
  int16_t type = -1, share2 = -1, share1 = -1, busy = -1;
  ASSERT_EQ(CPU_INFO(&table, 4, &type, &share2, &share1, &busy), 0);
  EXPECT_EQ(type, 5);
  EXPECT_EQ(share1, 100);  // the whole interval is 100, not 101
  EXPECT_EQ(share2, 25);   // 101 x 249999 / 1000000
  EXPECT_EQ(busy, 75);     // 101 x 749 / 1000
  set(4, 1000000, 1000000, 0, 0);
  ASSERT_EQ(CPU_INFO(&table, 4, &type, &share2, &share1, &busy), 0);
  EXPECT_EQ(share1, 0);
  EXPECT_EQ(share2, 0);
  EXPECT_EQ(busy, 0);
}

TEST_F(CpuTableTest, InfoRefusesWithoutWriting) {
  set(0, 1000, 500);
  int16_t type = -9, share2 = -9, share1 = -9, busy = -9;
  EXPECT_EQ(CPU_INFO(&table, 16, &type, &share2, &share1, &busy), zeb::err::kOutOfBounds);
  EXPECT_EQ(CPU_INFO(&table, -1, &type, &share2, &share1, &busy), zeb::err::kOutOfBounds);
  EXPECT_EQ(CPU_INFO(&table, 1, &type, &share2, &share1, &busy), zeb::err::kOutOfBounds);
  table.cpu[0].current.valid = zeb::kFalse;
  EXPECT_EQ(CPU_INFO(&table, 0, &type, &share2, &share1, &busy), zeb::err::kPathDown);
  EXPECT_EQ(CPU_INFO(nullptr, 0, &type, &share2, &share1, &busy), zeb::err::kMissingParameter);
  EXPECT_EQ(type, -9);
  EXPECT_EQ(share2, -9);
  EXPECT_EQ(share1, -9);
  EXPECT_EQ(busy, -9);
}

// Readings taken within one clock tick show an empty interval: no division
// by zero, no percentage outside 0 to 100, and nothing to choose by idle time.
TEST_F(CpuTableTest, EmptyIntervalIsGuarded) {
  set(0, 0, 0, 0, 0);
  int16_t share2 = -1, share1 = -1, busy = -1;
  ASSERT_EQ(CPU_INFO(&table, 0, nullptr, &share2, &share1, &busy), 0);
  EXPECT_EQ(share1, 0);
  EXPECT_EQ(share2, 0);
  EXPECT_EQ(busy, 0);
  int16_t cpu = -1;
  EXPECT_EQ(least(0xFFFF, &cpu), zeb::err::kPathDown);
  table.cpu[0].smoothed_clock = 0;
  table.cpu[0].smoothed_idle = 0;
  EXPECT_EQ(least(0xFFFF, &cpu, 10), zeb::err::kPathDown);
  ASSERT_EQ(CPU_INFO(&table, 0, nullptr, nullptr, nullptr, &busy), 0);
  EXPECT_EQ(busy, 0);
}

// Counters at the ends of the 64-bit range, counters that go backwards and
// absurd smoothed values: everything stays in range (the sanitizer build
// catches any overflow).
TEST_F(CpuTableTest, ExtremeCountersStayInRange) {
  CpuRecord& r = set(0, 0, 0);
  r.previous = CpuSample{zeb::kTrue, kMin, kMin, kMin, kMin};
  r.current = CpuSample{zeb::kTrue, kMax, kMax, kMax, 0};
  r.smoothed_clock = kMin;
  r.smoothed_idle = kMax;
  CpuRecord& s = set(1, 0, 0);
  s.previous = CpuSample{zeb::kTrue, kMax, kMax, kMax, kMax};  // went backwards
  s.current = CpuSample{zeb::kTrue, kMin, kMin, kMin, kMin};
  s.smoothed_clock = kMax;
  s.smoothed_idle = kMin;
  int16_t share2 = -1, share1 = -1, busy = -1;
  for (int16_t n : {0, 1}) {
    ASSERT_EQ(CPU_INFO(&table, n, nullptr, &share2, &share1, &busy), 0);
    EXPECT_GE(share1, 0);
    EXPECT_LE(share1, 100);
    EXPECT_GE(share2, 0);
    EXPECT_LE(share2, 100);
    EXPECT_GE(busy, 0);
    EXPECT_LE(busy, 100);
  }
  ASSERT_EQ(CPU_INFO(&table, 1, nullptr, &share2, &share1, &busy), 0);
  EXPECT_EQ(share1, 0);  // a counter that went backwards counts as no time
  EXPECT_EQ(busy, 100);
  int16_t cpu = -1;
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &cpu), 0);
  EXPECT_EQ(cpu, 0);
  // Only processor 0 shows idle time: all of its saturated interval.
  ASSERT_EQ(least(0xFFFF, &cpu, 7, zeb::kTrue), 0);
  EXPECT_EQ(cpu, 0);
}

TEST(CpuSample, SmoothingOfExtremeTablesStaysInRange) {
  FakeHost host("0\n");
  host.cpu[0].user = 5;
  CpuTable table{};
  CpuRecord& r = table.cpu[0];
  r.up = 1;
  r.current = CpuSample{zeb::kTrue, kMin, kMin, kMin, kMax};
  r.smoothed_clock = kMin;
  r.smoothed_idle = kMin;
  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  EXPECT_EQ(r.current.valid, zeb::kTrue);
  EXPECT_EQ(r.current.clock, 50000);
  // The clock delta saturates; the idle counter went backwards (no time).
  EXPECT_EQ(r.smoothed_clock, kMin + (static_cast<__int128>(kMax) - kMin) / 30);
  EXPECT_EQ(r.smoothed_idle, kMin - kMin / 30);
  EXPECT_EQ(CPU_SAMPLE(nullptr), zeb::err::kMissingParameter);
  EXPECT_EQ(CPU_RESET(nullptr), zeb::err::kMissingParameter);
}

// The real machine: a thread spinning on one processor makes that processor
// busy for the whole interval, so whichever processor CPU_MOSTBUSY chooses
// must have been busy at least as long. On a loaded machine another
// processor may be as busy as the spinning one; it is then a busy processor
// too, which is all that is asked.
TEST(CpuLoadHost, MostBusyChoosesABusyProcessor) {
  zeb::platform::reset_syscalls();
  CpuTable table;
  int16_t count = 0;
  ASSERT_EQ(CPU_INIT(&table, sizeof table, 0, &count), 0);
  ASSERT_GT(count, 0);
  ASSERT_LE(count, 16);
  EXPECT_EQ(table.cpu[0].type, zeb::kHostProcessorType);
  EXPECT_EQ(table.cpu[0].version, REMOTETOSVERSION(0));

  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  int target = -1;
  for (int n = 15; n >= 0 && target < 0; --n) {
    if (CPU_ISSET(n, &allowed) && table.cpu[n].up != 0) target = n;
  }
  if (target < 0) GTEST_SKIP() << "no processor 0 to 15 is open to this process";

  std::atomic<int> state{0};  // 0 starting, 1 spinning, 2 stop, -1 not pinned
  std::thread spinner([&] {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(target, &one);
    if (pthread_setaffinity_np(pthread_self(), sizeof one, &one) != 0) {
      state = -1;
      return;
    }
    state = 1;
    volatile uint64_t x = 0;
    while (state.load(std::memory_order_relaxed) == 1) x = x + 1;
  });
  while (state.load() == 0) std::this_thread::yield();
  ASSERT_EQ(state.load(), 1) << "could not pin a thread to processor " << target;

  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ASSERT_EQ(CPU_SAMPLE(&table), 0);
  state = 2;
  spinner.join();

  int16_t chosen = -1;
  ASSERT_EQ(CPU_MOSTBUSY(&table, 0xFFFF, &chosen), 0);
  ASSERT_GE(chosen, 0);
  ASSERT_LT(chosen, 16);
  int16_t share2 = 0, share1 = 0;
  ASSERT_EQ(CPU_INFO(&table, target, nullptr, &share2, &share1, nullptr), 0);
  EXPECT_GE(share1 + share2, 50) << "processor " << target << " was not kept busy";
  ASSERT_EQ(CPU_INFO(&table, chosen, nullptr, &share2, &share1, nullptr), 0);
  EXPECT_GE(share1 + share2, 50) << "chose processor " << chosen << ", which was not busy";
}

}  // namespace
