// Name and text utilities: the stored name forms, case folding, filling,
// number and address conversion, collapsing and the same-file test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include <zeb/env/env.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/filename.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/types.h>
#include "platform/host/host.h"

namespace {

// The volume table of the tests: one simulated disk, in a host of its own
// for the whole test program.
class SimulatedVolumeHost : public ::testing::Environment {
 public:
  void SetUp() override {
    zeb::platform::Configuration config = zeb::platform::host().config();
    config.set("ZEB_VOLUMES", "$SIM=sim:rpm=6000");
    host_ = std::make_unique<zeb::platform::ScopedHost>(std::move(config));
  }
  void TearDown() override { host_.reset(); }

 private:
  std::unique_ptr<zeb::platform::ScopedHost> host_;
};
const auto* const kSimulatedVolumeHost =
    ::testing::AddGlobalTestEnvironment(new SimulatedVolumeHost);

std::string file_text(const char* src) {
  char dst[49];
  std::memset(dst, 'X', sizeof dst);
  UTIL_CLEANUPFILENAME(src, dst);
  EXPECT_EQ(dst[48], 'X') << "wrote past 48 bytes";
  return std::string(dst, 48);
}

std::string padded(const std::string& s) { return s + std::string(48 - s.size(), ' '); }

TEST(CleanupFileName, TextUpToBlankOrNulUpshiftedAndPadded) {
  const std::string long_name(60, 'a');
  struct {
    const char* src;
    std::string want;
  } cases[] = {
      {"=lconf\0\0\0", padded("=LCONF")},
      {"$data.sub.file rest", padded("$DATA.SUB.FILE")},
      {"", padded("")},
      {" leading", padded("")},
      {"mixed\xe9z9.", padded("MIXED\xe9Z9.")},
      {long_name.c_str(), padded(std::string(47, 'A'))},
  };
  for (const auto& c : cases) EXPECT_EQ(file_text(c.src), c.want) << c.src;
}

std::string counted(const char* src) {
  char dst[50];
  std::memset(dst, 'X', sizeof dst);
  UTIL_CLEANUPPARAMNAME(src, dst);
  auto n = static_cast<unsigned char>(dst[0]);
  EXPECT_EQ(dst[1 + n], 'X') << "wrote past the name";
  return std::string(dst, 1 + n);  // the count byte and the name
}

TEST(CleanupParamName, CountedNamesFromTextAndCountedInput) {
  const std::string fifty(50, 'q');
  struct {
    std::string src;
    std::string want;
  } cases[] = {
      {"=lconf", "\x05LCONF"},
      {"=", std::string(1, '\0')},
      {" speed", std::string(1, '\0')},
      {"\x03"
       "abcdef",
       "\x03"
       "ABC"},
      {std::string("\0", 1), std::string(1, '\0')},
      {"speed fast", "\x05SPEED"},
      {"=a=b\0c", std::string("\x03"
                              "A=B")},
      {fifty, std::string(1, '\x30') + std::string(48, 'Q')},
      {"=" + fifty, std::string(1, '\x2f') + std::string(47, 'Q')},
  };
  for (const auto& c : cases) EXPECT_EQ(counted(c.src.c_str()), c.want) << c.src;
}

TEST(NameLen, EndsAtBlankElseNulElse48) {
  const std::string sixty(60, 'n');
  struct {
    const char* name;
    int16_t want;
  } cases[] = {{"$A.B.C tail", 6}, {" x", 0}, {"abc\0def ", 3}, {sixty.c_str(), 48}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(UTIL_NAMELEN(c.name), c.want) << c.name;
}

TEST(Upshift, OnlyAsciiLettersFoldAndInPlaceWorks) {
  char all[256], out[256];
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  UTIL_UPSHIFT(all, out, 256);
  for (int i = 0; i < 256; ++i) {
    int want = i >= 'a' && i <= 'z' ? i - 32 : i;
    EXPECT_EQ(static_cast<unsigned char>(out[i]), want) << i;
  }
  char text[] = "in place 9!";
  UTIL_UPSHIFT(text, text, static_cast<int16_t>(std::strlen(text)));
  EXPECT_STREQ(text, "IN PLACE 9!");
  char untouched[] = "abc";
  UTIL_UPSHIFT(untouched, untouched, 0);
  UTIL_UPSHIFT(untouched, untouched, -5);
  EXPECT_STREQ(untouched, "abc");
}

TEST(Fill, LowByteForPositiveLengthsOnly) {
  char area[8] = "abcdefg";
  UTIL_FILL(area, 0, '*');
  UTIL_FILL(area, -3, '*');
  EXPECT_STREQ(area, "abcdefg");
  UTIL_FILL(area, 3, static_cast<int16_t>(0x412A));
  EXPECT_STREQ(area, "***defg");
}

TEST(Double, WholeTextMustConvert) {
  const std::string digits63 = "-" + std::string(62, '0');
  const std::string digits64 = std::string(63, '0') + "1";
  struct {
    std::string text;
    int16_t len;
    int16_t error;
    int32_t value;
  } cases[] = {
      {"123", 3, 0, 123},         {"12x", 3, 315, 0},
      {"123", 2, 0, 12},          {"-2147483648", 11, 0, INT32_MIN},
      {"2147483648", 10, 315, 0}, {"", 0, 315, 0},
      {" 1", 2, 315, 0},          {"1 ", 2, 315, 0},
      {"5", -1, 315, 0},          {digits63, 63, 0, 0},
      {digits64, 64, 315, 0},     {"70000", 5, 0, 70000},
  };
  for (const auto& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(UTIL_DOUBLE(c.text.data(), c.len, &value), c.error) << c.text;
    if (c.error == 0) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(IpAddr, FourDottedFieldsOfAByte) {
  struct {
    const char* text;
    int16_t error;
    uint8_t bytes[4];
  } cases[] = {
      {"10.0.0.1", 0, {10, 0, 0, 1}},
      {"255.255.255.255", 0, {255, 255, 255, 255}},
      {"256.1.1.1", 316, {0xEE, 0xEE, 0xEE, 0xEE}},
      {"1.2.3", 316, {1, 2, 0xEE, 0xEE}},
      {"1.2.3.4.5", 316, {1, 2, 3, 0xEE}},
      {"1.2.3.", 316, {1, 2, 3, 0xEE}},
      {"1..3.4", 316, {1, 0xEE, 0xEE, 0xEE}},
      {"1.2.3.-1", 316, {1, 2, 3, 0xEE}},
      {"", 316, {0xEE, 0xEE, 0xEE, 0xEE}},
  };
  for (const auto& c : cases) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(UTIL_IPADDR(c.text, static_cast<int16_t>(std::strlen(c.text)), out), c.error)
        << c.text;
    EXPECT_EQ(std::memcmp(out, c.bytes, 4), 0) << c.text;
  }
  // Only the given characters take part: the fifth field is not seen.
  uint8_t out[4];
  EXPECT_EQ(UTIL_IPADDR("1.2.3.4.5", 7, out), 0);
  EXPECT_EQ(out[3], 4);
}

TEST(FnameCollapse, ExternalTextWithNul) {
  char external[32];
  std::memset(external, 'X', sizeof external);
  int16_t n = UTIL_FNAMECOLLAPSE("$DATA   SUB     FILE    ", external);
  EXPECT_EQ(n, 14);
  EXPECT_STREQ(external, "$DATA.SUB.FILE");
  n = UTIL_FNAMECOLLAPSE("$DATA                   ", external);
  EXPECT_EQ(n, 5);
  EXPECT_STREQ(external, "$DATA");
}

int16_t open_name(const std::string& name) {
  int16_t fnum = -2;
  EXPECT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), name.data(), static_cast<int16_t>(name.size()), &fnum),
            0)
      << name;
  return fnum;
}

std::string temporary() {
  char buffer[50] = "$SIM";
  int16_t length = 4;
  EXPECT_EQ(FILE_CREATE_(zeb::mask({1, 2, 3}), buffer, 50, &length), 0);
  return std::string(buffer, static_cast<size_t>(length));
}

TEST(SameFile, ByFileNumbers) {
  std::string a = temporary(), b = temporary();
  int16_t a1 = open_name(a), a2 = open_name(a), b1 = open_name(b);
  int16_t home = open_name("$ZHOME"), out = open_name("$zout"), err = open_name("$ZERR");
  EXPECT_EQ(UTIL_SAMEFILE(a1, a2), 0);
  EXPECT_EQ(UTIL_SAMEFILE(a1, b1), 313);
  // The home terminal of a program started from a shell is its standard output.
  EXPECT_EQ(UTIL_SAMEFILE(home, out), 0);
  EXPECT_EQ(UTIL_SAMEFILE(99, a1), 16);
  EXPECT_EQ(UTIL_SAMEFILE(a1, 99), 16);
  (void)err;
  for (int16_t f : {a1, a2, b1, home, out, err}) FILE_CLOSE_(zeb::mask({1}), f);
}

TEST(FilenameCompare, NamesInOneForm) {
  struct {
    const char* a;
    const char* b;
    int16_t want;
  } cases[] = {
      {"$SIM.SUB.F", "$sim.sub.f", -1}, {"$SIM.SUB.F", "$SIM.SUB.G", 0},
      {"$NOVOL.A.B", "$NOVOL.A.B", -1}, {"$NOVOL.A.B", "$NOVOL.A.C", 0},
      {"not a name", "$SIM", 13},       {"$SIM", "", 13},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FILENAME_COMPARE_(c.a, static_cast<int16_t>(std::strlen(c.a)), c.b,
                                static_cast<int16_t>(std::strlen(c.b))),
              c.want)
        << c.a << " " << c.b;
  }
  EXPECT_EQ(FILENAME_COMPARE_("$SIM", -1, "$SIM", 4), 22);
}

TEST(CivilTime, JulianMicrosecondsOfTheProcessorClock) {
  int64_t before = PROCESSOR_CLOCK();
  int64_t civil = UTIL_CIVILTIME();
  int64_t after = PROCESSOR_CLOCK();
  EXPECT_GE(civil - 211024440000000000LL, before);
  EXPECT_LE(civil - 211024440000000000LL, after);
}

}  // namespace
