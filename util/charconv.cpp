// Character conversion: ASCII and EBCDIC, lower-casing, printable display
// and hexadecimal text. Every conversion is one look-up per byte in a
// read-only table built at compile time.
#include <array>

#include <zeb/platform/errors.h>
#include <zeb/util/checksum.h>

namespace {

using ByteTable = std::array<uint8_t, 256>;

// ASCII to EBCDIC (row = high digit of the ASCII byte). The table is a
// permutation of the 256 byte values, so EBCDIC to ASCII is its exact
// inverse and a round trip in either direction keeps every byte.
constexpr ByteTable kAsciiToEbcdic = {
    0x00, 0x01, 0x02, 0x03, 0x37, 0x2D, 0x2E, 0x2F,
    0x16, 0x05, 0x25, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,  // 00
    0x10, 0x11, 0x12, 0x13, 0x3C, 0x3D, 0x32, 0x26,
    0x18, 0x19, 0x3F, 0x27, 0x1C, 0x1D, 0x1E, 0x1F,  // 10
    0x40, 0x4F, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D,
    0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,  // 20
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
    0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,  // 30
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7,
    0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,  // 40
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6,
    0xE7, 0xE8, 0xE9, 0x4A, 0xE0, 0x5A, 0x5F, 0x6D,  // 50
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,  // 60
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6,
    0xA7, 0xA8, 0xA9, 0xC0, 0x6A, 0xD0, 0xA1, 0x07,  // 70
    0x20, 0x21, 0x22, 0x23, 0x24, 0x15, 0x06, 0x17,
    0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x09, 0x0A, 0x1B,  // 80
    0x30, 0x31, 0x1A, 0x33, 0x34, 0x35, 0x36, 0x08,
    0x38, 0x39, 0x3A, 0x3B, 0x04, 0x14, 0x3E, 0xE1,  // 90
    0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48,
    0x49, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57,  // A0
    0x58, 0x59, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67,
    0x68, 0x69, 0x70, 0x71, 0x72, 0x73, 0x74, 0x75,  // B0
    0x76, 0x77, 0x78, 0x80, 0x8A, 0x8B, 0x8C, 0x8D,
    0x8E, 0x8F, 0x90, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E,  // C0
    0x9F, 0xA0, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7,  // D0
    0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xDA, 0xDB,  // E0
    0xDC, 0xDD, 0xDE, 0xDF, 0xEA, 0xEB, 0xEC, 0xED,
    0xEE, 0xEF, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,  // F0
};

constexpr ByteTable invert(const ByteTable& t) {
  ByteTable inv{};
  for (unsigned i = 0; i < 256; ++i) inv[t[i]] = static_cast<uint8_t>(i);
  return inv;
}

constexpr bool is_permutation(const ByteTable& t) {
  std::array<bool, 256> seen{};
  for (uint8_t v : t) {
    if (seen[v]) return false;
    seen[v] = true;
  }
  return true;
}

static_assert(is_permutation(kAsciiToEbcdic), "ASCII to EBCDIC must be a permutation");

constexpr ByteTable kEbcdicToAscii = invert(kAsciiToEbcdic);

static_assert(kAsciiToEbcdic[' '] == 0x40 && kEbcdicToAscii[0xF0] == '0' &&
              kEbcdicToAscii[0x4F] == '!' && kEbcdicToAscii[0x4A] == '[' &&
              kEbcdicToAscii[0x5A] == ']' && kEbcdicToAscii[0x6A] == '|' &&
              kEbcdicToAscii[0x25] == '\n' && kEbcdicToAscii[0x07] == 0x7F &&
              kEbcdicToAscii[0xA1] == '~');

constexpr ByteTable make_lower() {
  ByteTable t{};
  for (unsigned i = 0; i < 256; ++i)
    t[i] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
  return t;
}

constexpr ByteTable make_printable() {
  ByteTable t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i >= 32 && i <= 126 ? i : '.');
  return t;
}

constexpr ByteTable kLower = make_lower();
constexpr ByteTable kPrintable = make_printable();

// For each byte value its two upper-case hexadecimal digits.
constexpr std::array<std::array<char, 2>, 256> make_hex_digits() {
  constexpr char digits[] = "0123456789ABCDEF";
  std::array<std::array<char, 2>, 256> t{};
  for (unsigned i = 0; i < 256; ++i) t[i] = {digits[i >> 4], digits[i & 15]};
  return t;
}

// For each byte its value as a hexadecimal digit (either case), or -1.
constexpr std::array<int16_t, 256> make_nibbles() {
  std::array<int16_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    int16_t v = -1;
    if (i >= '0' && i <= '9') v = static_cast<int16_t>(i - '0');
    if (i >= 'A' && i <= 'F') v = static_cast<int16_t>(i - 'A' + 10);
    if (i >= 'a' && i <= 'f') v = static_cast<int16_t>(i - 'a' + 10);
    t[i] = v;
  }
  return t;
}

constexpr auto kHexDigits = make_hex_digits();
constexpr auto kNibble = make_nibbles();

// destination[i] = table[source[i]]; each byte is read before its own
// position is written, so source and destination may be the same buffer.
void translate(const ByteTable& table, const void* source, void* destination, int16_t length) {
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  for (int16_t i = 0; i < length; ++i) out[i] = table[in[i]];
}

}  // namespace

void UTIL_EBCDICASCII(const void* source, void* destination, int16_t length) {
  translate(kEbcdicToAscii, source, destination, length);
}

void UTIL_ASCIIEBCDIC(const void* source, void* destination, int16_t length) {
  translate(kAsciiToEbcdic, source, destination, length);
}

void UTIL_DOWNSHIFT(const void* source, void* destination, int16_t length) {
  translate(kLower, source, destination, length);
}

void UTIL_PRINTABLE(const void* source, void* destination, int16_t length) {
  translate(kPrintable, source, destination, length);
}

// length counts characters to produce. An odd length ends with the high digit
// of the last byte reached, so exactly length characters are written and the
// destination is never overrun by one.
int16_t UTIL_HEXASCII(const void* source, void* destination, uint16_t length) {
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<char*>(destination);
  uint32_t produced = 0;
  for (; produced + 2 <= length; produced += 2) {
    const auto& pair = kHexDigits[*in++];
    out[produced] = pair[0];
    out[produced + 1] = pair[1];
  }
  if (produced < length) out[produced] = kHexDigits[*in][0];
  return 0;
}

int16_t UTIL_ASCIIHEX(const void* source, void* destination, int16_t length) {
  if (length < 0) return zeb::err::kOutOfBounds;
  const auto* in = static_cast<const uint8_t*>(source);
  auto* out = static_cast<uint8_t*>(destination);
  const int pairs = length / 2;
  for (int i = 0; i < pairs; ++i) {
    int16_t high = kNibble[in[2 * i]];
    int16_t low = kNibble[in[2 * i + 1]];
    if (high < 0 || low < 0) return zeb::err::kInvalidData;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  if (length % 2 != 0) {
    int16_t high = kNibble[in[length - 1]];
    if (high < 0) return zeb::err::kInvalidData;
    out[pairs] = static_cast<uint8_t>(high << 4 | (out[pairs] & 0x0F));
  }
  return 0;
}
