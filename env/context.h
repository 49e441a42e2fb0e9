// The library context: the process-wide record at the base of the library's
// segment, and the start-up flags that choose how a run behaves.
//
// Library segment (segment id 101, at least pages * 2048 bytes):
//   bytes 0-23   the library context (LibraryContext)
//   from 24      the memory pool, pages * 2048 - 24 bytes
// The context's address fields are 32-bit offsets from the segment base
// (0: not set), so the record keeps its 24 bytes on a 64-bit host. Every
// entry point reaches the context through library_context(); nothing is
// passed around. Written only during start-up, then only read.
#pragma once

#include <zeb/env/env.h>
#include <zeb/platform/export.h>

#include <cstdint>

// The library context (24 bytes at the segment base): where the library's
// own records lie, as offsets from the base, and the start-up flags.
struct LibraryContext {
  uint32_t pool;       // the pool: base + 24
  uint32_t env;        // the environment record, set by ENV_STARTUP
  uint32_t timers;     // the timer list, set by TIMER_INIT
  uint32_t term;       // the terminal session record (flag 0x1000 only)
  uint16_t flags;      // the start-up flags, stored as the last step of start-up
  uint16_t reserved1;  // not used
  uint32_t reserved2;  // not used
};
static_assert(sizeof(LibraryContext) == 24);

namespace zeb {

// The segment id of the library's own segment.
constexpr int16_t kLibrarySegmentId = 101;
constexpr int32_t kLibraryPoolOffset = 24;

// The start-up flags (kFlag...) are in env/env.h, with the record that keeps them.

// The process's fixed segment base, where the library context lives; null
// when the process could not reserve one. ZEB_STARTUP compares the base that
// UTIL_ALLOCATESEGMENT reports with this.
ZEB_EXPORT char* library_base();

// The library context at the fixed base, or null when no segment is in use
// at the base (before start-up).
ZEB_EXPORT LibraryContext* library_context();

// Conversions between addresses inside the segment and the 32-bit offsets
// that the context stores. to_segment_offset(nullptr) is 0 and
// from_segment_offset(0) is null.
ZEB_EXPORT uint32_t to_segment_offset(const void* address);
ZEB_EXPORT void* from_segment_offset(uint32_t offset);

// The addresses the context holds, or null when not set (or no context).
ZEB_EXPORT void* library_pool();
ZEB_EXPORT void* library_env();
ZEB_EXPORT void* library_timers();
ZEB_EXPORT void* library_term();
// The start-up flags, 0 when there is no context.
ZEB_EXPORT uint16_t library_flags();

}  // namespace zeb
