// The simulated rotating disk: the files of a simulated volume live in memory
// (memfd), and every write waits for its block to come round.
#include "platform/simdisk.h"

#include <time.h>

#include <map>
#include <string>

#include "platform/clock.h"
#include "platform/errors.h"

namespace zeb::platform {
namespace {

constexpr int64_t kBlocksPerTrack = 32;

struct DiskState {
  int64_t writes = 0;
  int64_t last_block = -1;  // block of the previous write
  int64_t last_return = 0;  // monotonic ns when the previous write returned
};

std::map<std::string, DiskState>& disks() {
  static std::map<std::string, DiskState> states;
  return states;
}

int64_t monotonic_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The first time after now (nanoseconds on a clock whose zero is a moment
// when block 0 was under the head) at which the block passes under the head.
// A revolution takes 60e9 / rpm ns; the block sits (block % 32) / 32 of a
// revolution after block 0. Computed exactly in 128-bit integers so that
// passages never drift.
int64_t next_passage(int64_t now, int32_t rpm, int64_t block) {
  const __int128 minute = static_cast<__int128>(60) * 1000000000 * kBlocksPerTrack;
  // Times are scaled by rpm * 32 to stay integral.
  __int128 scaled_now = static_cast<__int128>(now) * rpm * kBlocksPerTrack;
  __int128 offset = static_cast<__int128>(block % kBlocksPerTrack) * 60 * 1000000000;
  __int128 k = (scaled_now - offset) / minute + 1;
  if (k < 0) k = 0;
  __int128 at = offset + k * minute;
  while (at <= scaled_now) at += minute;
  __int128 divisor = static_cast<__int128>(rpm) * kBlocksPerTrack;
  return static_cast<int64_t>((at + divisor - 1) / divisor);
}

void wait_until_ns(int64_t target) {
  // Sleep to shortly before the passage, then spin the last stretch so the
  // completion time does not carry the scheduler's wake-up delay.
  constexpr int64_t kSpin = 300000;
  if (target - monotonic_ns() > kSpin) {
    struct timespec ts;
    int64_t sleep_to = target - kSpin;
    ts.tv_sec = sleep_to / 1000000000;
    ts.tv_nsec = sleep_to % 1000000000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
    }
  }
  while (monotonic_ns() < target) {
  }
}

}  // namespace

int16_t simdisk_write(const Volume& v, long long offset) {
  DiskState& state = disks()[v.name];
  ++state.writes;
  if (v.fail_at > 0 && state.writes == v.fail_at) return err::kDeviceError;
  int64_t block = offset / 512;
  if (clock_frozen()) {
    // Tests: time stands still until the disk moves it to the passage.
    int64_t now_ns = PROCESSOR_CLOCK() * 1000;
    int64_t at = next_passage(now_ns, v.rpm, block);
    clock_advance((at - now_ns + 999) / 1000);
  } else {
    int64_t target = next_passage(monotonic_ns(), v.rpm, block);
    // A rewrite of the block just written takes at least one revolution from
    // the moment the previous write was handed back: a program that was
    // late to ask (preempted, say) waits the full revolution again instead
    // of catching a passage that came early. Back-to-back rewrites are so
    // timed one revolution apart however late the program reads its clock.
    if (block == state.last_block && state.last_return > 0) {
      int64_t revolution = (60000000000LL + v.rpm - 1) / v.rpm;
      if (target < state.last_return + revolution) target = state.last_return + revolution;
    }
    wait_until_ns(target);
    state.last_block = block;
    state.last_return = monotonic_ns();
  }
  return 0;
}

}  // namespace zeb::platform
