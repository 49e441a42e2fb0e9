#include <zeb/util/checksum.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "util/checksum_internal.h"

namespace {

const char kCheck[] = "123456789";

// Plain bit-at-a-time reflected CRCs, the reference for the table code.
uint16_t bitwise_crc16(uint16_t crc, const uint8_t* p, size_t n) {
  while (n--) {
    crc ^= *p++;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

uint32_t bitwise_crc32(uint32_t crc, const uint8_t* p, size_t n) {
  crc = ~crc;
  while (n--) {
    crc ^= *p++;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

TEST(Crc, CatalogueCheckValues) {
  // CRC-16/ARC: init 0.
  EXPECT_EQ(UTIL_CRC16(0, kCheck, 9), static_cast<int16_t>(0xBB3D));
  EXPECT_EQ(UTIL_CRC16(0, kCheck, 9), -17603);
  // CRC-16/MODBUS: init 0xFFFF.
  EXPECT_EQ(static_cast<uint16_t>(UTIL_CRC16(-1, kCheck, 9)), 0x4B37);
  // CRC-32/ISO-HDLC.
  EXPECT_EQ(static_cast<uint32_t>(UTIL_CRC32(0, kCheck, 9)), 0xCBF43926u);
  EXPECT_EQ(static_cast<uint32_t>(UTIL_CRC32(0, "abc", 3)), 0x352441C2u);
  // CRC-32/JAMCRC is the same register without the final inversion.
  EXPECT_EQ(~static_cast<uint32_t>(UTIL_CRC32(0, kCheck, 9)), 0x340BC6D9u);
}

TEST(Crc, EmptyAndNegativeLengthsReturnTheStartingValue) {
  EXPECT_EQ(UTIL_CRC16(0x1234, kCheck, 0), 0x1234);
  EXPECT_EQ(UTIL_CRC32(0x12345678, kCheck, 0), 0x12345678);
  EXPECT_EQ(UTIL_CRC16(-5, kCheck, -1), -5);
  EXPECT_EQ(UTIL_CRC32(77, kCheck, -100), 77);
}

TEST(Crc, PiecewiseChainingGivesTheWholeResult) {
  int16_t first = UTIL_CRC16(0, kCheck, 4);
  EXPECT_EQ(UTIL_CRC16(first, kCheck + 4, 5), -17603);

  std::mt19937 rng(7);
  std::vector<uint8_t> data(1000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const int16_t whole16 = UTIL_CRC16(0, data.data(), 1000);
  const int32_t whole32 = UTIL_CRC32(0, data.data(), 1000);
  for (int cut : {0, 1, 3, 7, 8, 9, 17, 500, 999, 1000}) {
    EXPECT_EQ(UTIL_CRC16(UTIL_CRC16(0, data.data(), cut), data.data() + cut, 1000 - cut), whole16)
        << cut;
    EXPECT_EQ(UTIL_CRC32(UTIL_CRC32(0, data.data(), cut), data.data() + cut, 1000 - cut), whole32)
        << cut;
  }
}

TEST(Crc, AgreesWithTheBitwiseLoopForEveryLengthAndAlignment) {
  std::mt19937 rng(11);
  std::vector<uint8_t> data(300);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (int offset = 0; offset < 8; ++offset) {
    for (int len = 0; len < 80; ++len) {
      const uint8_t* p = data.data() + offset;
      uint16_t start16 = static_cast<uint16_t>(rng());
      uint32_t start32 = static_cast<uint32_t>(rng());
      ASSERT_EQ(static_cast<uint16_t>(UTIL_CRC16(static_cast<int16_t>(start16), p, len)),
                bitwise_crc16(start16, p, len))
          << offset << " " << len;
      ASSERT_EQ(static_cast<uint32_t>(UTIL_CRC32(static_cast<int32_t>(start32), p, len)),
                bitwise_crc32(start32, p, len))
          << offset << " " << len;
    }
  }
}

TEST(Crc, LongBuffersAgreeWithTheBitwiseLoop) {
  // Long buffers take the path that runs three streams side by side, in
  // blocks of 3 x 64 bytes joined by the join tables.
  std::mt19937 rng(13);
  std::vector<uint8_t> data(70000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (int len : {191, 192, 193, 207, 384, 391, 3072, 3080, 9999, 70000}) {
    for (int offset : {0, 3}) {
      if (offset + len > 70000) continue;
      const uint8_t* p = data.data() + offset;
      uint16_t start16 = static_cast<uint16_t>(rng());
      uint32_t start32 = static_cast<uint32_t>(rng());
      EXPECT_EQ(static_cast<uint16_t>(UTIL_CRC16(static_cast<int16_t>(start16), p, len)),
                bitwise_crc16(start16, p, len))
          << len;
      EXPECT_EQ(static_cast<uint32_t>(UTIL_CRC32(static_cast<int32_t>(start32), p, len)),
                bitwise_crc32(start32, p, len))
          << len;
      EXPECT_EQ(~zeb::util::crc32_update_tables(~start32, p, len), bitwise_crc32(start32, p, len))
          << len;
    }
  }
}

// The two register updates UTIL_CRC32 chooses between: the tables run on
// every processor, folding only where carry-less multiplication exists.
struct Crc32Path {
  const char* name;
  uint32_t (*update)(uint32_t, const uint8_t*, size_t);
};

std::vector<Crc32Path> crc32_paths() {
  std::vector<Crc32Path> paths = {{"tables", zeb::util::crc32_update_tables}};
  if (zeb::util::crc32_folding_available())
    paths.push_back({"folding", zeb::util::crc32_update_folding});
  return paths;
}

std::vector<uint8_t> bytes_of(size_t n, uint8_t (*byte)(size_t)) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = byte(i);
  return v;
}

TEST(Crc32Paths, KnownAnswers) {
  // Published check values and values from zlib's crc32, from one byte to a
  // megabyte so that every stage of both paths is reached.
  const struct {
    std::vector<uint8_t> data;
    uint32_t crc;
  } cases[] = {
      {{}, 0},
      {{'a'}, 0xE8B7BE43u},
      {{'a', 'b', 'c'}, 0x352441C2u},
      {bytes_of(9, [](size_t i) { return static_cast<uint8_t>('1' + i); }), 0xCBF43926u},
      {bytes_of(32, [](size_t) -> uint8_t { return 0; }), 0x190A55ADu},
      {bytes_of(32, [](size_t) -> uint8_t { return 0xFF; }), 0xFF6CAB0Bu},
      {bytes_of(32, [](size_t i) { return static_cast<uint8_t>(i); }), 0x91267E8Au},
      {bytes_of(43,
                [](size_t i) {
                  return static_cast<uint8_t>("The quick brown fox jumps over the lazy dog"[i]);
                }),
       0x414FA339u},
      {bytes_of(1024, [](size_t i) { return static_cast<uint8_t>(i); }), 0xB70B4C26u},
      {bytes_of(4096, [](size_t) -> uint8_t { return 0; }), 0xC71C0011u},
      {bytes_of(100003, [](size_t i) { return static_cast<uint8_t>(i * 31 % 251); }), 0xB719034Au},
      {bytes_of(1000000, [](size_t) -> uint8_t { return 'a'; }), 0xDC25BFBCu},
  };
  for (const auto& c : cases) {
    const size_t n = c.data.size();
    for (const Crc32Path& path : crc32_paths())
      EXPECT_EQ(~path.update(~0u, c.data.data(), n), c.crc) << path.name << " " << n;
    EXPECT_EQ(static_cast<uint32_t>(UTIL_CRC32(0, c.data.data(), static_cast<int32_t>(n))), c.crc)
        << n;
  }
}

TEST(Crc32Paths, AgreeWithTheBitwiseLoopOnEveryShortLengthAndAlignment) {
  std::mt19937 rng(17);
  std::vector<uint8_t> data(320);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (const Crc32Path& path : crc32_paths()) {
    for (size_t offset = 0; offset < 16; ++offset) {
      for (size_t len = 0; len <= 300; ++len) {
        const uint32_t start = static_cast<uint32_t>(rng());
        const uint8_t* p = data.data() + offset;
        ASSERT_EQ(~path.update(~start, p, len), bitwise_crc32(start, p, len))
            << path.name << " offset " << offset << " length " << len;
      }
    }
  }
}

TEST(Crc32Paths, FoldingAgreesWithTablesOnRandomLongInputs) {
  if (!zeb::util::crc32_folding_available())
    GTEST_SKIP() << "no carry-less multiplication on this processor";
  std::mt19937 rng(19);
  std::vector<uint8_t> data((1 << 20) + 64);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (int i = 0; i < 200; ++i) {
    const size_t offset = rng() % 64;
    const size_t len = i < 100 ? 300 + rng() % 4000 : rng() % (1 << 20);
    const uint32_t start = static_cast<uint32_t>(rng());
    const uint8_t* p = data.data() + offset;
    ASSERT_EQ(zeb::util::crc32_update_folding(start, p, len),
              zeb::util::crc32_update_tables(start, p, len))
        << "offset " << offset << " length " << len;
  }
}

TEST(CharConv, EbcdicRoundTripKeepsEveryByte) {
  std::array<uint8_t, 256> all{}, ebcdic{}, back{};
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  UTIL_ASCIIEBCDIC(all.data(), ebcdic.data(), 256);
  UTIL_EBCDICASCII(ebcdic.data(), back.data(), 256);
  EXPECT_EQ(back, all);
  UTIL_EBCDICASCII(all.data(), ebcdic.data(), 256);
  UTIL_ASCIIEBCDIC(ebcdic.data(), back.data(), 256);
  EXPECT_EQ(back, all);
}

TEST(CharConv, EbcdicTellingEntries) {
  const uint8_t ascii[] = {' ', '0', '9',  '!',  '[', ']', '^', '|',
                           '`', '~', '\n', 0x7F, 'A', 'a', 'Z'};
  const uint8_t ebcdic[] = {0x40, 0xF0, 0xF9, 0x4F, 0x4A, 0x5A, 0x5F, 0x6A,
                            0x79, 0xA1, 0x25, 0x07, 0xC1, 0x81, 0xE9};
  uint8_t out[sizeof ascii];
  UTIL_ASCIIEBCDIC(ascii, out, sizeof ascii);
  EXPECT_EQ(0, std::memcmp(out, ebcdic, sizeof ascii));
  UTIL_EBCDICASCII(ebcdic, out, sizeof ascii);
  EXPECT_EQ(0, std::memcmp(out, ascii, sizeof ascii));
}

TEST(CharConv, DownshiftAndPrintableInPlace) {
  uint8_t text[] = {0x41, 0x42, 0x43, 0x2D, 0x78, 0xC4, 0xD6};
  UTIL_DOWNSHIFT(text, text, 7);
  const uint8_t lowered[] = {0x61, 0x62, 0x63, 0x2D, 0x78, 0xC4, 0xD6};
  EXPECT_EQ(0, std::memcmp(text, lowered, 7));

  uint8_t raw[] = {0x09, 0x41, 0x7F, 0xC4, 0x20, 0x7E};
  UTIL_PRINTABLE(raw, raw, 6);
  const uint8_t shown[] = {0x2E, 0x41, 0x2E, 0x2E, 0x20, 0x7E};
  EXPECT_EQ(0, std::memcmp(raw, shown, 6));
}

TEST(CharConv, NonPositiveLengthsDoNothing) {
  uint8_t in[4] = {'A', 'B', 'C', 'D'};
  uint8_t out[4] = {1, 2, 3, 4};
  UTIL_DOWNSHIFT(in, out, 0);
  UTIL_ASCIIEBCDIC(in, out, -3);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[3], 4);
}

TEST(Hex, BytesToText) {
  const uint8_t bytes[] = {0x00, 0xAB, 0x5F};
  char text[8];
  std::memset(text, '*', sizeof text);
  EXPECT_EQ(UTIL_HEXASCII(bytes, text, 4), 0);
  EXPECT_EQ(std::string(text, 5), "00AB*");

  // An odd length writes exactly that many characters: the high digit last.
  std::memset(text, '*', sizeof text);
  EXPECT_EQ(UTIL_HEXASCII(bytes, text, 5), 0);
  EXPECT_EQ(std::string(text, 6), "00AB5*");
  std::memset(text, '*', sizeof text);
  EXPECT_EQ(UTIL_HEXASCII(bytes, text, 1), 0);
  EXPECT_EQ(std::string(text, 2), "0*");
  EXPECT_EQ(UTIL_HEXASCII(bytes, text, 0), 0);
  EXPECT_EQ(text[0], '0');
}

TEST(Hex, TextToBytes) {
  uint8_t out[4] = {0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(UTIL_ASCIIHEX("0aFf", out, 4), 0);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xFF);
  EXPECT_EQ(out[2], 0x33);

  // Odd length: the last character is the high nibble; the low nibble stays.
  uint8_t odd[3] = {0x00, 0x00, 0x57};
  EXPECT_EQ(UTIL_ASCIIHEX("ABC", odd, 3), 0);
  EXPECT_EQ(odd[0], 0xAB);
  EXPECT_EQ(odd[1], 0xC0);
  EXPECT_EQ(odd[2], 0x57);
  odd[1] = 0x07;
  EXPECT_EQ(UTIL_ASCIIHEX("9", odd + 1, 1), 0);
  EXPECT_EQ(odd[1], 0x97);
}

TEST(Hex, InvalidTextStopsAtTheBadPair) {
  uint8_t out[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(UTIL_ASCIIHEX("1g", out, 2), 314);
  EXPECT_EQ(out[0], 0xEE);
  // Earlier pairs stay converted; the bad pair's byte and later ones do not.
  EXPECT_EQ(UTIL_ASCIIHEX("12 4ab", out, 6), 314);
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0xEE);
  EXPECT_EQ(UTIL_ASCIIHEX("0x12", out, 4), 314);
  EXPECT_EQ(UTIL_ASCIIHEX("12-", out, 3), 314);
  EXPECT_EQ(out[1], 0xEE);
  EXPECT_EQ(UTIL_ASCIIHEX("12", out, -1), 22);
  EXPECT_EQ(UTIL_ASCIIHEX("", out, 0), 0);
}

TEST(Hex, RoundTripOfAllByteValues) {
  std::array<uint8_t, 256> all{}, back{};
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  char text[512];
  UTIL_HEXASCII(all.data(), text, 512);
  EXPECT_EQ(UTIL_ASCIIHEX(text, back.data(), 512), 0);
  EXPECT_EQ(back, all);
  UTIL_DOWNSHIFT(text, text, 512);  // lower-case digits are accepted alike
  back.fill(0);
  EXPECT_EQ(UTIL_ASCIIHEX(text, back.data(), 512), 0);
  EXPECT_EQ(back, all);
}

}  // namespace
