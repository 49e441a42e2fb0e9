// CRC-32 by folding with carry-less multiplication (x86 PCLMULQDQ).
//
// The CRC register of a message is the message, as a polynomial over GF(2),
// times x^32 modulo the generator. A 128-bit block followed by d more bits
// of message contributes the same as the block multiplied by x^d (mod the
// generator), so four 128-bit accumulators can run over the buffer side by
// side: each step multiplies every accumulator's two 64-bit halves by the
// constants for a 512-bit move forward and adds (XORs) the next 64 bytes.
// At the end the four accumulators are folded into one, the remaining whole
// 16-byte blocks into that, and the 128 bits are reduced to the 32-bit
// register: 128 to 96 to 64 bits by two more folds, then 64 to 32 bits by
// Barrett reduction. The last 0 to 15 bytes go through the byte tables.
//
// Everything runs in the reflected bit order of the register (bit 0 of the
// first byte is the highest power), where the product of two 64-bit halves
// comes out one bit low; the fold constants below make up for that. They are
// computed here from the generator, not copied.
//
// Only this function is compiled for PCLMULQDQ (a target attribute), so the
// library still runs on any x86-64 processor and builds for any other
// architecture; UTIL_CRC32 calls it only when the processor reports the
// instruction.
#include "util/checksum_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ZEB_CRC32_FOLDING 1
#endif

namespace zeb::util {

#ifdef ZEB_CRC32_FOLDING

namespace {

constexpr uint32_t kPoly = 0xEDB88320u;  // reflected generator, without x^32

// x^n modulo the generator, in reflected order (bit 31 is x^0).
constexpr uint32_t xpow_mod(int n) {
  uint32_t p = 0x80000000u;
  for (int i = 0; i < n; ++i) p = (p & 1) ? (p >> 1) ^ kPoly : p >> 1;
  return p;
}

// The 33-bit constant that multiplies a 64-bit half to move it forward:
// x^n mod the generator, shifted up one bit for the reflected product.
constexpr uint64_t fold_constant(int n) { return uint64_t{xpow_mod(n)} << 1; }

// floor(x^64 / generator), 33 bits, reflected: the Barrett quotient.
constexpr uint64_t barrett_quotient() {
  constexpr uint64_t kGenerator = 0x104C11DB7u;  // normal order, with x^32
  uint64_t quotient = 0;
  uint64_t window = uint64_t{1} << 32;  // the leading 33 bits of the dividend
  for (int degree = 64; degree >= 32; --degree) {
    if (window & (uint64_t{1} << 32)) {
      quotient |= uint64_t{1} << (degree - 32);
      window ^= kGenerator;
    }
    window <<= 1;
  }
  uint64_t reflected = 0;
  for (int k = 0; k <= 32; ++k) {
    if ((quotient >> k) & 1) reflected |= uint64_t{1} << (32 - k);
  }
  return reflected;
}

// Each pair: the constant for the low (earlier) half, then the high half.
constexpr uint64_t kFold512Low = fold_constant(4 * 128 + 32);
constexpr uint64_t kFold512High = fold_constant(4 * 128 - 32);
constexpr uint64_t kFold128Low = fold_constant(128 + 32);
constexpr uint64_t kFold128High = fold_constant(128 - 32);
constexpr uint64_t kFold64 = fold_constant(64);
constexpr uint64_t kGeneratorReflected = (uint64_t{kPoly} << 1) | 1;
constexpr uint64_t kBarrett = barrett_quotient();

// The published constants of this generator, as a check on the arithmetic.
static_assert(kFold512Low == 0x154442BD4u && kFold512High == 0x1C6E41596u);
static_assert(kFold128Low == 0x1751997D0u && kFold128High == 0x0CCAA009Eu);
static_assert(kFold64 == 0x163CD6124u && kBarrett == 0x1F7011641u);

__attribute__((target("pclmul"))) inline __m128i load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// acc moved forward by the distance of k (low half by k's low constant,
// high half by its high one), plus next.
__attribute__((target("pclmul"))) inline __m128i fold(__m128i acc, __m128i k, __m128i next) {
  __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
  __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

}  // namespace

bool crc32_folding_available() {
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") != 0;
  }();
  return available;
}

__attribute__((target("pclmul"))) uint32_t crc32_update_folding(uint32_t reg, const uint8_t* p,
                                                                size_t n) {
  if (n < kCrc32FoldMinimum) return crc32_update_tables(reg, p, n);

  __m128i acc = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
  p += 16;
  n -= 16;
  const __m128i k128 =
      _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
  if (n >= 48) {
    __m128i a0 = acc;
    __m128i a1 = load(p);
    __m128i a2 = load(p + 16);
    __m128i a3 = load(p + 32);
    p += 48;
    n -= 48;
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    while (n >= 64) {
      a0 = fold(a0, k512, load(p));
      a1 = fold(a1, k512, load(p + 16));
      a2 = fold(a2, k512, load(p + 32));
      a3 = fold(a3, k512, load(p + 48));
      p += 64;
      n -= 64;
    }
    acc = fold(a0, k128, a1);
    acc = fold(acc, k128, a2);
    acc = fold(acc, k128, a3);
  }
  while (n >= 16) {
    acc = fold(acc, k128, load(p));
    p += 16;
    n -= 16;
  }

  // 128 to 96 bits: the low half moves forward 64 bits onto the high half.
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  acc = _mm_xor_si128(_mm_srli_si128(acc, 8), _mm_clmulepi64_si128(acc, k128, 0x10));
  // 96 to 64 bits: the low 32 bits move forward 64 bits onto the rest.
  const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(kFold64));
  acc = _mm_xor_si128(_mm_srli_si128(acc, 4),
                      _mm_clmulepi64_si128(_mm_and_si128(acc, low32), k64, 0x00));
  // 64 to 32 bits: Barrett reduction; the register ends in bits 32 to 63.
  const __m128i barrett =
      _mm_set_epi64x(static_cast<long long>(kBarrett), static_cast<long long>(kGeneratorReflected));
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(acc, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  acc = _mm_xor_si128(acc, t);
  reg = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(acc, 4)));

  return crc32_update_tables(reg, p, n);
}

#else  // no folding code for this architecture

bool crc32_folding_available() { return false; }

uint32_t crc32_update_folding(uint32_t reg, const uint8_t* p, size_t n) {
  return crc32_update_tables(reg, p, n);
}

#endif

}  // namespace zeb::util
