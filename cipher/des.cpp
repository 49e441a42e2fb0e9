// DES with the published tables, in the usual fast form: the initial and
// final permutations are done by a fixed series of bit-group exchanges, the
// expansion by rotating the right half, and each round's S-box substitution
// and P permutation by eight look-ups in SP tables (S-box output already
// permuted by P). All tables are computed at compile time from the standard's
// own tables below.
//
// The cache keeps the round keys in their plain 48-bit form (three 16-bit
// words each). Each round rearranges its key into the look-up layout with
// six table look-ups, which keeps the cache layout as it is.
#include <zeb/cipher/des.h>

#include <array>
#include <bit>
#include <cstring>

namespace {

// ---- The standard's tables (bit numbers count from 1 at the most
// significant bit of the input).

constexpr uint8_t kPC1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr uint8_t kPC2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// S1 to S8, each 4 rows of 16 columns.
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// ---- Tables derived at compile time.

// A bit permutation applied a nibble at a time: entry [n][v] holds the output
// bits that nibble n of the input (counted from the most significant) gives
// when it has the value v.
template <int InBits>
using NibbleTable = std::array<std::array<uint64_t, 16>, InBits / 4>;

template <int InBits, int OutBits>
constexpr NibbleTable<InBits> make_nibble_table(const uint8_t (&select)[OutBits]) {
  NibbleTable<InBits> t{};
  for (int n = 0; n < InBits / 4; ++n) {
    for (int v = 0; v < 16; ++v) {
      uint64_t out = 0;
      for (int i = 0; i < OutBits; ++i) {
        int b = select[i] - 1;  // input bit, 0 = most significant
        if (b / 4 == n && ((v >> (3 - b % 4)) & 1)) out |= uint64_t{1} << (OutBits - 1 - i);
      }
      t[n][v] = out;
    }
  }
  return t;
}

template <int InBits>
inline uint64_t permute(uint64_t in, const NibbleTable<InBits>& t) {
  uint64_t out = 0;
  for (int n = 0; n < InBits / 4; ++n) out |= t[n][(in >> (InBits - 4 - 4 * n)) & 15];
  return out;
}

constexpr NibbleTable<64> kPC1Table = make_nibble_table<64, 56>(kPC1);

// PC-2 takes its first 24 bits from C (bits 1 to 28) and its last 24 from D
// (bits 29 to 56), so each half is permuted on its own, 7 bits at a time:
// entry [half][n][v] holds the round-key bits that 7-bit chunk n (counted
// from the most significant) of that half gives when it has the value v.
constexpr std::array<std::array<std::array<uint32_t, 128>, 4>, 2> make_pc2_tables() {
  std::array<std::array<std::array<uint32_t, 128>, 4>, 2> t{};
  for (int half = 0; half < 2; ++half) {
    for (int n = 0; n < 4; ++n) {
      for (int v = 0; v < 128; ++v) {
        uint32_t out = 0;
        for (int i = 0; i < 24; ++i) {
          const int b =
              kPC2[24 * half + i] - 1 - 28 * half;  // bit of the half, 0 = most significant
          if (b / 7 == n && ((v >> (6 - b % 7)) & 1)) out |= uint32_t{1} << (23 - i);
        }
        t[half][n][v] = out;
      }
    }
  }
  return t;
}

constexpr auto kPC2Tables = make_pc2_tables();

inline uint32_t pc2_half(uint32_t half28, const std::array<std::array<uint32_t, 128>, 4>& t) {
  return t[0][half28 >> 21] | t[1][(half28 >> 14) & 127] | t[2][(half28 >> 7) & 127] |
         t[3][half28 & 127];
}

constexpr uint32_t rotl32(uint32_t v, int n) { return (v << n) | (v >> ((32 - n) & 31)); }

// SP[j][x]: S-box j+1 applied to the 6-bit input x (bit b1 the most
// significant; row b1b6, column b2b3b4b5), placed in its four output bits,
// permuted by P and rotated left one place, because the rounds keep both
// halves rotated that way.
constexpr std::array<std::array<uint32_t, 64>, 8> make_sp() {
  std::array<std::array<uint32_t, 64>, 8> sp{};
  for (int j = 0; j < 8; ++j) {
    for (int x = 0; x < 64; ++x) {
      int row = ((x >> 4) & 2) | (x & 1);
      int col = (x >> 1) & 15;
      uint32_t pre = static_cast<uint32_t>(kS[j][row * 16 + col]) << (28 - 4 * j);
      uint32_t post = 0;
      for (int i = 0; i < 32; ++i) {
        if ((pre >> (32 - kP[i])) & 1) post |= uint32_t{1} << (31 - i);
      }
      sp[j][x] = rotl32(post, 1);
    }
  }
  return sp;
}

constexpr auto kSP = make_sp();

// A well-known entry: S1(0) = 14, permuted by P and rotated.
static_assert(kSP[0][0] == 0x01010400u);

// ---- Key schedule.

// The 16 round keys of a key (8 bytes): PC-1, the left shifts of the two
// 28-bit halves, PC-2.
void set_key_schedule(const uint8_t* key, uint16_t out[16][3]) {
  uint64_t k = 0;
  for (int i = 0; i < 8; ++i) k = (k << 8) | key[i];
  uint64_t cd = permute<64>(k, kPC1Table);
  uint32_t c = static_cast<uint32_t>(cd >> 28) & 0x0FFFFFFF;
  uint32_t d = static_cast<uint32_t>(cd) & 0x0FFFFFFF;
  for (int r = 0; r < 16; ++r) {
    int s = kShifts[r];
    c = ((c << s) | (c >> (28 - s))) & 0x0FFFFFFF;
    d = ((d << s) | (d >> (28 - s))) & 0x0FFFFFFF;
    uint64_t rk = (uint64_t{pc2_half(c, kPC2Tables[0])} << 24) | pc2_half(d, kPC2Tables[1]);
    out[r][0] = static_cast<uint16_t>(rk >> 32);
    out[r][1] = static_cast<uint16_t>(rk >> 16);
    out[r][2] = static_cast<uint16_t>(rk);
  }
}

// A 48-bit round key as the rounds use it: the eight 6-bit groups g1..g8,
// g1 g3 g5 g7 in the bytes of one 32-bit word (g1 in the top byte) and
// g2 g4 g6 g8 in the bytes of another. Table [i][v] holds, for byte i of the
// round key (0 the most significant) with value v, its bits in that layout:
// the first word in the upper half, the second in the lower.
constexpr std::array<std::array<uint64_t, 256>, 6> make_layout_tables() {
  std::array<std::array<uint64_t, 256>, 6> t{};
  for (int i = 0; i < 6; ++i) {
    for (int v = 0; v < 256; ++v) {
      uint64_t out = 0;
      for (int b = 0; b < 8; ++b) {
        if (((v >> (7 - b)) & 1) == 0) continue;
        const int bit = 8 * i + b;      // bit of the round key, 0 = most significant
        const int group = bit / 6;      // 0 for g1
        const int place = 5 - bit % 6;  // bit within the group's byte
        const int byte = 3 - group / 2;
        out |= uint64_t{1} << ((group % 2 == 0 ? 32 : 0) + 8 * byte + place);
      }
      t[i][v] = out;
    }
  }
  return t;
}

constexpr auto kLayout = make_layout_tables();

inline uint64_t round_key_layout(const uint16_t rk[3]) {
  return kLayout[0][rk[0] >> 8] | kLayout[1][rk[0] & 0xFF] | kLayout[2][rk[1] >> 8] |
         kLayout[3][rk[1] & 0xFF] | kLayout[4][rk[2] >> 8] | kLayout[5][rk[2] & 0xFF];
}

// ---- The cache.

constexpr size_t kKeyLength = 8;
constexpr size_t kRoundKeysOffset = offsetof(DesKeyCache, round_keys);
constexpr size_t kRoundKeysLength = sizeof(DesKeyCache::round_keys);

// The empty mark: K1 all ones and K2 all zeros. No key gives it, because K1
// all ones needs at least 48 of the 56 key bits set and K2 all zeros at least
// 48 of them clear.
bool marked_empty(const uint8_t* cache) {
  uint16_t rk[2][3];
  std::memcpy(rk, cache + kRoundKeysOffset, sizeof rk);
  return rk[0][0] == 0xFFFF && rk[0][1] == 0xFFFF && rk[0][2] == 0xFFFF && rk[1][0] == 0 &&
         rk[1][1] == 0 && rk[1][2] == 0;
}

// The round keys for key, from the cache when it holds them, else computed
// and stored in the cache together with the key copy.
void round_keys_for(const uint8_t* key, uint8_t* cache, uint16_t rk[16][3]) {
  if (std::memcmp(cache, key, kKeyLength) == 0 && !marked_empty(cache)) {
    std::memcpy(rk, cache + kRoundKeysOffset, kRoundKeysLength);
    return;
  }
  set_key_schedule(key, rk);
  std::memcpy(cache, key, kKeyLength);
  std::memcpy(cache + kRoundKeysOffset, rk, kRoundKeysLength);
}

// ---- The block.

inline uint32_t load_be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// f(R, K), to be XORed into L. r is the right half rotated left one place;
// k is the round key in the layout of round_key_layout.
inline uint32_t feistel(uint32_t r, uint64_t k) {
  uint32_t w = std::rotr(r, 4) ^ static_cast<uint32_t>(k >> 32);
  uint32_t f =
      kSP[6][w & 63] | kSP[4][(w >> 8) & 63] | kSP[2][(w >> 16) & 63] | kSP[0][(w >> 24) & 63];
  w = r ^ static_cast<uint32_t>(k);
  f |= kSP[7][w & 63] | kSP[5][(w >> 8) & 63] | kSP[3][(w >> 16) & 63] | kSP[1][(w >> 24) & 63];
  return f;
}

// Exchanges the bits of a selected by mask << shift with those of b selected
// by mask: the steps of the initial and final permutations.
inline void exchange(uint32_t& a, uint32_t& b, int shift, uint32_t mask) {
  uint32_t t = ((a >> shift) ^ b) & mask;
  b ^= t;
  a ^= t << shift;
}

// Enciphers (Decipher false) or deciphers one block with round keys rk.
template <bool Decipher>
void crypt_block(uint8_t* block, const uint16_t rk[16][3]) {
  uint32_t left = load_be32(block);
  uint32_t right = load_be32(block + 4);

  // Initial permutation; both halves end up rotated left one place.
  exchange(left, right, 4, 0x0F0F0F0F);
  exchange(left, right, 16, 0x0000FFFF);
  exchange(right, left, 2, 0x33333333);
  exchange(right, left, 8, 0x00FF00FF);
  right = std::rotl(right, 1);
  uint32_t t = (left ^ right) & 0xAAAAAAAA;
  left ^= t;
  right ^= t;
  left = std::rotl(left, 1);

  // Sixteen rounds, two per step, so the halves never need exchanging. Each
  // round key is brought into the look-up layout as it is needed; that work
  // does not depend on the block and overlaps the rounds.
  for (int r = 0; r < 16; r += 2) {
    left ^= feistel(right, round_key_layout(rk[Decipher ? 15 - r : r]));
    right ^= feistel(left, round_key_layout(rk[Decipher ? 14 - r : r + 1]));
  }

  // Final permutation, which also undoes the last exchange of halves.
  right = std::rotr(right, 1);
  t = (left ^ right) & 0xAAAAAAAA;
  left ^= t;
  right ^= t;
  left = std::rotr(left, 1);
  exchange(left, right, 8, 0x00FF00FF);
  exchange(left, right, 2, 0x33333333);
  exchange(right, left, 16, 0x0000FFFF);
  exchange(right, left, 4, 0x0F0F0F0F);

  store_be32(block, right);
  store_be32(block + 4, left);
}

void crypt(void* block, const void* key, void* cache, bool decipher) {
  uint16_t rk[16][3];
  round_keys_for(static_cast<const uint8_t*>(key), static_cast<uint8_t*>(cache), rk);
  if (decipher) {
    crypt_block<true>(static_cast<uint8_t*>(block), rk);
  } else {
    crypt_block<false>(static_cast<uint8_t*>(block), rk);
  }
}

}  // namespace

void UTIL_ENCODE(void* block, const void* key, void* cache) { crypt(block, key, cache, false); }

void UTIL_DECODE(void* block, const void* key, void* cache) { crypt(block, key, cache, true); }

namespace zeb {

void des_cache_clear(void* cache) {
  DesKeyCache empty{};
  for (auto& word : empty.round_keys[0]) word = 0xFFFF;
  std::memcpy(cache, &empty, sizeof empty);
}

bool des_cache_empty(const void* cache) { return marked_empty(static_cast<const uint8_t*>(cache)); }

}  // namespace zeb
