// The simulated rotating disk (internal to the platform).
#pragma once

#include <cstdint>

#include "platform/host/status.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {

// One write to the simulated volume v at byte offset: counts the write and,
// when it is the volume's failing write, returns the I/O error (190) at
// once; otherwise waits until the offset's block next passes under the head
// and returns success. The disk turns at v.rpm with 32 blocks of 512 bytes a track, so
// back-to-back rewrites of one block take exactly one revolution each. The
// wait is the seam's sleep_until_ns: while the processor clock is frozen it
// advances the clock instead of sleeping.
Status simdisk_write(const Volume& v, long long offset);

// Forgets every disk's write count and last write (a new volume table).
void simdisk_reset();

}  // namespace zeb::platform
