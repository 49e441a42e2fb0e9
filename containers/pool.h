// The memory pool: a boundary-tag heap of variable-sized buffers inside one
// contiguous area that the caller hands over.
//
// Layout of the area (all links and the extent pointer are 32-bit byte
// offsets from the start of the area, so the pool works wherever the area is
// mapped):
//   bytes 0-95   pool header (PoolHeader)
//   from 96      blocks, back to back; the last one is the end block.
// Every block starts with an 8-byte header: the previous tag (size of the
// physically preceding block, negated when that block is in use, 0 for the
// first block) and the size tag (this block's size, header included,
// negated when in use, 0 for the end block). A free block keeps its free-list
// forward and backward offsets in the 8 bytes after its header; the pool
// header's own links stand at the same place, so offset 0 is the list anchor.
//
// One pool is used by one thread; nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The pool statistics record that MEM_STATS fills.
struct PoolStats {
  int64_t elapsed;         // microseconds since the last reset
  int64_t alloc_requests;  // MEM_ALLOC calls, successful or not
  int64_t free_requests;   // MEM_FREE calls, accepted or not
  int64_t splits;          // allocations served by splitting a free block
  int64_t extends;         // allocations carved from the uncarved region
  int64_t whole_allocs;    // allocations served by a whole free block
  int64_t joins;           // merges of a released block with a free neighbour
  int64_t releases;        // trailing free blocks handed back to the uncarved region
  int32_t used;            // bytes carved so far, headers included
  int32_t maxused;         // highest used since the last reset
  int32_t failsize;        // block size of the latest failed allocation; 0 if none
};
static_assert(offsetof(PoolStats, used) == 64 && offsetof(PoolStats, failsize) == 72);

// The pool header at the start of the area (96 bytes).
struct PoolHeader {
  uint32_t extent;         // offset of the end block, the first byte not yet carved
  int32_t unextended;      // bytes behind the end block that may still be carved
  uint32_t free_fwd;       // offset of the first free block; 0 (the header) when empty
  uint32_t free_bwd;       // offset of the last free block; 0 when empty
  int64_t reset_time;      // processor clock at the last statistics reset
  int64_t alloc_requests;  // MEM_ALLOC calls since the reset (PoolStats)
  int64_t free_requests;   // MEM_FREE calls since the reset
  int64_t splits;          // allocations served by splitting a free block
  int64_t extends;         // allocations carved from the uncarved region
  int64_t whole_allocs;    // allocations served by a whole free block
  int64_t joins;           // merges of a released block with a free neighbour
  int64_t releases;        // trailing free blocks handed back to the uncarved region
  int32_t used;            // bytes carved so far, headers included
  int32_t maxused;         // highest used since the reset
  int32_t failsize;        // block size of the latest failed allocation; 0 if none
  int32_t reserved;        // not used
};
static_assert(sizeof(PoolHeader) == 96);

namespace zeb {
constexpr int32_t kPoolHeaderSize = 96;  // the first block lies here
constexpr int32_t kBlockHeaderSize = 8;  // previous tag and size tag
constexpr int32_t kMinBlockSize = 16;    // header and the two free-list links
constexpr int32_t kSplitThreshold = 64;  // larger excess splits the free block
constexpr int32_t kMinPoolSize = 128;    // the smallest area MEM_DEFINEPOOL takes
}  // namespace zeb

// Lays out a new, empty pool over size bytes at pool and resets its
// statistics. Returns 0, or 302 when size is less than 128 (nothing is
// written then). The end block always lies inside the area: when fewer than
// 8 bytes would remain behind the carvable region, 8 bytes of it are kept back.
ZEB_EXPORT int16_t MEM_DEFINEPOOL(void* pool, int32_t size);

// Allocates a buffer of at least size bytes (any size of 8 or less, zero and
// negative counts included, gets the smallest 16-byte block) and stores its
// address in *buffer. Returns 0, or 303 when the pool has no room (the block
// size asked for is kept as failsize; *buffer is not written).
ZEB_EXPORT int16_t MEM_ALLOC(void* pool, void** buffer, int32_t size);

// Gives a buffer back to its pool, joining it with free neighbours and
// handing trailing free space back to the uncarved region. Returns 0; 304
// when buffer is not a buffer in use of this pool (outside the carved part,
// or already free); 305 when its boundary tags disagree. A refused call
// changes nothing but the free-request count.
ZEB_EXPORT int16_t MEM_FREE(void* pool, void* buffer);

// Stores the usable length of a buffer in use (its block size less the
// 8-byte header) in *length. Returns 0, 304 when the size tag is not that of
// a buffer in use, or 305 when the tags disagree.
ZEB_EXPORT int16_t MEM_BUFFERLEN(const void* buffer, int32_t* length);

// Parameter 1 pool (always used), 2 stats (filled when present), 3 reset
// (when present and non-zero the statistics restart after the record is
// filled). Returns 0; 29 when the pool is absent; 2 when mask bits beyond
// parameter 3 are set.
ZEB_EXPORT int16_t MEM_STATS(uint32_t mask, void* pool = nullptr, PoolStats* stats = nullptr,
                             int16_t reset = 0);
