// The processor clock: the monotonic clock of the host seam, anchored once to
// the local wall clock. Tests (and a simulated disk with a virtual clock)
// stop it and move it on by hand.
#include <zeb/platform/clock.h>

#include "platform/host/syscalls.h"

namespace {

using zeb::platform::syscalls;

// Seconds from the Unix epoch to 00:00 on 31 December 1974 (1825 days).
constexpr int64_t kEpoch1974 = 1825LL * 86400;
// Julian timestamp of the Unix epoch (Julian day 2440587.5) in microseconds.
constexpr int64_t kJulianUnixEpoch = 210866760000000000LL;

struct Anchor {
  int64_t mono_ns;      // monotonic reading at the anchor, a whole microsecond
  int64_t utc_us;       // Unix-epoch microseconds (UTC) at the anchor
  int64_t local_shift;  // local civil time minus UTC, in microseconds
};

const Anchor& anchor() {
  static const Anchor a = [] {
    const zeb::platform::Syscalls& sys = syscalls();
    Anchor result{};
    int64_t wall = sys.realtime_ns();
    // A whole microsecond, so that a clock reading is the truncated
    // monotonic reading and intervals depend on the readings alone.
    result.mono_ns = sys.monotonic_ns() / 1000 * 1000;
    result.utc_us = wall / 1000;
    result.local_shift = static_cast<int64_t>(sys.local_offset_s(wall / 1000000000)) * 1000000;
    return result;
  }();
  return a;
}

// Added to every monotonic reading: what a released clock had been advanced
// beyond the host's clock, so that release never moves it backwards.
int64_t g_shift_ns = 0;

struct Frozen {
  int64_t now_ns = 0;                       // the reading while frozen
  std::function<int64_t()> monotonic;       // the entries in place before
  std::function<int(int64_t)> sleep_until;  // freezing
};
Frozen g_frozen;

int64_t frozen_monotonic_ns() { return g_frozen.now_ns; }

int frozen_sleep_until_ns(int64_t target) {
  if (target > g_frozen.now_ns) g_frozen.now_ns = target;
  return 0;
}

// Microseconds elapsed since the anchor, as the clock currently reads.
int64_t since_anchor() {
  const Anchor& a = anchor();
  return (syscalls().monotonic_ns() + g_shift_ns - a.mono_ns) / 1000;
}

}  // namespace

int64_t PROCESSOR_CLOCK() {
  const Anchor& a = anchor();
  return a.utc_us + a.local_shift - kEpoch1974 * 1000000 + since_anchor();
}

int64_t JULIANTIMESTAMP(int16_t /*type*/) {
  const Anchor& a = anchor();
  return a.utc_us + kJulianUnixEpoch + since_anchor();
}

int64_t MYPROCESSTIME() { return syscalls().process_time_ns() / 1000; }

namespace zeb::platform {

// Freezing replaces the seam's monotonic clock with a reading that only
// clock_advance and sleeps move: a sleep returns at once with the clock at
// its end. The frozen reading starts at the next whole minute of the
// monotonic clock, where every simulated disk (its speed a whole number of
// revolutions a minute) has block 0 under the head, so what is measured
// from there does not depend on the moment of freezing.
void clock_freeze() {
  if (clock_frozen()) return;
  anchor();
  Syscalls& sys = syscalls();
  constexpr int64_t kMinute = 60LL * 1000000000;
  g_frozen.now_ns = (sys.monotonic_ns() / kMinute + 1) * kMinute;
  g_frozen.monotonic = sys.monotonic_ns;
  g_frozen.sleep_until = sys.sleep_until_ns;
  sys.monotonic_ns = frozen_monotonic_ns;
  sys.sleep_until_ns = frozen_sleep_until_ns;
}

void clock_advance(int64_t microseconds) {
  if (clock_frozen() && microseconds > 0) g_frozen.now_ns += microseconds * 1000;
}

// The host's clock is behind the frozen one by however far the frozen clock
// was moved on; the difference (in whole microseconds) is kept as a shift of
// every later reading.
void clock_release() {
  if (!clock_frozen()) return;
  Syscalls& sys = syscalls();
  sys.monotonic_ns = g_frozen.monotonic;
  sys.sleep_until_ns = g_frozen.sleep_until;
  int64_t behind = g_frozen.now_ns - sys.monotonic_ns();
  if (behind > 0) g_shift_ns += (behind + 999) / 1000 * 1000;
}

// Frozen while the seam's clock entry is the frozen one: a SyscallOverride
// scope that ends puts back the clock it found.
bool clock_frozen() {
  auto* entry = syscalls().monotonic_ns.target<int64_t (*)()>();
  return entry != nullptr && *entry == frozen_monotonic_ns;
}

}  // namespace zeb::platform
