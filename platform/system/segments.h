// The typed calls under ALLOCATESEGMENT and USESEGMENT (segment.h has the
// layout of the base and the segment in use).
#pragma once

#include <cstdint>

#include "platform/host/status.h"

namespace zeb::platform {

// allocate_segment: a segment of id segment_id (0 to 32767), segment_size
// bytes, backed by the file of the 24-byte internal name swapfile, which is
// made at least that long with its blocks reserved; the first segment is put
// in use at once. 29 no swap file; 22 an id or size out of range; 12 the id
// is taken; the error of opening or sizing the file; 317 no base.
Status allocate_segment(int16_t segment_id, int32_t segment_size, const char* swapfile);

// use_segment: puts the segment of that id at the base and gives the id of
// the segment in use before (-1: none). 22 for an unknown id, 317 when it
// cannot be mapped (the one before stays in use).
Result<int16_t> use_segment(int16_t segment_id);

}  // namespace zeb::platform
