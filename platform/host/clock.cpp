// The processor clock: the monotonic clock of the host seam, anchored to the
// local wall clock once per host. Tests (and a simulated disk with a virtual
// clock) stop it and move it on by hand.
//
// The clock's state (its anchor, the shift a released clock keeps, and the
// frozen reading) belongs to the host in force (host.h), so a test's host
// starts with a clock of its own. The seam's table is the process's, so a
// frozen clock puts an entry into it that names the clock state it reads;
// only that state's host counts as frozen, and the state puts the host's
// entries back when it goes while still frozen.
#include <zeb/platform/clock.h>

#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

// Seconds from the Unix epoch to 00:00 on 31 December 1974 (1825 days).
constexpr int64_t kEpoch1974 = 1825LL * 86400;
// Julian timestamp of the Unix epoch (Julian day 2440587.5) in microseconds.
constexpr int64_t kJulianUnixEpoch = 210866760000000000LL;

struct ClockState;

// The seam's monotonic clock and sleep while a clock state is frozen. They
// are function objects, not lambdas, so that clock_frozen can find the
// state an entry reads.
struct FrozenReading {
  ClockState* state;
  int64_t operator()() const;
};
struct FrozenSleep {
  ClockState* state;
  int operator()(int64_t target) const;
};

struct ClockState {
  ClockState() {
    const Syscalls& sys = syscalls();
    int64_t wall = sys.realtime_ns();
    // A whole microsecond, so that a clock reading is the truncated
    // monotonic reading and intervals depend on the readings alone.
    anchor_mono_ns = sys.monotonic_ns() / 1000 * 1000;
    anchor_utc_us = wall / 1000;
    local_shift_us = static_cast<int64_t>(sys.local_offset_s(wall / 1000000000)) * 1000000;
  }
  ~ClockState() {
    if (frozen()) put_back_entries();
  }
  ClockState(const ClockState&) = delete;
  ClockState& operator=(const ClockState&) = delete;

  bool frozen() const {
    const auto* entry = syscalls().monotonic_ns.target<FrozenReading>();
    return entry != nullptr && entry->state == this;
  }
  void put_back_entries() {
    Syscalls& sys = syscalls();
    sys.monotonic_ns = std::move(before_monotonic);
    sys.sleep_until_ns = std::move(before_sleep_until);
  }
  // Microseconds elapsed since the anchor, as the clock currently reads.
  int64_t since_anchor() const {
    return (syscalls().monotonic_ns() + shift_ns - anchor_mono_ns) / 1000;
  }

  int64_t anchor_mono_ns;  // monotonic reading at the anchor, a whole microsecond
  int64_t anchor_utc_us;   // Unix-epoch microseconds (UTC) at the anchor
  int64_t local_shift_us;  // local civil time minus UTC, in microseconds
  // Added to every monotonic reading: what a released clock had been
  // advanced beyond the host's clock, so that release never moves it back.
  int64_t shift_ns = 0;
  int64_t now_ns = 0;  // the reading while frozen
  // The seam's entries in place before freezing.
  std::function<int64_t()> before_monotonic;
  std::function<int(int64_t)> before_sleep_until;
};

int64_t FrozenReading::operator()() const { return state->now_ns; }

int FrozenSleep::operator()(int64_t target) const {
  if (target > state->now_ns) state->now_ns = target;
  return 0;
}

ClockState& clock() { return host().state<ClockState>(); }

}  // namespace

// Freezing replaces the seam's monotonic clock with a reading that only
// clock_advance and sleeps move: a sleep returns at once with the clock at
// its end. The frozen reading starts at the next whole minute of the
// monotonic clock, where every simulated disk (its speed a whole number of
// revolutions a minute) has block 0 under the head, so what is measured
// from there does not depend on the moment of freezing.
void clock_freeze() {
  ClockState& c = clock();  // anchored on the host's clock, before it stops
  if (c.frozen()) return;
  Syscalls& sys = syscalls();
  constexpr int64_t kMinute = 60LL * 1000000000;
  c.now_ns = (sys.monotonic_ns() / kMinute + 1) * kMinute;
  c.before_monotonic = sys.monotonic_ns;
  c.before_sleep_until = sys.sleep_until_ns;
  sys.monotonic_ns = FrozenReading{&c};
  sys.sleep_until_ns = FrozenSleep{&c};
}

void clock_advance(int64_t microseconds) {
  ClockState& c = clock();
  if (c.frozen() && microseconds > 0) c.now_ns += microseconds * 1000;
}

// The host's clock is behind the frozen one by however far the frozen clock
// was moved on; the difference (in whole microseconds) is kept as a shift of
// every later reading.
void clock_release() {
  ClockState& c = clock();
  if (!c.frozen()) return;
  const int64_t frozen_at = c.now_ns;
  c.put_back_entries();
  int64_t behind = frozen_at - syscalls().monotonic_ns();
  if (behind > 0) c.shift_ns += (behind + 999) / 1000 * 1000;
}

// Frozen while the seam's clock entry is this host's frozen one: a
// SyscallOverride scope that ends puts back the clock it found.
bool clock_frozen() { return clock().frozen(); }

}  // namespace zeb::platform

int64_t PROCESSOR_CLOCK() {
  const zeb::platform::ClockState& c = zeb::platform::clock();
  return c.anchor_utc_us + c.local_shift_us - zeb::platform::kEpoch1974 * 1000000 +
         c.since_anchor();
}

int64_t JULIANTIMESTAMP(int16_t /*type*/) {
  const zeb::platform::ClockState& c = zeb::platform::clock();
  return c.anchor_utc_us + zeb::platform::kJulianUnixEpoch + c.since_anchor();
}

int64_t MYPROCESSTIME() { return zeb::platform::syscalls().process_time_ns() / 1000; }
