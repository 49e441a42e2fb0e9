// Feeds arbitrary bytes as a segmented message to MSG_VERIFY, MSG_GETSEGMENT,
// MSG_DELETESEGMENT and MSG_ADDSEGMENT.
//
// The message lives in a heap buffer of exactly its claimed total length (2
// bytes when that is below a header's 34), so the address sanitizer reports
// any byte read or written outside it. Input bytes beyond the message choose
// the search parameters, an address to delete and a segment to append.
// Besides memory safety the target checks that sound messages stay sound.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "msg/msg.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

int get16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }

// Reads parameters from the input's tail, zero when it runs out.
struct Params {
  const uint8_t* p;
  size_t n;
  int take16() {
    int v = 0;
    for (int i = 0; i < 2; ++i) {
      v = (v << 8) | (n > 0 ? *p : 0);
      if (n > 0) ++p, --n;
    }
    return static_cast<int16_t>(v);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int claimed = get16(data);
  const size_t length = claimed >= zeb::msg::kHeaderLength ? static_cast<size_t>(claimed) : 2;
  auto message = std::make_unique<uint8_t[]>(length);
  std::memset(message.get(), 0, length);
  std::memcpy(message.get(), data, size < length ? size : length);
  uint8_t* m = message.get();
  Params params{data + (size < length ? size : length), size > length ? size - length : 0};

  const int16_t verified = MSG_VERIFY(m);
  check(verified == 0 || verified == 308);
  const int count = length >= 34 ? get16(m + 32) : 0;

  // A sound message gives every segment and then reports the end.
  if (verified == 0) {
    for (int k = 1; k <= count; ++k) {
      void* seg = nullptr;
      check(MSG_GETSEGMENT(zeb::mask({1, 2, 3}), &seg, m, static_cast<int16_t>(k)) == 0);
      const auto* s = static_cast<const uint8_t*>(seg);
      check(s >= m + 34 && s + get16(s) <= m + length);
    }
    check(MSG_GETSEGMENT(zeb::mask({2, 3}), nullptr, m, static_cast<int16_t>(count + 1)) == 11);
  }

  // A search with parameters from the input, and the deletion of what it finds.
  const uint32_t mask = static_cast<uint32_t>(params.take16() & 0x1F) << 27 | 0x40000000u;
  const int16_t occurrence = static_cast<int16_t>(params.take16());
  const int16_t type = static_cast<int16_t>(params.take16());
  void* seg = nullptr;
  const int16_t got = MSG_GETSEGMENT(mask, &seg, m, occurrence, type);
  check(got == 0 || got == 2 || got == 11 || got == 308);
  if (got == 0 && seg != nullptr) {
    const int16_t deleted = MSG_DELETESEGMENT(m, seg);
    check(deleted == 0 || deleted == 308);
    if (verified == 0) check(deleted == 0 && MSG_VERIFY(m) == 0);
  }

  // The deletion of an arbitrary address inside the buffer.
  const size_t at = static_cast<uint16_t>(params.take16()) % (length + 1);
  const int16_t deleted = MSG_DELETESEGMENT(m, m + at);
  check(deleted == 0 || deleted == 11 || deleted == 308);
  const bool sound = MSG_VERIFY(m) == 0;
  if (verified == 0 && deleted == 0) check(sound);

  // Appending the rest of the input as a segment to a copy of the message in
  // a buffer of exactly the capacity passed: it fits or is refused, and
  // never spills.
  const size_t room = static_cast<uint16_t>(params.take16()) % 512;
  if (params.n >= 2) {
    const size_t capacity = length + room;
    auto copy = std::make_unique<uint8_t[]>(capacity);
    std::memcpy(copy.get(), m, length);
    auto segment = std::make_unique<uint8_t[]>(params.n);
    std::memcpy(segment.get(), params.p, params.n);
    const int declared = (params.p[0] << 8) | params.p[1];
    if (declared <= static_cast<int>(params.n)) {
      const int16_t added =
          MSG_ADDSEGMENT(copy.get(), segment.get(), static_cast<int32_t>(capacity));
      check(added == 0 || added == 22 || added == 308);
      if (added != 0) check(std::memcmp(copy.get(), m, length) == 0);
      if (sound && added == 0) check(MSG_VERIFY(copy.get()) == 0);
    }
  }
  return 0;
}
