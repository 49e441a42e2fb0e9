// Processor information: parsing of the host's sources through the seam, and
// a reading of the real host.
#include <zeb/platform/cpuinfo.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/host/syscalls.h"

namespace {

using zeb::platform::parse_cpu_list;
using zeb::platform::serve_file;
using zeb::platform::SyscallOverride;
using zeb::platform::syscalls;

constexpr char kStatPath[] = "/proc/stat";
constexpr char kOnlinePath[] = "/sys/devices/system/cpu/online";
constexpr char kPresentPath[] = "/sys/devices/system/cpu/present";

// A source that cannot be read: errno e.
auto failing(int e) {
  return [e](std::string*) {
    errno = e;
    return -1;
  };
}

void set_release(std::string release) {
  syscalls().kernel_release = [release](std::string* out) {
    *out = release;
    return 0;
  };
}

void set_ticks(long ticks) {
  syscalls().clock_ticks = [ticks] { return ticks; };
}

constexpr char kStat[] =
    "cpu  300 30 150 9000 40 5 6 7 0 0\n"
    "cpu0 100 10 50 4000 20 1 2 3 0 0\n"
    "cpu1 200 20 100 5000 20 4 4 4 0 0\n"
    "intr 12345 0 1 2\n"
    "cpu3 1 2 3 4\n"
    "ctxt 99\n";

TEST(CpuList, ParsesRangesAndSingles) {
  const struct {
    const char* text;
    uint16_t bits;
    int slots;
  } cases[] = {
      {"0-1,3\n", 0xD000, 4},
      {"0", 0x8000, 1},
      // Processors beyond 15 are not reported; the slots stop at 16.
      {"14-63\n", 0x0003, 16},
      {"\n", 0, 0},
  };
  uint16_t bits = 0;
  int slots = 0;
  for (const auto& c : cases) {
    bits = 0xFFFF;  // the parse must store both results
    slots = -1;
    ASSERT_TRUE(parse_cpu_list(c.text, &bits, &slots)) << c.text;
    EXPECT_EQ(bits, c.bits) << c.text;
    EXPECT_EQ(slots, c.slots) << c.text;
  }
  for (const char* bad : {"x", "1-", "3-1", "1,,2", "-4", "1 2"}) {
    EXPECT_FALSE(parse_cpu_list(bad, &bits, &slots)) << bad;
  }
}

TEST(RemoteProcessorStatus, SlotsFromPresentAndUpBitsFromOnline) {
  SyscallOverride scope;
  serve_file(kOnlinePath, "0-1,3\n");
  serve_file(kPresentPath, "0-5\n");
  EXPECT_EQ(REMOTEPROCESSORSTATUS(0), (6 << 16) | 0xD000);
  EXPECT_EQ(REMOTEPROCESSORSTATUS(-1), (6 << 16) | 0xD000);
  // Without the present list the online list gives the slots too.
  serve_file(kPresentPath, failing(ENOENT));
  EXPECT_EQ(REMOTEPROCESSORSTATUS(0), (4 << 16) | 0xD000);
  // Another node is unreachable; an unreadable online list reports nothing.
  EXPECT_EQ(REMOTEPROCESSORSTATUS(1), 0);
  serve_file(kOnlinePath, failing(EACCES));
  EXPECT_EQ(REMOTEPROCESSORSTATUS(0), 0);
  serve_file(kOnlinePath, "garbage");
  EXPECT_EQ(REMOTEPROCESSORSTATUS(0), 0);
}

TEST(CpuTimes, GroupsCountersAndConvertsTicksToMicroseconds) {
  SyscallOverride scope;
  serve_file(kStatPath, kStat);
  set_ticks(100);
  int64_t clock = -1, busy1 = -1, busy2 = -1, idle = -1;
  ASSERT_EQ(CPUTIMES(1, 0, &clock, &busy1, &busy2, &idle), 0);
  // user+nice+system, irq+softirq, idle+iowait; the clock adds steal.
  EXPECT_EQ(busy1, 320 * 10000);
  EXPECT_EQ(busy2, 8 * 10000);
  EXPECT_EQ(idle, 5020 * 10000);
  EXPECT_EQ(clock, 5352 * 10000);
  ASSERT_EQ(CPUTIMES(0, -1, &clock, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(clock, 4186 * 10000);
  // An old kernel's four counters.
  ASSERT_EQ(CPUTIMES(3, 0, &clock, &busy1, &busy2, &idle), 0);
  EXPECT_EQ(busy1, 6 * 10000);
  EXPECT_EQ(busy2, 0);
  EXPECT_EQ(idle, 4 * 10000);
  EXPECT_EQ(clock, 10 * 10000);

  // Truncation per group never lets the parts outgrow the clock.
  set_ticks(3);
  serve_file(kStatPath, "cpu0 1 0 0 1 0 1 0 0\n");
  ASSERT_EQ(CPUTIMES(0, 0, &clock, &busy1, &busy2, &idle), 0);
  EXPECT_EQ(busy1, 333333);
  EXPECT_EQ(clock, 1000000);
  EXPECT_LE(busy1 + busy2 + idle, clock);
}

TEST(CpuTimes, SaturatesHugeCounters) {
  SyscallOverride scope;
  set_ticks(100);
  serve_file(kStatPath, "cpu0 18446744073709551615 18446744073709551615 1 1\n");
  int64_t clock = 0, busy1 = 0, idle = 0;
  ASSERT_EQ(CPUTIMES(0, 0, &clock, &busy1, nullptr, &idle), 0);
  EXPECT_EQ(clock, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(busy1, std::numeric_limits<int64_t>::max());
  EXPECT_EQ(idle, 10000);
  // A counter beyond 64 bits is not a counter.
  serve_file(kStatPath, "cpu0 18446744073709551616 1 1 1\n");
  EXPECT_EQ(CPUTIMES(0, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kOutOfBounds);
}

TEST(CpuTimes, RefusesWithoutWriting) {
  SyscallOverride scope;
  serve_file(kStatPath, kStat);
  int64_t clock = 42;
  EXPECT_EQ(CPUTIMES(2, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kPathDown);  // offline
  EXPECT_EQ(CPUTIMES(0, 5, &clock, nullptr, nullptr, nullptr), zeb::err::kPathDown);  // other node
  EXPECT_EQ(CPUTIMES(16, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kOutOfBounds);
  EXPECT_EQ(CPUTIMES(-1, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kOutOfBounds);
  serve_file(kStatPath, "cpu0 1 2 3\n");  // too few counters
  EXPECT_EQ(CPUTIMES(0, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kOutOfBounds);
  serve_file(kStatPath, "cpu0 1 2 x 4\n");
  EXPECT_EQ(CPUTIMES(0, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kOutOfBounds);
  serve_file(kStatPath, failing(EACCES));
  EXPECT_EQ(CPUTIMES(0, 0, &clock, nullptr, nullptr, nullptr), zeb::err::kSecurityViolation);
  EXPECT_EQ(clock, 42);
}

TEST(RemoteTosVersion, KernelMajorAndMinorInOneWord) {
  SyscallOverride scope;
  set_release("6.18.44-fc-v1272");
  EXPECT_EQ(REMOTETOSVERSION(0), 0x0612);
  EXPECT_EQ(REMOTETOSVERSION(3), 0);
  set_release("2.6.32-754.el6.x86_64");
  EXPECT_EQ(REMOTETOSVERSION(-1), 0x0206);
  set_release("5.4");
  EXPECT_EQ(REMOTETOSVERSION(0), 0x0504);
  set_release("300.999.1");
  EXPECT_EQ(REMOTETOSVERSION(0), 0xFFFF);
  for (const char* bad : {"", "6", "x.1", "6.x", ".5"}) {
    set_release(bad);
    EXPECT_EQ(REMOTETOSVERSION(0), 0) << bad;
  }
}

TEST(ProcessorType, OneTypeForEveryLocalSlot) {
  for (int16_t n = 0; n < 16; ++n) EXPECT_EQ(PROCESSORTYPE(n), zeb::kHostProcessorType);
  EXPECT_EQ(PROCESSORTYPE(0, 0), zeb::kHostProcessorType);
  EXPECT_EQ(PROCESSORTYPE(16), -1);
  EXPECT_EQ(PROCESSORTYPE(-1), -1);
  EXPECT_EQ(PROCESSORTYPE(0, 2), -1);
}

// The real host: processor 0 is always up, its counters grow, and the online
// processors are exactly those whose times can be read.
TEST(CpuInfoHost, ReadsThisMachine) {
  int32_t status = REMOTEPROCESSORSTATUS(0);
  int slots = static_cast<uint32_t>(status) >> 16;
  uint16_t up = static_cast<uint16_t>(status & 0xFFFF);
  ASSERT_GT(slots, 0);
  ASSERT_NE(up & 0x8000, 0);
  for (int16_t n = 0; n < 16; ++n) {
    int64_t clock = 0;
    int16_t e = CPUTIMES(n, 0, &clock, nullptr, nullptr, nullptr);
    if ((up & (0x8000 >> n)) != 0) {
      EXPECT_EQ(e, 0) << n;
      EXPECT_GT(clock, 0) << n;
    } else {
      EXPECT_EQ(e, zeb::err::kPathDown) << n;
    }
  }
  int64_t c1 = 0, b1 = 0, b2 = 0, i1 = 0, c2 = 0;
  ASSERT_EQ(CPUTIMES(0, 0, &c1, &b1, &b2, &i1), 0);
  EXPECT_LE(b1 + b2 + i1, c1);
  ASSERT_EQ(CPUTIMES(0, 0, &c2, nullptr, nullptr, nullptr), 0);
  EXPECT_GE(c2, c1);
  EXPECT_GT(REMOTETOSVERSION(0), 0x0200);
}

}  // namespace
