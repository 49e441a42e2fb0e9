// The two cyclic redundancy checks.
//
// Both are the reflected byte-wise algorithms (one table look-up per byte).
// For speed the main loop takes eight bytes per step with eight derived
// tables ("slicing by eight"): table k gives the effect of a byte followed by
// k zero bytes, so one step is eight independent look-ups XORed together and
// the result is exactly that of the plain byte loop. All tables are computed
// at compile time and are read-only.
#include "util/checksum.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

template <typename T>
using SliceTables = std::array<std::array<T, 256>, 8>;

// Table 0 is the byte-wise table of the reflected CRC with polynomial poly;
// table k[i] = (k-1)[i] shifted right one byte, folded through table 0.
template <typename T>
constexpr SliceTables<T> make_tables(T poly) {
  SliceTables<T> t{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = static_cast<T>(i);
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? static_cast<T>((c >> 1) ^ poly) : static_cast<T>(c >> 1);
    t[0][i] = c;
  }
  for (int k = 1; k < 8; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      T prev = t[k - 1][i];
      t[k][i] = static_cast<T>((prev >> 8) ^ t[0][prev & 0xFF]);
    }
  }
  return t;
}

constexpr SliceTables<uint16_t> kCrc16 = make_tables<uint16_t>(0xA001);
constexpr SliceTables<uint32_t> kCrc32 = make_tables<uint32_t>(0xEDB88320u);

// Spot checks of the byte-wise tables against their well-known entries.
static_assert(kCrc16[0][1] == 0xC0C1 && kCrc16[0][255] == 0x4040);
static_assert(kCrc32[0][1] == 0x77073096u && kCrc32[0][255] == 0x2D02EF8Du);

// Eight bytes as a little-endian number, whatever the host's byte order.
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The reflected CRC register update over n bytes; crc holds the register
// (already inverted for CRC-32). T is the register width.
template <typename T>
T crc_update(T crc, const uint8_t* p, uint32_t n, const SliceTables<T>& t) {
  while (n >= 8) {
    uint64_t w = load_le64(p) ^ crc;
    crc = static_cast<T>(t[7][w & 0xFF] ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^
                         t[4][(w >> 24) & 0xFF] ^ t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^
                         t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56]);
    p += 8;
    n -= 8;
  }
  while (n-- > 0) crc = static_cast<T>((crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF]);
  return crc;
}

}  // namespace

// A negative length is taken as no data: the count is never walked below
// zero, so a caller's arithmetic slip cannot run the loop over memory.
int16_t UTIL_CRC16(int16_t crc, const void* buffer, int32_t length) {
  if (length <= 0) return crc;
  uint16_t r = crc_update<uint16_t>(static_cast<uint16_t>(crc), static_cast<const uint8_t*>(buffer),
                                    static_cast<uint32_t>(length), kCrc16);
  return static_cast<int16_t>(r);
}

int32_t UTIL_CRC32(int32_t crc, const void* buffer, int32_t length) {
  if (length <= 0) return crc;
  uint32_t r = ~static_cast<uint32_t>(crc);
  r = crc_update<uint32_t>(r, static_cast<const uint8_t*>(buffer), static_cast<uint32_t>(length), kCrc32);
  return static_cast<int32_t>(~r);
}
