// Extended data segments: a block of memory backed by a swap file, mapped
// shared, so that what the process writes into the segment lands in the file.
//
// The process has one base address, fixed for its whole life, at which the
// segment in use is mapped. It is 0x80000 when that address range is free and
// otherwise wherever the kernel places the range; segment_base() tells. A
// process may allocate several segments; USESEGMENT chooses the one that
// appears at the base. The first segment allocated is put in use at once.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

namespace zeb {
constexpr uintptr_t kPreferredSegmentBase = 0x80000;  // the base, when that range is free
// Address space kept for the base: the largest segment that can be used.
constexpr int64_t kMaxSegmentBytes = 1LL << 30;
}  // namespace zeb

// Allocates a segment. Parameters: 1 segment id (0 to 32767; required),
// 2 size in bytes (positive; required), 3 the 24-byte internal name of the
// swap file (required; it must exist), 4 flags word (accepted, not
// interpreted on this host). The swap file is made at least size bytes long
// and its disk blocks are reserved, so touching the segment never fails for
// want of space. Returns 0, or: 29 a required parameter missing; 2 mask bits
// beyond parameter 4; 22 id or size out of range (size above
// kMaxSegmentBytes included); 12 the id is already allocated; the error of
// opening or extending the swap file (43 when the disk is full); 317 when the
// base address range cannot be had.
ZEB_EXPORT int16_t ALLOCATESEGMENT(uint32_t mask, int16_t segment_id = 0, int32_t segment_size = 0,
                                   const char* swapfile = nullptr, int16_t flags = 0);

// Puts segment segment_id in use: it is mapped at the base, replacing the
// segment in use before (whose contents stay in its swap file). Parameter 1
// is required. Returns the id of the segment in use before the call (-1 when
// none); -2 when segment_id is missing or not allocated (nothing changes).
ZEB_EXPORT int16_t USESEGMENT(uint32_t mask, int16_t segment_id = 0);

// Gives a segment up: unmaps it and closes its swap file (a temporary swap
// file is then discarded). Parameter 1 segment id (required), 2 flags
// (ignored). Returns 0, 29, 2 for mask bits beyond parameter 2, or 22 when
// the id is not allocated.
ZEB_EXPORT int16_t DEALLOCATESEGMENT(uint32_t mask, int16_t segment_id = 0, int16_t flags = 0);

namespace zeb::platform {

// The process's fixed segment base, reserved on first use; null when no
// address range could be reserved.
ZEB_EXPORT char* segment_base();

// The id of the segment in use at the base, or -1 when none.
ZEB_EXPORT int16_t segment_in_use();

// The size in bytes of the segment in use, or 0 when none.
ZEB_EXPORT int32_t segment_in_use_size();

}  // namespace zeb::platform
