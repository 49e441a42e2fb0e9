// The two cyclic redundancy checks.
//
// Both are the reflected byte-wise algorithms (one table look-up per byte).
// For speed the main loop takes sixteen bytes per step with sixteen derived
// tables ("slicing by sixteen"): table k gives the effect of a byte followed
// by k zero bytes, so one step is sixteen independent look-ups XORed together
// and the result is exactly that of the plain byte loop. All tables are computed
// at compile time and are read-only.
//
// CRC-32 has a second path for processors with carry-less multiplication
// (crc32_fold.cpp), which UTIL_CRC32 takes for all but the shortest buffers
// when the processor has it; both give the same register.
#include <zeb/util/checksum.h>

#include <array>
#include <bit>
#include <cstring>

#include "util/checksum_internal.h"

namespace {

template <typename T>
using SliceTables = std::array<std::array<T, 256>, 16>;

// Table 0 is the byte-wise table of the reflected CRC with polynomial poly;
// table k[i] = (k-1)[i] shifted right one byte, folded through table 0.
template <typename T>
constexpr SliceTables<T> make_tables(T poly) {
  SliceTables<T> t{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = static_cast<T>(i);
    for (int bit = 0; bit < 8; ++bit)
      c = (c & 1) ? static_cast<T>((c >> 1) ^ poly) : static_cast<T>(c >> 1);
    t[0][i] = c;
  }
  for (int k = 1; k < 16; ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      T prev = t[k - 1][i];
      t[k][i] = static_cast<T>((prev >> 8) ^ t[0][prev & 0xFF]);
    }
  }
  return t;
}

// Eight bytes as a little-endian number, whatever the host's byte order.
inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline uint32_t load_le32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

// Advancing a reflected CRC register over zero bytes is multiplication by a
// power of x modulo the polynomial (bit W-1 stands for x^0, bit 0 for
// x^(W-1)). multiply_mod returns a * b mod poly.
template <typename T>
constexpr T multiply_mod(T a, T b, T poly) {
  constexpr int kWidth = 8 * sizeof(T);
  T product = 0;
  for (int i = kWidth - 1; i >= 0; --i) {
    if ((a >> i) & 1) product ^= b;
    b = (b & 1) ? static_cast<T>((b >> 1) ^ poly) : static_cast<T>(b >> 1);
  }
  return product;
}

// x^(8 * bytes) mod poly: the effect of that many zero bytes on a register.
template <typename T>
constexpr T zero_bytes_operator(uint32_t bytes, T poly) {
  constexpr int kWidth = 8 * sizeof(T);
  T p = static_cast<T>(T{1} << (kWidth - 1));
  for (uint64_t i = 0; i < uint64_t{8} * bytes; ++i)
    p = (p & 1) ? static_cast<T>((p >> 1) ^ poly) : static_cast<T>(p >> 1);
  return p;
}

// Long buffers are cut into blocks of three streams of kStream bytes whose
// registers advance side by side (independent look-up chains keep the
// processor busy) and are joined at the end of the block. Because the
// register update is linear, the register over A B C is
//   ((register over A) * s  XOR  (register from 0 over B)) * s
//   XOR (register from 0 over C),
// where s = x^(8 * kStream) mod poly advances a register over kStream zero
// bytes. Multiplying by s is itself linear, so it is done with one look-up
// per register byte (the join tables). Short streams let buffers of a few
// hundred bytes run three chains at once, for a join of a few look-ups.
constexpr uint32_t kStream = 64;

template <typename T>
using JoinTables = std::array<std::array<T, 256>, sizeof(T)>;

template <typename T>
struct Crc {
  T poly;
  SliceTables<T> t;
  JoinTables<T> join;  // join[k][b]: byte b at byte position k, times s
};

// join[k][b] = (b << 8k) * s mod poly; a register times s is the XOR of its
// bytes' entries.
template <typename T>
constexpr JoinTables<T> make_join_tables(T poly) {
  const T s = zero_bytes_operator<T>(kStream, poly);
  JoinTables<T> j{};
  for (unsigned k = 0; k < sizeof(T); ++k) {
    for (unsigned b = 0; b < 256; ++b) {
      j[k][b] = multiply_mod(static_cast<T>(static_cast<T>(b) << (8 * k)), s, poly);
    }
  }
  return j;
}

template <typename T>
constexpr Crc<T> make_crc(T poly) {
  return {poly, make_tables<T>(poly), make_join_tables<T>(poly)};
}

// A register advanced over kStream zero bytes.
template <typename T>
inline T skip_stream(T r, const JoinTables<T>& j) {
  T out = 0;
  for (unsigned k = 0; k < sizeof(T); ++k) out ^= j[k][(r >> (8 * k)) & 0xFF];
  return out;
}

// One step of eight bytes.
template <typename T>
inline T step8(T crc, const uint8_t* p, const SliceTables<T>& t) {
  uint64_t w = load_le64(p) ^ crc;
  return static_cast<T>(t[7][w & 0xFF] ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^
                        t[4][(w >> 24) & 0xFF] ^ t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^
                        t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56]);
}

// One step of sixteen bytes.
template <typename T>
inline T step16(T crc, const uint8_t* p, const SliceTables<T>& t) {
  uint64_t a = load_le64(p) ^ crc;
  uint64_t b = load_le64(p + 8);
  return static_cast<T>(
      t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][(a >> 24) & 0xFF] ^
      t[11][(a >> 32) & 0xFF] ^ t[10][(a >> 40) & 0xFF] ^ t[9][(a >> 48) & 0xFF] ^ t[8][a >> 56] ^
      t[7][b & 0xFF] ^ t[6][(b >> 8) & 0xFF] ^ t[5][(b >> 16) & 0xFF] ^ t[4][(b >> 24) & 0xFF] ^
      t[3][(b >> 32) & 0xFF] ^ t[2][(b >> 40) & 0xFF] ^ t[1][(b >> 48) & 0xFF] ^ t[0][b >> 56]);
}

// The reflected CRC register update over n bytes; crc holds the register
// (already inverted for CRC-32). T is the register width.
template <typename T>
T crc_update(T crc, const uint8_t* p, size_t n, const Crc<T>& c) {
  const auto& t = c.t;
  while (n >= 3 * kStream) {
    T a = crc, b = 0, d = 0;
    for (uint32_t i = 0; i < kStream; i += 16) {
      a = step16(a, p + i, t);
      b = step16(b, p + kStream + i, t);
      d = step16(d, p + 2 * kStream + i, t);
    }
    crc = static_cast<T>(skip_stream<T>(static_cast<T>(skip_stream<T>(a, c.join) ^ b), c.join) ^ d);
    p += 3 * kStream;
    n -= 3 * kStream;
  }
  while (n >= 16) {
    crc = step16(crc, p, t);
    p += 16;
    n -= 16;
  }
  if (n >= 8) {
    crc = step8(crc, p, t);
    p += 8;
    n -= 8;
  }
  if (n >= 4) {
    uint32_t w = load_le32(p) ^ crc;
    crc = static_cast<T>(t[3][w & 0xFF] ^ t[2][(w >> 8) & 0xFF] ^ t[1][(w >> 16) & 0xFF] ^
                         t[0][w >> 24]);
    p += 4;
    n -= 4;
  }
  while (n-- > 0) crc = static_cast<T>((crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF]);
  return crc;
}

constexpr Crc<uint16_t> kCrc16 = make_crc<uint16_t>(0xA001);
constexpr Crc<uint32_t> kCrc32 = make_crc<uint32_t>(0xEDB88320u);

// Spot checks of the byte-wise tables against their well-known entries.
static_assert(kCrc16.t[0][1] == 0xC0C1 && kCrc16.t[0][255] == 0x4040);
static_assert(kCrc32.t[0][1] == 0x77073096u && kCrc32.t[0][255] == 0x2D02EF8Du);

}  // namespace

// A negative length is taken as no data: the count is never walked below
// zero, so a caller's arithmetic slip cannot run the loop over memory.
int16_t UTIL_CRC16(int16_t crc, const void* buffer, int32_t length) {
  if (length <= 0) return crc;
  uint16_t r = crc_update<uint16_t>(static_cast<uint16_t>(crc), static_cast<const uint8_t*>(buffer),
                                    static_cast<uint32_t>(length), kCrc16);
  return static_cast<int16_t>(r);
}

namespace zeb::util {

uint32_t crc32_update_tables(uint32_t reg, const uint8_t* p, size_t n) {
  return crc_update<uint32_t>(reg, p, n, kCrc32);
}

}  // namespace zeb::util

namespace {

// Read once at start-up, so a call pays no more than a test of this flag. A
// call made before it is set (from another static initialiser) sees false
// and takes the tables, which give the same result.
const bool g_folding = zeb::util::crc32_folding_available();

}  // namespace

// Buffers long enough to fold are folded when the processor can; the result
// is the same either way.
int32_t UTIL_CRC32(int32_t crc, const void* buffer, int32_t length) {
  if (length <= 0) return crc;
  const auto* p = static_cast<const uint8_t*>(buffer);
  const auto n = static_cast<size_t>(length);
  uint32_t r = ~static_cast<uint32_t>(crc);
  if (n >= zeb::util::kCrc32FoldMinimum && g_folding) {
    r = zeb::util::crc32_update_folding(r, p, n);
  } else {
    r = crc_update<uint32_t>(r, p, n, kCrc32);
  }
  return static_cast<int32_t>(~r);
}
