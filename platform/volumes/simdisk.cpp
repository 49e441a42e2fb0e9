// The simulated rotating disk: the files of a simulated volume live in memory
// (memfd), and every write waits for its block to come round.
#include "platform/volumes/simdisk.h"

#include <map>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

constexpr int64_t kBlocksPerTrack = 32;

struct DiskState {
  int64_t writes = 0;
  int64_t last_block = -1;  // block of the previous write
};

// The write counts and last writes of the simulated disks, by volume name:
// a state of the host, so a test's own host starts every disk afresh.
struct SimulatedDisks {
  std::map<std::string, DiskState> disks;
};

std::map<std::string, DiskState>& disks() { return host().state<SimulatedDisks>().disks; }

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

}  // namespace

void simdisk_reset() { disks().clear(); }

Status simdisk_write(const Volume& v, long long offset) {
  const Syscalls& sys = syscalls();
  DiskState& state = disks()[v.name];
  ++state.writes;
  if (v.fail_at > 0 && state.writes == v.fail_at) return Status::error(err::kDeviceError);
  int64_t block = offset / 512;
  const int64_t asked = sys.monotonic_ns();
  int64_t target = next_passage(asked, v.rpm, block);
  // A rewrite of the block just written takes at least one revolution from
  // the moment it is asked for: a program that was late to ask (preempted,
  // say) waits the full revolution instead of catching a passage that came
  // early. A program that reads its clock after each write returns (before
  // it asks for the next) so never times an interval shorter than a
  // revolution, however unevenly its readings are delayed. On the virtual
  // clock, where asking takes no time, rewrites complete exactly one
  // revolution apart.
  if (block == state.last_block) {
    int64_t revolution = (60000000000LL + v.rpm - 1) / v.rpm;
    if (target < asked + revolution) target = asked + revolution;
  }
  // A busy disk: every K-th write finds another request ahead of it at the
  // block and waits three more revolutions, as on a disk another program
  // shares. The figure, a trimmed mean, stays; the pass times spread.
  if (v.busy_every > 0 && state.writes % v.busy_every == 0) {
    target += 3 * ((60000000000LL + v.rpm - 1) / v.rpm);
  }
  // A sleep that fails for any reason but an interruption is not retried:
  // the rest of the wait is spent reading the clock, which always ends.
  if (sys.sleep_until_ns(target) != 0) {
    while (sys.monotonic_ns() < target) {
    }
  }
  state.last_block = block;
  return Status();
}

}  // namespace zeb::platform
