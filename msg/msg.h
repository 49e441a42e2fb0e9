// Segmented messages: a self-describing byte buffer made of a fixed header
// stamped with its creation time, followed by typed segments of variable
// length. A process builds one and sends it to another.
//
// Wire format (all integers big-endian, offsets from the start):
//   header, 34 bytes
//     0  2  total length of the message, header included (34 when empty)
//     4  2  1            (2, 6-20 and 30: 0; set by MSG_INIT, never read)
//    22  8  creation time, Greenwich Julian timestamp in microseconds
//    32  2  number of segments
//   segments, the first at offset 34, each right after the previous one
//     0  2  segment length in bytes, these two bytes included (at least 4)
//     2  2  segment type
//     4     data
//   Each segment occupies its length rounded up to even; the pad byte after
//   an odd-length segment is not written.
// A message is sound when walking the segments from offset 34, adding each
// padded length, reaches exactly the total length after exactly the
// recorded number of segments.
//
// The message is the first total-length bytes of the caller's buffer. Every
// procedure checks each length against the total before it moves a byte, so
// no message, however malformed, makes it read or write outside them. A
// failed call changes nothing in the message. The procedures keep no state;
// the buffer belongs to the caller (one thread at a time).
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>
#include <type_traits>

namespace zeb::msg {
constexpr int16_t kHeaderLength = 34;        // the message header; the first segment follows
constexpr int16_t kMaxLength = 32767;        // the total length is a signed 16-bit field
constexpr int16_t kSegmentHeaderLength = 4;  // length and type words
constexpr int kTotalLengthOffset = 0;        // header: the message's total length, 16 bits
constexpr int kTimestampOffset = 22;         // header: the timestamp of MSG_INIT, 64 bits
constexpr int kSegmentCountOffset = 32;      // header: the number of segments, 16 bits
}  // namespace zeb::msg

// Writes an empty header (34 bytes) into message, stamped with the current
// Greenwich Julian timestamp. Always 0.
ZEB_EXPORT int16_t MSG_INIT(void* message);

// Appends a copy of segment, whose first (big-endian) word gives its length,
// to message, whose buffer holds capacity bytes. Returns 0; 22 when the
// segment is shorter than its own 4-byte header, when its padded length does
// not fit in the buffer behind the message, when it would make the total
// length exceed 32767 or the segment count exceed 32767; 308 when the header
// is not a message (total length below 34). Nothing changes on failure.
ZEB_EXPORT int16_t MSG_ADDSEGMENT(void* message, const void* segment, int32_t capacity);

// Finds the occurrence-th segment (counted from 1, default 1) of message, of
// the given type when type is present, else of any type. Parameter mask: bit
// 31 segment, 30 message, 29 occurrence, 28 type. segment, when present,
// receives the address of each segment walked, so after success the one
// found. Returns 0; 29 without the message; 2 for mask bits beyond type;
// 11 when a sound message has no such segment, or occurrence is below 1;
// 308 when the chain does not add up before the segment is found.
ZEB_EXPORT int16_t MSG_GETSEGMENT(uint32_t mask, void** segment = nullptr,
                                  const void* message = nullptr, int16_t occurrence = 1,
                                  int16_t type = 0);

// Typed form for callers that keep segment addresses as other pointer types.
template <typename T>
inline int16_t MSG_GETSEGMENT(uint32_t mask, T** segment, const void* message = nullptr,
                              int16_t occurrence = 1, int16_t type = 0) {
  void* found =
      segment != nullptr ? static_cast<void*>(const_cast<std::remove_cv_t<T>*>(*segment)) : nullptr;
  int16_t error =
      MSG_GETSEGMENT(mask, segment != nullptr ? &found : nullptr, message, occurrence, type);
  if (segment != nullptr) *segment = static_cast<T*>(found);
  return error;
}

// Deletes the segment that starts at address segment (as MSG_GETSEGMENT
// gives it) by moving the later segments down over it; the bytes beyond the
// new total length keep their values. Returns 0; 11 when the address is not
// the start of one of the message's segments; 308 when the chain does not
// add up up to that segment or the segment runs past the total length.
ZEB_EXPORT int16_t MSG_DELETESEGMENT(void* message, const void* segment);

// Checks the segment chain: 0 for a sound message, else 308.
ZEB_EXPORT int16_t MSG_VERIFY(const void* message);
