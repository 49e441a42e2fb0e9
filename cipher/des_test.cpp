#include <zeb/cipher/des.h>

#include <gtest/gtest.h>
#include <openssl/des.h>

#include <array>
#include <cstring>
#include <random>

namespace {

using Block = std::array<uint8_t, 8>;

Block hex64(uint64_t v) {
  Block b;
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  return b;
}

Block encode(uint64_t key, uint64_t plain) {
  DesKeyCache cache{};
  Block k = hex64(key), b = hex64(plain);
  UTIL_ENCODE(b.data(), k.data(), &cache);
  return b;
}

struct Vector {
  uint64_t key, plain, cipher;
};

// Published known answers: the classic worked examples and entries of the
// standard's validation tables (variable plaintext, variable key, S-box).
constexpr Vector kVectors[] = {
    {0x133457799BBCDFF1, 0x0123456789ABCDEF, 0x85E813540F0AB405},
    {0x0123456789ABCDEF, 0x4E6F772069732074, 0x3FA40E8A984D4815},
    {0x0101010101010101, 0x8000000000000000, 0x95F8A5E5DD31D900},
    {0x0101010101010101, 0x4000000000000000, 0xDD7F121CA5015619},
    {0x0101010101010101, 0x2000000000000000, 0x2E8653104F3834EA},
    {0x8001010101010101, 0x0000000000000000, 0x95A8D72813DAA94D},
    {0x4001010101010101, 0x0000000000000000, 0x0EEC1487DD8C26D5},
    {0x7CA110454A1A6E57, 0x01A1D6D039776742, 0x690F5B0D9A26939B},
    {0x0131D9619DC1376E, 0x5CD54CA83DEF57DA, 0x7A389D10354BD271},
};

TEST(Des, PublishedVectorsEncipherAndDecipher) {
  for (const auto& v : kVectors) {
    EXPECT_EQ(encode(v.key, v.plain), hex64(v.cipher)) << std::hex << v.key;
    DesKeyCache cache{};
    Block k = hex64(v.key), b = hex64(v.cipher);
    UTIL_DECODE(b.data(), k.data(), &cache);
    EXPECT_EQ(b, hex64(v.plain)) << std::hex << v.key;
  }
}

TEST(Des, CacheHoldsTheKeyAndTheStandardRoundKeys) {
  // The worked example's key: K1 and K16 are published with it.
  DesKeyCache cache{};
  Block k = hex64(0x133457799BBCDFF1), b{};
  UTIL_ENCODE(b.data(), k.data(), &cache);
  EXPECT_EQ(0, std::memcmp(cache.key, k.data(), 8));
  EXPECT_EQ(cache.round_keys[0][0], 0x1B02);
  EXPECT_EQ(cache.round_keys[0][1], 0xEFFC);
  EXPECT_EQ(cache.round_keys[0][2], 0x7072);
  EXPECT_EQ(cache.round_keys[15][0], 0xCB3D);
  EXPECT_EQ(cache.round_keys[15][1], 0x8B0E);
  EXPECT_EQ(cache.round_keys[15][2], 0x17F5);
}

TEST(Des, SameKeyUsesTheCachedScheduleAndANewKeyReplacesIt) {
  DesKeyCache cache{};
  Block k1 = hex64(0x0123456789ABCDEF), k2 = hex64(0xFEDCBA9876543210);
  Block b = hex64(0x4E6F772069732074);
  UTIL_ENCODE(b.data(), k1.data(), &cache);
  const DesKeyCache first = cache;

  // The schedule is not recomputed for the same key: a tampered round key
  // is used as it stands.
  cache.round_keys[7][1] ^= 0x0400;
  Block tampered = hex64(0x4E6F772069732074);
  UTIL_ENCODE(tampered.data(), k1.data(), &cache);
  EXPECT_NE(tampered, hex64(0x3FA40E8A984D4815));
  EXPECT_EQ(cache.round_keys[7][1], first.round_keys[7][1] ^ 0x0400);

  // Another key replaces key copy and schedule; going back recomputes.
  UTIL_ENCODE(b.data(), k2.data(), &cache);
  EXPECT_EQ(0, std::memcmp(cache.key, k2.data(), 8));
  EXPECT_NE(0, std::memcmp(cache.round_keys, first.round_keys, sizeof first.round_keys));
  b = hex64(0x4E6F772069732074);
  UTIL_ENCODE(b.data(), k1.data(), &cache);
  EXPECT_EQ(b, hex64(0x3FA40E8A984D4815));
  EXPECT_EQ(0, std::memcmp(&cache, &first, sizeof cache));
}

TEST(Des, EmptyCacheAlwaysComputesTheSchedule) {
  // A cleared cache whose key copy equals the key (all zeros) is still
  // recognised as empty.
  uint8_t raw[104];
  std::memset(raw, 0x5A, sizeof raw);
  zeb::des_cache_clear(raw);
  EXPECT_TRUE(zeb::des_cache_empty(raw));
  Block zero_key{}, b{};
  UTIL_ENCODE(b.data(), zero_key.data(), raw);
  EXPECT_FALSE(zeb::des_cache_empty(raw));
  // 0000000000000000 under the all-zero key: 8CA64DE9C1B123A7.
  EXPECT_EQ(b, hex64(0x8CA64DE9C1B123A7));
  // A zero-filled cache is the exact schedule of the all-zero key.
  uint8_t zeros[104] = {};
  EXPECT_EQ(0, std::memcmp(zeros, raw, sizeof zeros));

  // Same through an unaligned caller area.
  alignas(8) uint8_t area[105];
  zeb::des_cache_clear(area + 1);
  Block k = hex64(0x133457799BBCDFF1), p = hex64(0x0123456789ABCDEF);
  UTIL_ENCODE(p.data(), k.data(), area + 1);
  EXPECT_EQ(p, hex64(0x85E813540F0AB405));
}

TEST(Des, ParityBitsDoNotMatter) {
  std::mt19937_64 rng(3);
  for (int i = 0; i < 50; ++i) {
    uint64_t key = rng(), plain = rng();
    uint64_t flipped = key ^ (rng() & 0x0101010101010101ull);
    EXPECT_EQ(encode(key, plain), encode(flipped, plain));
  }
}

TEST(Des, AgreesWithOpenSslOnRandomKeysAndBlocks) {
  std::mt19937_64 rng(20240601);
  DesKeyCache cache{};
  for (int i = 0; i < 20000; ++i) {
    // Every fourth block reuses the previous key, so the cached path is
    // exercised as well as the scheduling one.
    static Block key;
    if (i % 4 != 3) key = hex64(rng());
    Block plain = hex64(rng());

    DES_key_schedule ks;
    DES_cblock ossl_key;
    std::memcpy(ossl_key, key.data(), 8);
    DES_set_key_unchecked(&ossl_key, &ks);
    DES_cblock in, expected;
    std::memcpy(in, plain.data(), 8);
    DES_ecb_encrypt(&in, &expected, &ks, DES_ENCRYPT);

    Block b = plain;
    UTIL_ENCODE(b.data(), key.data(), &cache);
    ASSERT_EQ(0, std::memcmp(b.data(), expected, 8)) << i;
    UTIL_DECODE(b.data(), key.data(), &cache);
    ASSERT_EQ(b, plain) << i;
  }
}

}  // namespace
