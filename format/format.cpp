// The format engine: one scanner over the format string that hands each
// directive to the handler of its letter; the field writer; the numeric
// fields and the tab.
//
// Everything a call needs lives in its State on the stack: no allocation, no
// global state, and output goes straight into the caller's buffer, never
// beyond its limit. Ranges the grammar leaves open are settled here:
//  - a written number keeps its low twelve bits' meaning (value modulo 4096);
//  - widths, lengths and counts are clamped to 0..150 (the field work area),
//    tab columns to 0..limit, and places so that at least one digit stands
//    in front of the point; only a NUL-terminated text shown at its own
//    length (the v directive without a width) may be wider;
//  - a directive whose argument slot was not passed takes 0 (or an empty
//    text) without reading the slot;
//  - an escaped NUL ends the format for good, also inside a directive.
#include <zeb/format/format.h>

#include <algorithm>
#include <bit>
#include <cstdint>

#include <zeb/platform/types.h>
#include "format/format_core.h"
#include "format/format_internal.h"

namespace zeb::format {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned char kEnd[1] = {0};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Bytes that end a run of ordinary text: NUL, "@" and the backslash.
struct SpecialBytes {
  bool is[256] = {};
  constexpr SpecialBytes() {
    is[0] = true;
    is[static_cast<unsigned char>('@')] = true;
    is[static_cast<unsigned char>('\\')] = true;
  }
};

int hexdigit(unsigned c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  c |= 0x20;
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

bool printable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }
bool printable(char c) { return printable(static_cast<unsigned char>(c)); }

// The number of decimal digits of v (1 for 0): an estimate from the bit
// length, corrected by one comparison.
constexpr uint64_t kPowersOfTen[20] = {1u,
                                       10u,
                                       100u,
                                       1000u,
                                       10000u,
                                       100000u,
                                       1000000u,
                                       10000000u,
                                       100000000u,
                                       1000000000u,
                                       10000000000u,
                                       100000000000u,
                                       1000000000000u,
                                       10000000000000u,
                                       100000000000000u,
                                       1000000000000000u,
                                       10000000000000000u,
                                       100000000000000000u,
                                       1000000000000000000u,
                                       10000000000000000000u};

int decimal_digits(uint64_t v) {
  if (v == 0) return 1;
  const int t = (std::bit_width(v) * 1233) >> 12;  // log10(2) is about 1233/4096
  return t + (v >= kPowersOfTen[t] ? 1 : 0);
}

// Writes the decimal digits of v ("0" for 0) so that they end at end, and
// returns where they start. Four or two digits per step with constant
// divisors (the compiler multiplies instead of dividing), in 32 bits once the
// value fits.
char* put_decimal(char* end, uint64_t v) {
  char* p = end;
  while (v > 0xFFFFFFFFu) {
    unsigned pair = static_cast<unsigned>(v % 100);
    v /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  uint32_t w = static_cast<uint32_t>(v);
  while (w >= 10000) {
    const uint32_t four = w % 10000;
    w /= 10000;
    p -= 4;
    std::memcpy(p, kDigitPairs + 2 * (four / 100), 2);
    std::memcpy(p + 2, kDigitPairs + 2 * (four % 100), 2);
  }
  if (w >= 100) {
    const uint32_t pair = w % 100;
    w /= 100;
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * pair, 2);
  }
  if (w >= 10) {
    p -= 2;
    std::memcpy(p, kDigitPairs + 2 * w, 2);
  } else {
    *--p = static_cast<char>('0' + w);
  }
  return p;
}

}  // namespace

constexpr SpecialBytes kSpecial;

// Entered just behind an "@".
unsigned State::escape() {
  if (fmt[0] == '@') {
    ++fmt;
    return '@';
  }
  int hi = hexdigit(fmt[0]);
  if (hi < 0) return '@';
  int lo = hexdigit(fmt[1]);
  if (lo < 0) return '@';
  fmt += 2;
  unsigned c = static_cast<unsigned>(hi * 16 + lo);
  if (c == 0) fmt = kEnd;  // every later read gives 0 again
  return c;
}

void State::output_field(int width, const char* text, int length, unsigned flags) {
  width = clamp_field(width);
  if (text == nullptr) {
    length = 0;
  } else if (flags & kNulEnds) {
    length = static_cast<int>(std::strlen(text));
  } else if (length <= 0) {
    length = width;
  }
  if (flags & kTrim) {
    while (length > 0 && text[length - 1] == ' ') --length;
    while (length > 0 && text[0] == ' ') {
      ++text;
      --length;
    }
  }
  // A field as wide as its own text is not cut to the work area when the
  // text is NUL-terminated: it is read from the caller, not built here.
  if (width == 0) width = (flags & kNulEnds) || length <= kMaxField ? length : kMaxField;
  if (length > width) length = width;
  int before = 0;
  int after = 0;
  switch (flags & 3) {
    case 2:
      before = width - length;
      break;
    case 3:
      before = (width - length) / 2;
      after = width - length - before;
      break;
    default:
      after = width - length;
      break;
  }
  put_blanks(before);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* end = p + length;
  const bool upshift = (flags & kUpshift) != 0;
  while (p < end && remaining > 0) {
    if (!upshift) {
      // Copy the run of printable bytes in one step.
      const unsigned char* run = p;
      while (run < end && printable(*run)) ++run;
      put_bytes(p, static_cast<int>(run - p));
      p = run;
      if (p == end || remaining == 0) break;
    }
    unsigned char c = *p++;
    if (printable(c)) {
      put(upshift && c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : static_cast<char>(c));
    } else {
      put('<');
      put(kHexDigits[c >> 4]);
      put(kHexDigits[c & 15]);
      put('>');
    }
  }
  put_blanks(after);
}

namespace {

// The usual number directive, settled without the general parser: a decimal
// field with at most a width of plain digits, closed by a plain backslash,
// that fits the room left. Gives false, and changes nothing, for any other
// directive; process_number then parses it from the same place. Entered, like
// process_number, with the directive's letter current.
bool plain_number(State& s, int64_t value) {
  const unsigned char* f = s.fmt;
  unsigned width = 0;
  unsigned d = *f - '0';
  if (d <= 9) {
    do {
      width = (width * 10 + d) & 4095;
      d = *++f - '0';
    } while (d <= 9);
    if (width > kMaxField) width = kMaxField;
  }
  if (*f != '\\') return false;
  // Without a sign flag, a decimal field shows the magnitude.
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const int digits = decimal_digits(magnitude);
  const int pad = digits < static_cast<int>(width) ? static_cast<int>(width) - digits : 0;
  if (pad + digits > s.remaining) return false;
  fill_short(s.out, ' ', static_cast<size_t>(pad));
  char* const end = s.out + pad + digits;
  put_decimal(end, magnitude);
  s.out = end;
  s.remaining -= pad + digits;
  // The closing backslash is current, as the general parser leaves it.
  s.fmt = f + 1;
  s.cur = '\\';
  return true;
}

}  // namespace

namespace {

// What a number directive asks for, read from the text after its letter.
struct NumberField {
  uint64_t bits = 0;  // what the digits show: the magnitude, or base 16's pattern
  char sign = 0;      // '+' or '-' in front of the digits; 0 for none
  int width = 0;
  int places = 0;
  unsigned base = 10;
  char fill = ' ';
  char marker = 0;  // the byte in front of the sign, when has_marker
  bool has_marker = false;
  // Every byte of the field shows as itself (no <hh> form needed).
  bool shown() const { return printable(fill) && (!has_marker || printable(marker)); }
};

// Job 1: reads the sign flags, width and places, base, fill and marker after
// the directive's letter, leaving the closing backslash current.
NumberField parse_number_field(State& s, int64_t value) {
  s.next_char();
  NumberField f;
  bool negative = value < 0;
  const uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  // A directive with nothing after its letter keeps every default.
  if (s.cur != '\\') {
    if (s.test_char('+')) {
      f.sign = negative ? '-' : '+';
      negative = false;
    }
    if (s.test_char('-') && negative) {
      f.sign = '-';
      negative = false;
    }
    s.get_width(&f.width, &f.places);
    f.width = clamp_field(f.width);
    if (s.test_char('h')) f.base = 16;
    if (s.test_char('o')) f.base = 8;
    if (s.test_char('=')) {
      if (s.cur != 0) f.fill = static_cast<char>(s.cur);
      s.next_char();
    }
    if (s.test_char('>')) {
      if (s.cur != 0) {
        f.marker = static_cast<char>(s.cur);
        f.has_marker = true;
      }
      s.next_char();
    }
  }
  // Without a sign, bases 10 and 8 show the magnitude; base 16 shows the
  // 64-bit two's complement pattern of a negative value.
  f.bits = (negative && f.base == 16) ? static_cast<uint64_t>(value) : magnitude;
  return f;
}

// The usual field (decimal, no places, a fill and a marker that show as
// themselves) goes straight into the caller's buffer when all of it fits.
// Gives false, having written nothing, for any other field.
bool put_usual_number(State& s, const NumberField& f) {
  if (f.base != 10 || f.places > 0 || !f.shown()) return false;
  const int digits = decimal_digits(f.bits);
  const int front_len = (f.has_marker ? 1 : 0) + (f.sign != 0 ? 1 : 0);
  const int total = front_len + digits;
  const int pad = total < f.width ? f.width - total : 0;
  if (pad + total > s.remaining) return false;
  char* o = s.out;
  if (f.fill != '0') {
    fill_short(o, f.fill, static_cast<size_t>(pad));
    o += pad;
  }
  if (f.has_marker) *o++ = f.marker;
  if (f.sign != 0) *o++ = f.sign;
  if (f.fill == '0') {
    fill_short(o, '0', static_cast<size_t>(pad));
    o += pad;
  }
  put_decimal(o + digits, f.bits);
  s.out = o + digits;
  s.remaining -= pad + total;
  return true;
}

// Job 2: builds the number right to left, ending at end: fraction digits,
// the point, then the integer digits (at least one). Gives where it begins;
// *len is its length. end must have 24 bytes in front of it.
char* build_number(const NumberField& f, char* const end, int* len) {
  // Digit positions: 16 in base 16, 20 in base 10; base 8 gets 22 so that
  // every 64-bit magnitude fits. Places leave at least one position in front
  // of the point.
  const int positions = f.base == 16 ? 16 : (f.base == 10 ? 20 : 22);
  int places = f.places < 0 ? 0 : f.places;
  if (places > positions - 1) places = positions - 1;
  char* p = end;
  uint64_t v = f.bits;
  const unsigned shift = f.base == 16 ? 4 : 3;
  char* frac_end = end;
  if (places > 0) {
    for (int i = 0; i < places; ++i) {
      if (f.base == 10) {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
      } else {
        *--p = kHexDigits[v & (f.base - 1)];
        v >>= shift;
      }
    }
    // Without a width, trailing fraction zeros go, and the point with them
    // when the whole fraction is zero.
    if (f.width == 0) {
      while (frac_end > p && frac_end[-1] == '0') --frac_end;
    }
    if (frac_end > p) {
      *--p = '.';
    } else {
      p = frac_end = end;
    }
  }
  if (f.base == 10) {
    p = put_decimal(p, v);
  } else if (v == 0) {
    *--p = '0';
  } else {
    for (; v != 0; v >>= shift) *--p = kHexDigits[v & (f.base - 1)];
  }
  *len = static_cast<int>(frac_end - p);
  return p;
}

// Job 3: writes the field: the marker and the sign in front of the number,
// padded to the width with the fill (zeros go between the sign and the
// digits, any other fill in front of everything).
void write_number_field(State& s, const NumberField& f, const char* number, int len) {
  char front[2];
  int front_len = 0;
  if (f.has_marker) front[front_len++] = f.marker;
  if (f.sign != 0) front[front_len++] = f.sign;
  const int total = front_len + len;
  const int pad = total < f.width ? f.width - total : 0;

  if (f.shown()) {
    // Every byte shows as itself: straight into the caller's buffer.
    if (f.fill == '0') {
      s.put_bytes(front, front_len);
      s.put_fill('0', pad);
    } else {
      s.put_fill(f.fill, pad);
      s.put_bytes(front, front_len);
    }
    s.put_bytes(number, len);
    return;
  }
  // A fill or marker that cannot be shown is written in the <hh> form.
  char* w = s.work;
  if (f.fill == '0') {
    std::memcpy(w, front, static_cast<size_t>(front_len));
    std::memset(w + front_len, '0', static_cast<size_t>(pad));
  } else {
    std::memset(w, f.fill, static_cast<size_t>(pad));
    std::memcpy(w + pad, front, static_cast<size_t>(front_len));
  }
  std::memcpy(w + pad + front_len, number, static_cast<size_t>(len));
  const int field = total + pad;
  s.output(field, w, field, kLeft);
}

}  // namespace

// Numbers: i, d and q widen their value and share this parser and builder.
void process_number(State& s, int64_t value) {
  const NumberField f = parse_number_field(s, value);
  if (put_usual_number(s, f)) return;
  char num[48];
  int len = 0;
  const char* number = build_number(f, num + sizeof num, &len);
  write_number_field(s, f, number, len);
}

namespace {

// i, d and q: the value widened to 64 bits, in the plain form when the
// directive allows it, otherwise through the full number parser.
void process_integer(State& s, int64_t value) {
  if (!plain_number(s, value)) process_number(s, value);
}

void process_tab(State& s) {
  s.next_char();
  int column = s.get_value();
  if (column > s.limit) column = s.limit;
  int written = s.stored();
  if (written < column) s.put_blanks(column - written);
}

// A directive, entered with its opening backslash current.
void process_format(State& s) {
  do {
    s.next_char();
  } while (s.cur == ' ');
  if (s.cur == 0 || s.cur == '\\') {
    s.put('\\');
    return;
  }
  // Directive letters are read in either case. A switch rather than a table
  // of handlers: the indirect call per directive cost the drive line 11%.
  const int letter = s.cur >= 'A' && s.cur <= 'Z' ? s.cur | 0x20 : s.cur;
  switch (letter) {
    case 'a':
      process_string(s, false);
      break;
    case 'b':
      process_words(s, "TRUE", "FALSE");
      break;
    case 'c':
      process_cpu(s);
      break;
    case 'd':
      process_integer(s, s.param<int32_t>());
      break;
    case 'e':
      process_file_error(s);
      break;
    case 'f':
      process_filename(s);
      break;
    case 'i':
      process_integer(s, s.param<int16_t>());
      break;
    case 'm':
      process_system_message(s);
      break;
    case 'n':
      process_newprocess_error(s);
      break;
    case 'o':
      process_words(s, "ON", "OFF");
      break;
    case 'p':
      process_pid(s);
      break;
    case 'q':
      process_integer(s, s.param<int64_t>());
      break;
    case 's':
      process_cstring(s);
      break;
    case 't':
      process_time(s);
      break;
    case 'u':
      process_userid(s);
      break;
    case 'v':
      process_string(s, true);
      break;
    case 'y':
      process_words(s, "YES", "NO");
      break;
    case 'z':
      process_tab(s);
      break;
    default:
      // Not a directive: the backslash and the character are text.
      s.put('\\');
      s.put(static_cast<char>(s.cur));
      return;
  }
  // What is left of the directive is text, without its blanks.
  while (s.cur != '\\' && s.cur != 0) {
    if (s.cur != ' ') s.put(static_cast<char>(s.cur));
    s.next_char();
  }
}

}  // namespace

size_t format_into(std::span<char> out, const char* format, std::span<const void* const> args) {
  if (format == nullptr || out.data() == nullptr) return 0;
  State s;
  s.fmt = reinterpret_cast<const unsigned char*>(format);
  s.start = out.data();
  s.out = out.data();
  // The count stored must fit the 16-bit results of the procedures.
  s.limit = static_cast<int>(std::min<size_t>(out.size(), INT16_MAX));
  s.remaining = s.limit;
  s.args = args.data();
  s.nargs = static_cast<int>(std::min<size_t>(args.size(), kArgSlots));
  s.argpos = 0;
  s.cur = 0;

  const bool* const special = kSpecial.is;
  for (;;) {
    // Ordinary text up to the next backslash, "@" or NUL: found first (four
    // bytes per round; a byte is read only when the one before it was not
    // the NUL), then stored in one short copy as far as the limit allows.
    const unsigned char* const text = s.fmt;
    const unsigned char* p = text;
    for (;;) {
      if (special[p[0]]) break;
      if (special[p[1]]) {
        p += 1;
        break;
      }
      if (special[p[2]]) {
        p += 2;
        break;
      }
      if (special[p[3]]) {
        p += 3;
        break;
      }
      p += 4;
    }
    s.put_bytes(text, static_cast<int>(p - text));
    s.fmt = p;
    if (s.next_char() == 0) break;
    if (s.cur == '\\') {
      process_format(s);
    } else {
      s.put(static_cast<char>(s.cur));
    }
  }
  return static_cast<size_t>(s.stored());
}

}  // namespace zeb::format

int16_t UTIL_FORMAT(uint32_t mask, const char* format, char* buffer, int16_t limit, const void* a1,
                    const void* a2, const void* a3, const void* a4, const void* a5, const void* a6,
                    const void* a7, const void* a8, const void* a9, const void* a10,
                    const void* a11, const void* a12, const void* a13, const void* a14) {
  using zeb::present;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || format == nullptr ||
      buffer == nullptr) {
    return 0;
  }
  // An argument the mask does not mark as passed is never read: its slot
  // goes to the engine as null.
  const void* args[zeb::format::kArgSlots] = {a1, a2, a3,  a4,  a5,  a6,  a7,
                                              a8, a9, a10, a11, a12, a13, a14};
  for (int n = 0; n < zeb::format::kArgSlots; ++n) {
    if (!present(mask, 4 + n)) args[n] = nullptr;
  }
  const size_t size = limit < 0 ? 0 : static_cast<size_t>(limit);
  return static_cast<int16_t>(
      zeb::format::format_into(std::span<char>(buffer, size), format, args));
}
