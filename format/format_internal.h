// The call state of one expansion and the engine's subprocedures,
// shared by the directive handlers. Internal to the format folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zeb::format {

// Field flags of output().
constexpr unsigned kLeft = 1;      // fill blanks after the text
constexpr unsigned kRight = 2;     // fill blanks before the text
constexpr unsigned kCentre = 3;    // split the fill, the smaller half before
constexpr unsigned kTrim = 4;      // drop trailing, then leading blanks first
constexpr unsigned kUpshift = 8;   // write a-z as A-Z
constexpr unsigned kNulEnds = 16;  // the text ends at its first NUL byte

// The field work area and the widest field any directive writes.
constexpr int kWorkSize = 150;
constexpr int kMaxField = kWorkSize;

constexpr int kArgSlots = 14;

// Short copies and fills without a library call: the runs of a line are a
// few bytes to a few dozen, where a call and its size dispatch cost more than
// the bytes. Runs of 0 to 32 bytes are done in at most four (possibly
// overlapping) stores; longer ones go to memcpy and memset.

// Copies n bytes, 0 <= n <= 2 * K, as two stores of K bytes (the first K and
// the last K, overlapping when n < 2 * K) or by halving K. Always inlined,
// so that the halving folds into one chain of tests: the benchmark showed
// the drive line 3% slower when the compiler was left to choose.
template <size_t K>
[[gnu::always_inline]] inline void copy_ends(char* d, const char* s, size_t n) {
  if constexpr (K == 1) {
    if (n == 1) *d = *s;
  } else if (n >= K) {
    std::memcpy(d, s, K);
    std::memcpy(d + n - K, s + n - K, K);
  } else {
    copy_ends<K / 2>(d, s, n);
  }
}

inline void copy_short(char* d, const void* from, size_t n) {
  const char* s = static_cast<const char*>(from);
  if (n > 32) {
    std::memcpy(d, s, n);
  } else {
    copy_ends<16>(d, s, n);
  }
}

// True when none of the eight bytes of w is below 0x20 or above 0x7E, the
// bytes shown as themselves (exact for any bytes: the borrows and carries
// of the two tests only ever start at a byte that fails).
constexpr bool all_shown8(uint64_t w) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHigh = 0x8080808080808080u;
  const uint64_t below = (w - 0x20 * kOnes) & ~w & kHigh;
  const uint64_t above = ((w + kOnes) | w) & kHigh;
  return (below | above) == 0;
}

// True when the n bytes at s (1 or more) are all shown as themselves; read a
// word at a time, never outside the n bytes.
inline bool all_shown(const char* s, size_t n) {
  uint64_t w;
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) {
      std::memcpy(&w, s + i, 8);
      if (!all_shown8(w)) return false;
    }
    std::memcpy(&w, s + n - 8, 8);
    return all_shown8(w);
  }
  if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    w = a | uint64_t{b} << 32;
  } else if (n >= 2) {
    uint16_t a, b;
    std::memcpy(&a, s, 2);
    std::memcpy(&b, s + n - 2, 2);
    w = a | uint64_t{b} << 16 | 0x2020202000000000u;
  } else {
    w = static_cast<unsigned char>(s[0]) | 0x2020202020202000u;
  }
  return all_shown8(w);
}

inline void fill_short(char* d, char c, size_t n) {
  if (n > 32) {
    std::memset(d, c, n);
    return;
  }
  const uint64_t pattern = 0x0101010101010101u * static_cast<unsigned char>(c);
  if (n >= 16) {
    std::memcpy(d, &pattern, 8);
    std::memcpy(d + 8, &pattern, 8);
    std::memcpy(d + n - 16, &pattern, 8);
    std::memcpy(d + n - 8, &pattern, 8);
  } else if (n >= 8) {
    std::memcpy(d, &pattern, 8);
    std::memcpy(d + n - 8, &pattern, 8);
  } else if (n >= 4) {
    std::memcpy(d, &pattern, 4);
    std::memcpy(d + n - 4, &pattern, 4);
  } else if (n >= 2) {
    std::memcpy(d, &pattern, 2);
    std::memcpy(d + n - 2, &pattern, 2);
  } else if (n == 1) {
    *d = c;
  }
}

struct State {
  const unsigned char* fmt;  // next format byte
  char* start;               // the caller's buffer
  char* out;                 // next output byte
  int remaining;             // bytes that may still be stored
  int limit;                 // the caller's limit (0 or more)
  const void* const* args;   // the argument slots
  int nargs;                 // how many slots the caller filled (at most kArgSlots)
  int argpos;                // next slot to hand out
  int cur;                   // current character, 0 at the end
  char work[kWorkSize];      // field work area

  // Reads one character, resolving "@" escapes; sets and gives cur.
  int next_char() {
    unsigned c = *fmt;
    if (c == 0) return cur = 0;
    ++fmt;
    if (c == '@') c = escape();
    return cur = static_cast<int>(c);
  }

  // When cur matches expected (a letter in either case), reads the next
  // character and gives true; otherwise consumes nothing.
  bool test_char(int expected) {
    bool match =
        (expected >= 'a' && expected <= 'z') ? ((cur | 0x20) == expected) : (cur == expected);
    if (match) next_char();
    return match;
  }

  // The next argument address, or null when the slot was not passed.
  const void* next_param() {
    if (argpos >= nargs) return nullptr;
    return args[argpos++];
  }

  // The next argument read as a T, or 0 when the slot was not passed.
  template <typename T>
  T param() {
    const void* p = next_param();
    T v = 0;
    if (p != nullptr) std::memcpy(&v, p, sizeof v);
    return v;
  }

  // One directive number: digits (modulo 4096) or "%" (a 16-bit argument).
  int get_value() {
    if (cur == '%') {
      next_char();
      return param<int16_t>();
    }
    int n = 0;
    while (cur >= '0' && cur <= '9') {
      n = (n * 10 + (cur - '0')) & 4095;
      next_char();
    }
    return n;
  }

  // A number, then "." and a second number (0 when there is no ".").
  void get_width(int* first, int* second) {
    *first = get_value();
    *second = 0;
    if (cur == '.') {
      next_char();
      *second = get_value();
    }
  }

  void put(char c) {
    if (remaining > 0) {
      *out++ = c;
      --remaining;
    }
  }

  void put_blanks(int n) { put_fill(' ', n); }

  void put_fill(char c, int n) {
    if (n > remaining) n = remaining;
    if (n <= 0) return;
    fill_short(out, c, static_cast<size_t>(n));
    out += n;
    remaining -= n;
  }

  void put_bytes(const void* p, int n) {
    if (n > remaining) n = remaining;
    if (n <= 0) return;
    copy_short(out, p, static_cast<size_t>(n));
    out += n;
    remaining -= n;
  }

  int stored() const { return static_cast<int>(out - start); }

  // Writes a text field (width, text, length, field flags). A null text is
  // the empty text.
  void output(int width, const char* text, int length, unsigned flags) {
    // The usual field, done here in the caller: a text of known length,
    // left-justified in a width that holds it and fits the room left, every
    // byte shown as itself.
    if ((flags & ~kLeft) == 0 && text != nullptr && length > 0 && length <= width &&
        width <= kMaxField && width <= remaining) {
      if (all_shown(text, static_cast<size_t>(length))) {
        copy_short(out, text, static_cast<size_t>(length));
        fill_short(out + length, ' ', static_cast<size_t>(width - length));
        out += width;
        remaining -= width;
        return;
      }
    }
    output_field(width, text, length, flags);
  }

 private:
  unsigned escape();
  void output_field(int width, const char* text, int length, unsigned flags);
};

// Width, count and length of a field, clamped to 0..kMaxField.
inline int clamp_field(int v) { return v < 0 ? 0 : (v > kMaxField ? kMaxField : v); }

// The directive handlers. Each is entered with its letter as the current
// character and leaves the first character it did not consume current.
void process_number(State& s, int64_t value);                   // i, d, q after the value
void process_string(State& s, bool nul_ends);                   // a, v
void process_cstring(State& s);                                 // s
void process_words(State& s, const char* yes, const char* no);  // b, o, y
void process_cpu(State& s);                                     // c
void process_pid(State& s);                                     // p
void process_userid(State& s);                                  // u
void process_filename(State& s);                                // f
void process_file_error(State& s);                              // e
void process_system_message(State& s);                          // m
void process_newprocess_error(State& s);                        // n
void process_time(State& s);                                    // t

}  // namespace zeb::format
