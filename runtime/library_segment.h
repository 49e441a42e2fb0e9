// The library's extended data segment: settles the swap file that backs it
// (a file the caller names, or a temporary file on the process's swap
// volume), checks or creates that file, and asks the platform for the
// segment at the process's fixed base.
#pragma once

#include <cstdint>

#include <zeb/env/context.h>
#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

namespace zeb {
constexpr int16_t kDefaultSegmentPages = 500;  // UTIL_ALLOCATESEGMENT without parameter 2
constexpr int16_t kMaxSegmentPages = 32000;    // the largest segment, in 2048-byte pages

// Judges the swap file named by the 24-byte internal name (volume,
// subvolume, file; a blank volume is filled in place with the process's swap
// volume) for a segment of pages pages. Returns 0 usable, 1 too small, 2 not
// a disk file or no swap volume, 11 no such file or only a volume named
// (create it), or another error of the inquiry.
ZEB_EXPORT int16_t FILE_EXISTS(char* name, int16_t pages);

// The extent size (pages) and maximum number of extents of a new swap file
// for pages pages: ext * maxext >= pages.
ZEB_EXPORT void swap_extents(int16_t pages, int32_t* ext, int16_t* maxext);
}  // namespace zeb

// Allocates an extended data segment. Parameters: 1 base (receives the
// segment base), 2 pages (2048-byte pages, 1 to 32000; default 500), 3 segment
// id (default 101), 4 swap file (24-byte internal name; default all blanks:
// a temporary file on the process's swap volume). Returns 0; 2 for mask bits
// beyond parameter 4, or when the swap volume cannot be found or the named
// file is not a disk file; 22 pages out of range; 1 a named swap file
// smaller than pages * 2048 bytes; an error of looking the file up, of
// creating it or of asking its capacity; 317 when the platform cannot give
// the segment. The segment is as large as the swap file's capacity; the
// caller uses its first pages * 2048 bytes.
ZEB_EXPORT int16_t UTIL_ALLOCATESEGMENT(uint32_t mask, void** base = nullptr, int16_t pages = 0,
                                        int16_t segment_id = 0, const char* swapfile = nullptr);

// Stores the external name of the volume of the process's swap file (e.g.
// "$TMP") in volume (maxlen bytes) and its length in *length. Returns 0, or 2
// on any failure.
ZEB_EXPORT int16_t UTIL_MYSWAPVOLUME(char* volume, int16_t maxlen, int16_t* length);
