// The processor clock: a monotonic clock anchored once to the local wall
// clock, with a seam that lets tests stop and advance time.
#include "platform/clock.h"

#include <sys/resource.h>
#include <time.h>

namespace {

// Seconds from the Unix epoch to 00:00 on 31 December 1974 (1825 days).
constexpr int64_t kEpoch1974 = 1825LL * 86400;
// Julian timestamp of the Unix epoch (Julian day 2440587.5) in microseconds.
constexpr int64_t kJulianUnixEpoch = 210866760000000000LL;

int64_t monotonic_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct Anchor {
  int64_t mono_us;      // monotonic reading at the anchor
  int64_t utc_us;       // Unix-epoch microseconds (UTC) at the anchor
  int64_t local_shift;  // local civil time minus UTC, in microseconds
};

const Anchor& anchor() {
  static const Anchor a = [] {
    Anchor result{};
    struct timespec wall;
    clock_gettime(CLOCK_REALTIME, &wall);
    result.mono_us = monotonic_us();
    result.utc_us = static_cast<int64_t>(wall.tv_sec) * 1000000 + wall.tv_nsec / 1000;
    tzset();
    struct tm local;
    time_t now = wall.tv_sec;
    localtime_r(&now, &local);
    result.local_shift = static_cast<int64_t>(local.tm_gmtoff) * 1000000;
    return result;
  }();
  return a;
}

bool g_frozen = false;
int64_t g_frozen_mono = 0;

// Microseconds elapsed since the anchor, as the clock currently reads.
int64_t since_anchor() {
  const Anchor& a = anchor();
  int64_t mono = g_frozen ? g_frozen_mono : monotonic_us();
  return mono - a.mono_us;
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

int64_t MYPROCESSTIME() {
  struct timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

namespace zeb::platform {

void clock_freeze() {
  if (!g_frozen) {
    anchor();
    g_frozen_mono = monotonic_us();
    g_frozen = true;
  }
}

void clock_advance(int64_t microseconds) {
  if (g_frozen) g_frozen_mono += microseconds;
}

void clock_release() { g_frozen = false; }

bool clock_frozen() { return g_frozen; }

}  // namespace zeb::platform
