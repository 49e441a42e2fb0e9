// Segmented messages. The walk over the segment chain is shared by every
// procedure and checks each segment against the total length before any byte
// of it is used, so a malformed message can only give an error.
#include <zeb/msg/msg.h>

#include <cstring>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>

namespace {

namespace err = zeb::err;
using zeb::msg::kHeaderLength;
using zeb::msg::kMaxLength;
using zeb::msg::kSegmentCountOffset;
using zeb::msg::kSegmentHeaderLength;
using zeb::msg::kTimestampOffset;
using zeb::msg::kTotalLengthOffset;

inline int16_t get16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }

inline void put16(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline int32_t padded(int32_t length) { return length + (length & 1); }

// A cursor over the segment chain of one message. Its limits come from the
// header, read once: the total length and the segment count.
struct Walk {
  const uint8_t* base;
  int32_t total;  // total length; the walk never looks at a byte from here on
  int32_t count;  // recorded number of segments
  int32_t offset = kHeaderLength;
  int32_t index = 0;

  // The header's limits; false when the total length cannot even cover the
  // header (then only the first word has been read).
  explicit Walk(const void* message)
      : base(static_cast<const uint8_t*>(message)), total(get16(base)), count(0) {
    if (total >= kHeaderLength) count = get16(base + kSegmentCountOffset);
  }
  bool header_ok() const { return total >= kHeaderLength; }

  // True while the recorded count and the total length both say that
  // another segment follows.
  bool more() const { return index < count && offset < total; }

  // The padded length of the segment at the cursor, or 0 when it is not a
  // whole segment inside the total length: its length and type words must
  // lie inside, its length must cover them, and its padded end must not run
  // past the total.
  int32_t current_length() const {
    if (offset + kSegmentHeaderLength > total) return 0;
    int32_t length = get16(base + offset);
    if (length < kSegmentHeaderLength) return 0;
    int32_t size = padded(length);
    return size <= total - offset ? size : 0;
  }
  int16_t current_type() const { return get16(base + offset + 2); }

  void next(int32_t size) {
    offset += size;
    ++index;
  }

  // The chain adds up: the walk reached the total after the recorded count.
  bool sound_end() const { return offset == total && index == count; }
};

}  // namespace

int16_t MSG_INIT(void* message) {
  auto* m = static_cast<uint8_t*>(message);
  std::memset(m, 0, kHeaderLength);
  put16(m + kTotalLengthOffset, kHeaderLength);
  put16(m + 4, 1);
  const uint64_t stamp = static_cast<uint64_t>(JULIANTIMESTAMP(0));
  for (int i = 0; i < 8; ++i) m[kTimestampOffset + i] = static_cast<uint8_t>(stamp >> (56 - 8 * i));
  put16(m + kSegmentCountOffset, 0);
  return err::kOk;
}

// The caller's buffer is checked, not trusted: a segment that does not fit
// behind the message, or that would overflow the 16-bit total length or
// count, is refused and the message is left as it was.
int16_t MSG_ADDSEGMENT(void* message, const void* segment, int32_t capacity) {
  if (message == nullptr || segment == nullptr) return err::kMissingParameter;
  auto* m = static_cast<uint8_t*>(message);
  const int32_t total = get16(m + kTotalLengthOffset);
  if (total < kHeaderLength) return err::kBadMessage;
  const int32_t count = get16(m + kSegmentCountOffset);

  const auto* s = static_cast<const uint8_t*>(segment);
  const int32_t length = (s[0] << 8) | s[1];  // unsigned as copied
  if (length < kSegmentHeaderLength) return err::kOutOfBounds;
  const int32_t size = padded(length);
  if (size > kMaxLength - total) return err::kOutOfBounds;
  if (capacity < total || size > capacity - total) return err::kOutOfBounds;
  if (count < 0 || count >= kMaxLength) return err::kOutOfBounds;

  std::memmove(m + total, s, static_cast<size_t>(length));  // the pad byte is not written
  put16(m + kTotalLengthOffset, total + size);
  put16(m + kSegmentCountOffset, count + 1);
  return err::kOk;
}

// An occurrence below 1 can never be reached, so such a call finds nothing.
int16_t MSG_GETSEGMENT(uint32_t mask, void** segment, const void* message, int16_t occurrence,
                       int16_t type) {
  if (!zeb::present(mask, 2) || message == nullptr) return err::kMissingParameter;
  if (!zeb::mask_fits(mask, 4)) return err::kInvalidOperation;
  const bool want_address = zeb::present(mask, 1) && segment != nullptr;
  const int16_t wanted = zeb::present(mask, 3) ? occurrence : int16_t{1};
  const bool typed = zeb::present(mask, 4);

  Walk w(message);
  if (!w.header_ok()) return err::kBadMessage;
  if (wanted < 1) return err::kNotFound;
  int32_t found = 0;
  while (w.more()) {
    const int32_t size = w.current_length();
    if (size == 0) return err::kBadMessage;
    if (want_address) *segment = const_cast<uint8_t*>(w.base + w.offset);
    if (!typed || w.current_type() == type) {
      if (++found == wanted) return err::kOk;
    }
    w.next(size);
  }
  return w.sound_end() ? err::kNotFound : err::kBadMessage;
}

int16_t MSG_DELETESEGMENT(void* message, const void* segment) {
  if (message == nullptr) return err::kMissingParameter;
  auto* m = static_cast<uint8_t*>(message);
  Walk w(message);
  if (!w.header_ok()) return err::kBadMessage;

  // An address outside the segment area is not a segment of this message;
  // compared as integers so that any address can be judged.
  const auto start = reinterpret_cast<uintptr_t>(m);
  const auto at = reinterpret_cast<uintptr_t>(segment);
  if (at < start + kHeaderLength || at >= start + static_cast<uint32_t>(w.total))
    return err::kNotFound;
  const auto target = static_cast<int32_t>(at - start);

  while (w.offset < target && w.index < w.count) {
    const int32_t size = w.current_length();
    if (size == 0) return err::kBadMessage;
    w.next(size);
  }
  if (w.offset != target) return err::kNotFound;
  // The chain reached the address after all recorded segments: the count
  // and the total length disagree.
  if (w.index >= w.count) return err::kBadMessage;
  const int32_t size = w.current_length();
  if (size == 0) return err::kBadMessage;

  const int32_t end = target + size;
  std::memmove(m + target, m + end, static_cast<size_t>(w.total - end));
  put16(m + kTotalLengthOffset, w.total - size);
  put16(m + kSegmentCountOffset, w.count - 1);
  return err::kOk;
}

int16_t MSG_VERIFY(const void* message) {
  if (message == nullptr) return err::kMissingParameter;
  Walk w(message);
  if (!w.header_ok()) return err::kBadMessage;
  while (w.more()) {
    const int32_t size = w.current_length();
    if (size == 0) return err::kBadMessage;
    w.next(size);
  }
  return w.sound_end() ? err::kOk : err::kBadMessage;
}
