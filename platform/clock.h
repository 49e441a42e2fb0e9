// The processor clock and the Julian timestamps derived from it.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// Microseconds since 00:00 local civil time on 31 December 1974. A monotonic
// clock is anchored to the wall clock once per process (once per host, for a
// test that makes hosts of its own), so two readings never go backwards and
// their difference is a true interval.
ZEB_EXPORT int64_t PROCESSOR_CLOCK();

// Julian timestamps in microseconds. Type 0: the current Greenwich time.
// Other types are not kept on this host and give the current Greenwich time
// as well.
ZEB_EXPORT int64_t JULIANTIMESTAMP(int16_t type = 0);

// Microseconds of processor time this process has used.
ZEB_EXPORT int64_t MYPROCESSTIME();

namespace zeb {
// The Julian timestamp of the processor clock's zero: midnight at the start
// of 31 December 1974 (Julian day 2442412.5) in microseconds.
constexpr int64_t kJulianEpochOffset = 211024440000000000LL;
}  // namespace zeb

namespace zeb::platform {
// A virtual clock on the host seam (syscalls.h): while frozen, the processor
// clock and JULIANTIMESTAMP stand still except when clock_advance or a sleep
// of the platform moves them (a sleep then returns at once), so tests of
// timers, samplers and the simulated disk see exact times. Freezing starts
// the clock at the next whole minute of the monotonic clock; releasing goes
// back to the host's clock without ever reading earlier than before.
ZEB_EXPORT void clock_freeze();
ZEB_EXPORT void clock_advance(int64_t microseconds);
ZEB_EXPORT void clock_release();
ZEB_EXPORT bool clock_frozen();
}  // namespace zeb::platform
