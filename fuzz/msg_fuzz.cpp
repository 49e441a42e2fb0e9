// Drives the message-segment procedures with a program decoded from the
// input: a buffer of a chosen capacity, then a sequence of calls (MSG_INIT,
// MSG_ADDSEGMENT, MSG_GETSEGMENT, MSG_DELETESEGMENT, MSG_VERIFY), raw loads
// and word overwrites, with lengths, masks, occurrences, types and addresses
// taken from the input.
//
// After every call the whole buffer, the result and any address returned are
// compared with a plain model of the message: a refused call changes no
// byte, an accepted one changes exactly the bytes it should, and a sound
// message stays sound. The buffer and every appended segment are heap blocks
// of exactly their size, so the address sanitizer reports any byte read or
// written outside them. The fuzzer keeps the caller's side of the contract:
// the total length never claims more than the buffer holds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include <zeb/msg/msg.h>

namespace {

constexpr int kHeader = zeb::msg::kHeaderLength;
constexpr int kMaxTotal = zeb::msg::kMaxLength;
constexpr int kMaxCalls = 256;

void check(bool ok) {
  if (!ok) std::abort();
}

int get16(const uint8_t* p) { return static_cast<int16_t>((p[0] << 8) | p[1]); }
int getu16(const uint8_t* p) { return (p[0] << 8) | p[1]; }
void put16(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
int padded(int length) { return length + (length & 1); }

// The program: bytes taken from the front of the input, zero once it runs out.
struct Input {
  const uint8_t* p;
  size_t n;
  int u8() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  int u16() {  // two statements: the order of the bytes is fixed
    const int high = u8();
    return (high << 8) | u8();
  }
  int s16() { return static_cast<int16_t>(u16()); }
};

// The segment chain as the model walks it: the whole segments found before
// the walk stopped, and why it stopped.
struct Chain {
  enum Stop { kCountReached, kTotalReached, kBroken };
  bool header_ok = false;
  int total = 0, count = 0;
  std::vector<int> offsets, sizes, types;
  int end = kHeader;  // where the walk stopped
  Stop stop = kCountReached;
  bool sound() const {
    return header_ok && stop != kBroken && end == total &&
           offsets.size() == static_cast<size_t>(count);
  }
};

Chain walk(const uint8_t* m) {
  Chain c;
  c.total = get16(m);
  if (c.total < kHeader) return c;
  c.header_ok = true;
  c.count = get16(m + 32);
  int offset = kHeader;
  for (int index = 0;; ++index) {
    if (index >= c.count) {
      c.stop = Chain::kCountReached;
      break;
    }
    if (offset >= c.total) {
      c.stop = Chain::kTotalReached;
      break;
    }
    const int length = offset + 4 <= c.total ? get16(m + offset) : 0;
    if (length < 4 || padded(length) > c.total - offset) {
      c.stop = Chain::kBroken;
      break;
    }
    c.offsets.push_back(offset);
    c.sizes.push_back(padded(length));
    c.types.push_back(get16(m + offset + 2));
    offset += padded(length);
  }
  c.end = offset;
  return c;
}

// One run: the buffer, the message at its start (possibly at an odd
// address), and the capacity the caller owns.
struct Run {
  std::unique_ptr<uint8_t[]> block;
  uint8_t* m;
  int capacity;
  std::vector<uint8_t> before;  // the buffer before the current call

  void snapshot() { before.assign(m, m + capacity); }
  bool unchanged() const { return std::memcmp(m, before.data(), capacity) == 0; }
  bool equals(const std::vector<uint8_t>& expected) const {
    return std::memcmp(m, expected.data(), capacity) == 0;
  }
  // Keeps the caller's promise that the message lies inside the buffer.
  void clamp_total() {
    if (get16(m) > capacity) put16(m, capacity);
  }
};

// A 16-bit value from the input: raw, or one of the values where the
// procedures' limits lie for the message as it stands.
int value(Input& in, const Run& r, const Chain& c) {
  const int selector = in.u8();
  if ((selector & 0x80) != 0) return in.s16();
  const int near[] = {0,
                      1,
                      2,
                      3,
                      4,
                      5,
                      kHeader,
                      c.total,
                      c.total - 1,
                      c.total + 1,
                      r.capacity,
                      kMaxTotal,
                      kMaxTotal - 1,
                      -1,
                      -32768,
                      kMaxTotal - c.total,
                      kMaxTotal - c.total + 1};
  return near[selector % (sizeof near / sizeof near[0])];
}

void call_init(Run& r) {
  r.snapshot();
  check(MSG_INIT(r.m) == 0);
  static const uint8_t kZeroWords[] = {2, 6, 8, 10, 12, 14, 16, 18, 20, 30, 32};
  check(get16(r.m) == kHeader && get16(r.m + 4) == 1);
  for (uint8_t off : kZeroWords) check(get16(r.m + off) == 0);
  check(std::memcmp(r.m + kHeader, r.before.data() + kHeader, r.capacity - kHeader) == 0);
  check(MSG_VERIFY(r.m) == 0);
}

// Appends a segment of the declared length (unsigned, as copied), either a
// fresh heap block of exactly that many bytes or a segment of the message
// itself, under a capacity no larger than the buffer.
void call_add(Run& r, Input& in, bool from_message) {
  const Chain c = walk(r.m);
  std::unique_ptr<uint8_t[]> own;
  const uint8_t* s;
  if (from_message) {
    if (c.offsets.empty()) return;
    s = r.m + c.offsets[in.u8() % c.offsets.size()];
  } else {
    const int declared = value(in, r, c) & 0xFFFF;
    const size_t bytes = declared < 4 ? 4 : static_cast<size_t>(declared);
    own = std::make_unique<uint8_t[]>(bytes);
    std::memset(own.get(), in.u8(), bytes);
    put16(own.get(), declared);
    put16(own.get() + 2, in.s16());
    s = own.get();
  }
  // The whole buffer, or a capacity around the segment's end, or any.
  int capacity = r.capacity;
  const int mode = in.u8() % 3;
  if (mode == 1) capacity = c.total + padded(getu16(s)) + in.u8() % 4 - 2;
  if (mode == 2) capacity = value(in, r, c);
  capacity = std::min(capacity, r.capacity);
  const int length = getu16(s);

  int expect = 0;
  if (!c.header_ok)
    expect = 308;
  else if (length < 4 || padded(length) > kMaxTotal - c.total || capacity < c.total ||
           padded(length) > capacity - c.total || c.count < 0 || c.count >= kMaxTotal)
    expect = 22;
  std::vector<uint8_t> expected(r.m, r.m + r.capacity);
  if (expect == 0) {
    std::memmove(expected.data() + c.total, s, length);
    put16(expected.data(), c.total + padded(length));
    put16(expected.data() + 32, c.count + 1);
  }
  r.snapshot();
  check(MSG_ADDSEGMENT(r.m, s, capacity) == expect);
  check(r.equals(expected));
  if (expect == 0 && c.sound()) check(MSG_VERIFY(r.m) == 0);
}

// Finds a segment with a mask of the input's choice (now and then with bits
// beyond the type, or without the message) through either form of the call.
void call_get(Run& r, Input& in) {
  const int bits = in.u8();
  uint32_t mask = static_cast<uint32_t>(bits & 0x0F) << 28;
  if ((bits & 0x10) != 0) mask |= 1u << (in.u8() % 28);
  const int16_t occurrence = static_cast<int16_t>((bits & 0x20) != 0 ? in.s16() : in.u8() % 8);
  const int16_t type = static_cast<int16_t>((bits & 0x40) != 0 ? in.s16() : in.u8() % 4);
  const bool typed_form = (bits & 0x80) != 0;

  const Chain c = walk(r.m);
  const bool with_segment = zeb::present(mask, 1);
  const int wanted = zeb::present(mask, 3) ? occurrence : 1;
  int expect = 0;
  int address = -1;  // offset of the last segment walked, -1: none stored
  if (!zeb::present(mask, 2)) {
    expect = 29;
  } else if (!zeb::mask_fits(mask, 4)) {
    expect = 2;
  } else if (!c.header_ok) {
    expect = 308;
  } else if (wanted < 1) {
    expect = 11;
  } else {
    int found = 0;
    expect = -1;
    for (size_t i = 0; i < c.offsets.size() && expect < 0; ++i) {
      address = c.offsets[i];
      if ((!zeb::present(mask, 4) || c.types[i] == type) && ++found == wanted) expect = 0;
    }
    if (expect < 0) expect = c.sound() ? 11 : 308;
  }
  if (!with_segment) address = -1;

  r.snapshot();
  static const uint8_t kNotStored = 0;  // never a segment of the message
  const uint8_t* sentinel = &kNotStored;
  const uint8_t* got_address = sentinel;
  int16_t got;
  if (typed_form) {
    got =
        MSG_GETSEGMENT(mask, &got_address, zeb::present(mask, 2) ? r.m : nullptr, occurrence, type);
  } else {
    void* p = const_cast<uint8_t*>(sentinel);
    got = MSG_GETSEGMENT(mask, &p, zeb::present(mask, 2) ? r.m : nullptr, occurrence, type);
    got_address = static_cast<const uint8_t*>(p);
  }
  check(got == expect);
  check(address < 0 ? got_address == sentinel : got_address == r.m + address);
  check(r.unchanged());
}

// Deletes the segment the model names, or at an offset of the input's
// choice: near where the walk stopped, near a segment's start, or anywhere
// from just before the message to past the buffer's end.
void call_delete(Run& r, Input& in, bool by_index) {
  const Chain c = walk(r.m);
  int target;
  if (by_index) {
    if (c.offsets.empty()) return;
    target = c.offsets[in.u8() % c.offsets.size()];
  } else {
    // Near where the walk stopped, near a segment's start, or anywhere.
    const int mode = in.u8();
    if (mode < 96)
      target = c.end + mode % 5 - 2;
    else if (mode < 160 && !c.offsets.empty())
      target = c.offsets[in.u8() % c.offsets.size()] + mode % 5 - 2;
    else
      target = in.u16() % (r.capacity + 8) - 4;
  }
  int expect;
  int size = 0;
  if (!c.header_ok) {
    expect = 308;
  } else if (target < kHeader || target >= c.total) {
    expect = 11;
  } else {
    expect = -1;
    for (size_t i = 0; i < c.offsets.size(); ++i) {
      if (c.offsets[i] == target) {
        expect = 0;
        size = c.sizes[i];
      }
    }
    if (expect < 0) {
      if (target < c.end)
        expect = 11;  // inside a segment
      else if (target == c.end)
        expect = 308;  // the walk stopped right here: broken or past the count
      else
        expect = c.stop == Chain::kBroken ? 308 : 11;
    }
  }
  std::vector<uint8_t> expected(r.m, r.m + r.capacity);
  if (expect == 0) {
    std::memmove(expected.data() + target, expected.data() + target + size,
                 c.total - target - size);
    put16(expected.data(), c.total - size);
    put16(expected.data() + 32, c.count - 1);
  }
  const auto at = reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(r.m) + target);
  r.snapshot();
  check(MSG_DELETESEGMENT(r.m, at) == expect);
  check(r.equals(expected));
  if (expect == 0 && c.sound()) check(MSG_VERIFY(r.m) == 0);
}

// VERIFY agrees with the model and changes nothing.
void call_verify(Run& r, Input&) {
  const Chain c = walk(r.m);
  r.snapshot();
  check(MSG_VERIFY(r.m) == (c.sound() ? 0 : 308));
  check(r.unchanged());
}

// Overwrites one word: the header's words or a segment's.
void call_overwrite(Run& r, Input& in) {
  const Chain c = walk(r.m);
  const int pick = in.u8();
  int at;
  if (pick < 64)
    at = 0;
  else if (pick < 128)
    at = 32;
  else if (pick < 192 && !c.offsets.empty())
    at = c.offsets[in.u8() % c.offsets.size()] + (pick & 2);
  else
    at = in.u16() % (r.capacity - 1);
  put16(r.m + at, value(in, r, c));
  r.clamp_total();
}

// Loads raw bytes from the input over the buffer's start.
void call_load(Run& r, Input& in) {
  const size_t want = static_cast<size_t>(in.u16());
  const size_t n = std::min({want, in.n, static_cast<size_t>(r.capacity)});
  std::memcpy(r.m, in.p, n);
  in.p += n;
  in.n -= n;
  r.clamp_total();
}

// The calls an input byte picks from, by its value modulo their number.
using Call = void (*)(Run&, Input&);
constexpr Call kCalls[] = {
    [](Run& r, Input&) { call_init(r); },
    [](Run& r, Input& in) { call_add(r, in, false); },
    [](Run& r, Input& in) { call_add(r, in, true); },
    call_get,
    [](Run& r, Input& in) { call_delete(r, in, true); },
    [](Run& r, Input& in) { call_delete(r, in, false); },
    call_verify,
    call_overwrite,
    call_load,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  Run r;
  const int shape = in.u8();
  r.capacity = kHeader + in.u16();
  const int skew = shape & 1;  // an odd address for the message
  r.block = std::make_unique<uint8_t[]>(r.capacity + skew);
  r.m = r.block.get() + skew;
  std::memset(r.m, in.u8(), r.capacity);
  check(MSG_INIT(r.m) == 0);

  // Calls without a message are refused; a search of the empty message
  // with its segment flagged but no place given stores nothing.
  if ((shape & 2) != 0) {
    uint8_t seg[4] = {0, 4, 0, 0};
    void* found = nullptr;
    check(MSG_VERIFY(nullptr) == 29 && MSG_DELETESEGMENT(nullptr, r.m) == 29);
    check(MSG_ADDSEGMENT(nullptr, seg, r.capacity) == 29 &&
          MSG_ADDSEGMENT(r.m, nullptr, r.capacity) == 29);
    check(MSG_GETSEGMENT(zeb::mask({1, 2}), &found, nullptr) == 29 && found == nullptr);
    check(MSG_GETSEGMENT(zeb::mask({1, 2}), static_cast<void**>(nullptr), r.m) == 11);
  }

  for (int calls = 0; calls < kMaxCalls && in.n > 0; ++calls) {
    kCalls[in.u8() % std::size(kCalls)](r, in);
  }
  return 0;
}
