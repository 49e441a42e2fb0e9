// Tests of the format engine, grouped by directive, through UTIL_FORMAT's
// output.
#include <zeb/format/format.h>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zeb/platform/clock.h>
#include <zeb/platform/convert.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/types.h>
#include "format/format_internal.h"
#include "platform/testing/testing.h"

namespace {

// A volume $FMTVOL rooted in a scratch directory holding sub/file, for the
// whole test run.
zeb::testing::ScratchVolume* g_volume = nullptr;

class FormatVolume : public ::testing::Environment {
 public:
  void SetUp() override {
    g_volume = new zeb::testing::ScratchVolume("$FMTVOL");
    ::mkdir(g_volume->path("sub").c_str(), 0700);
    if (FILE* f = std::fopen(g_volume->path("sub/file").c_str(), "w")) std::fclose(f);
  }
  void TearDown() override {
    delete g_volume;
    g_volume = nullptr;
  }
};
const auto* const g_format_volume = ::testing::AddGlobalTestEnvironment(new FormatVolume);

// Formats with the given argument addresses, all marked as passed.
template <typename... A>
std::string Fmt(int16_t limit, const char* format, A... a) {
  static_assert(sizeof...(a) <= 14);
  const void* args[14] = {static_cast<const void*>(a)...};
  uint32_t mask = zeb::mask({1, 2, 3});
  for (size_t i = 0; i < sizeof...(a); ++i) mask |= zeb::param_bit(4 + static_cast<int>(i));
  char buf[1024];
  std::memset(buf, '#', sizeof buf);
  int16_t n =
      UTIL_FORMAT(mask, format, buf, limit, args[0], args[1], args[2], args[3], args[4], args[5],
                  args[6], args[7], args[8], args[9], args[10], args[11], args[12], args[13]);
  EXPECT_GE(n, 0);
  EXPECT_LE(n, limit < 0 ? 0 : limit);
  // Nothing is stored beyond the result.
  EXPECT_EQ(buf[n], '#');
  return std::string(buf, static_cast<size_t>(n));
}

template <typename... A>
std::string F(const char* format, A... a) {
  return Fmt(500, format, a...);
}

std::string Blanks(int n) { return std::string(static_cast<size_t>(n), ' '); }

// ---------------------------------------------------------------- engine

TEST(Engine, OrdinaryTextAndEmptyFormat) {
  EXPECT_EQ(F(""), "");
  EXPECT_EQ(F("VORN reports the effective RPM"), "VORN reports the effective RPM");
  char buf[8] = "xxxxxxx";
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({1, 2, 3}), "", buf, 5), 0);
  EXPECT_EQ(buf[0], 'x');
}

TEST(Engine, Escapes) {
  EXPECT_EQ(F("@41"), "A");
  EXPECT_EQ(F("a@@b"), "a@b");
  EXPECT_EQ(F("@x1"), "@x1");
  EXPECT_EQ(F("@4"), "@4");
  EXPECT_EQ(F("@"), "@");
  EXPECT_EQ(F("@4g"), "@4g");
  EXPECT_EQ(F("@6a@6A"), "jj");
  int32_t v = 42;
  EXPECT_EQ(F("x@5Cd\\y", &v), "x42y");  // an escaped backslash opens a directive
  EXPECT_EQ(F("ab@00cd"), "ab");         // an escaped NUL ends the format
  EXPECT_EQ(F("\\d@00\\ more", &v), "42");
  EXPECT_EQ(F("\\s3=@2A\\"), "***");  // escapes count inside a directive
}

TEST(Engine, BackslashesAndUnknownLetters) {
  EXPECT_EQ(F("a\\\\b"), "a\\b");
  EXPECT_EQ(F("a\\ \\b"), "a\\b");
  int32_t v = 7;
  EXPECT_EQ(F("\\g8\\d\\", &v), "\\g87");  // the last backslash opens a new directive
  for (const char* c :
       {"G", "h", "J", "k", "L", "r", "W", "x", "[", "]", "^", "_", "`", "1", "!", "~"}) {
    EXPECT_EQ(F((std::string("\\") + c + "z").c_str()), std::string("\\") + c + "z") << c;
  }
  EXPECT_EQ(F("ab\\"), "ab\\");
  EXPECT_EQ(F("ab\\   "), "ab\\");
  EXPECT_EQ(F("\\@01"), "\\\x01");  // stored raw, not in the <hh> form
}

TEST(Engine, DirectiveBodyAndLeftovers) {
  int32_t v = 123;
  EXPECT_EQ(F("[\\ d8\\]", &v), "[     123]");
  EXPECT_EQ(F("[\\D8\\]", &v), "[     123]");
  EXPECT_EQ(F("[\\d8xy z\\]", &v), "[     123xyz]");
  EXPECT_EQ(F("[\\d8", &v), "[     123");  // not closed: ends after the field
  EXPECT_EQ(F("\\d 8\\", &v), "1238");     // a blank ends the body
}

TEST(Engine, DirectiveNumbers) {
  int16_t w = 6;
  int32_t v = 5;
  EXPECT_EQ(F("\\d%\\", &v, &w), "     5");
  EXPECT_EQ(F("\\d4095\\|", &v),
            Blanks(zeb::format::kMaxField - 1) + "5|");  // clamped to the work area
  EXPECT_EQ(F("\\d4096\\|", &v), "5|");                  // modulo 4096
  EXPECT_EQ(F("\\d4100\\|", &v), "   5|");               // five digits: 4100 % 4096
  int16_t neg = -5;
  EXPECT_EQ(F("\\d%\\|", &v, &neg), "5|");
  int16_t big = 30000;
  EXPECT_EQ(F("\\d%\\|", &v, &big), Blanks(zeb::format::kMaxField - 1) + "5|");
}

TEST(Engine, LimitStopsOutputButNotArguments) {
  int32_t a = 1, b = 22;
  EXPECT_EQ(Fmt(0, "abc\\d\\def", &a), "");
  EXPECT_EQ(Fmt(3, "abcdef"), "abc");
  EXPECT_EQ(Fmt(5, "ab\\d8\\", &a), "ab   ");
  // Arguments are consumed past the limit: the second directive still
  // takes the second argument.
  EXPECT_EQ(Fmt(2, "\\d4\\\\d\\", &a, &b), "  ");
  char buf[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({1, 2, 3}), "hello", buf, -3), 0);
  EXPECT_EQ(buf[0], '#');
  // A limit of exactly the text's length.
  EXPECT_EQ(Fmt(5, "hello"), "hello");
}

TEST(Engine, RequiredParametersAndMissingArguments) {
  char buf[16] = {};
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({2, 3}), "abc", buf, 10), 0);
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({1, 3}), "abc", buf, 10), 0);
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({1, 2}), "abc", buf, 10), 0);
  EXPECT_EQ(UTIL_FORMAT(zeb::mask({1, 2, 3}), nullptr, buf, 10), 0);
  // Slots not marked as passed are never read: they take 0 or empty text.
  int32_t v = 99;
  const char* bad = reinterpret_cast<const char*>(16);  // would fault if read
  char out[128];
  int16_t n =
      UTIL_FORMAT(zeb::mask({1, 2, 3, 4}), "\\d\\ \\d\\ \\i\\ \\q\\ [\\a4\\] [\\v\\] \\b\\ \\e\\",
                  out, 120, &v, bad, bad, bad, bad, bad, bad);
  EXPECT_EQ(std::string(out, n), "99 0 0 0 [    ] [] FALSE 0 (operation successful)");
  n = UTIL_FORMAT(zeb::mask({1, 2, 3}), "\\s4\\|\\d%\\|\\tj\\", out, 120, bad, bad, bad);
  EXPECT_EQ(std::string(out, n), "|0|           00:00:00.000000");
}

TEST(Engine, Tab) {
  EXPECT_EQ(F("abc\\z10\\|"), "abc       |");
  EXPECT_EQ(F("abcdef\\z3\\|"), "abcdef|");
  EXPECT_EQ(F("abc\\z3\\|"), "abc|");
  int16_t col = 5;
  EXPECT_EQ(F("a\\z%\\|", &col), "a    |");
  int16_t neg = -1;
  EXPECT_EQ(F("a\\z%\\|", &neg), "a|");
  EXPECT_EQ(Fmt(8, "a\\z4000\\|"), "a       ");
}

// Fields through OUTPUT, as the string directives reach it.
TEST(Engine, FieldWriter) {
  const char* s = "abcdef";
  EXPECT_EQ(F("[\\v\\]", s), "[abcdef]");
  EXPECT_EQ(F("[\\v4\\]", s), "[abcd]");
  EXPECT_EQ(F("[\\vc7\\]", "ab"), "[  ab   ]");
  EXPECT_EQ(F("[\\vr7\\]", "ab"), "[     ab]");
  EXPECT_EQ(F("[\\v\\]", "a\tb"), "[a<09>b]");
  EXPECT_EQ(F("[\\v\\]", "\x7F\x80\xff"), "[<7F><80><FF>]");
  EXPECT_EQ(F("[\\v\\]", "~ "), "[~ ]");
  // Widths stop at the work area; a NUL-terminated text at its own length
  // is written whole.
  std::string long_text(200, 'x');
  EXPECT_EQ(F("\\v\\", long_text.c_str()), long_text);
  EXPECT_EQ(F("\\v999\\", long_text.c_str()), long_text.substr(0, zeb::format::kMaxField));
  int16_t len = 200;
  EXPECT_EQ(F("\\a.%\\", long_text.c_str(), &len), long_text.substr(0, zeb::format::kMaxField));
  // Width 2 with a non-printable byte: the cut counts bytes, not columns.
  EXPECT_EQ(F("[\\v2\\]", "\x01x"), "[<01>x]");
}

// The word-at-a-time test behind the field writer's copy of a plain text:
// every byte value at every place of texts of 1 to 17 bytes.
TEST(Engine, ShownBytesTestAgreesWithTheByteTest) {
  char text[17];
  for (size_t n = 1; n <= sizeof text; ++n) {
    for (size_t at = 0; at < n; ++at) {
      for (int b = 0; b < 256; ++b) {
        std::memset(text, 'a', sizeof text);
        text[at] = static_cast<char>(b);
        ASSERT_EQ(zeb::format::all_shown(text, n), b >= 0x20 && b <= 0x7E)
            << "length " << n << " byte " << b << " at " << at;
      }
    }
  }
}

// ---------------------------------------------------------------- numbers

struct NumberCase {
  const char* format;
  int32_t value;
  const char* expected;
};

TEST(Numbers, WorkedExamples) {
  const NumberCase cases[] = {
      {"\\d\\", 123, "123"},
      {"\\d\\", -123, "123"},
      {"\\d-\\", -123, "-123"},
      {"\\d-\\", 123, "123"},
      {"\\d+\\", 123, "+123"},
      {"\\d+\\", -123, "-123"},
      {"\\d+\\", 0, "+0"},
      {"\\d8\\", 123, "     123"},
      {"\\d-8\\", -123, "    -123"},
      {"\\d8=0\\", 123, "00000123"},
      {"\\d-8=0\\", -123, "-0000123"},
      {"\\d8=*\\", 123, "*****123"},
      {"\\d2\\", 123, "123"},
      {"\\d6.2\\", 105, "  1.05"},
      {"\\d6.2\\", 100, "  1.00"},
      {"\\d.2\\", 150, "1.5"},
      {"\\d.2\\", 100, "1"},
      {"\\d.3\\", 5, "0.005"},
      {"\\d8.3\\", 5, "   0.005"},
      {"\\dh\\", 255, "FF"},
      {"\\d8h=0\\", 255, "000000FF"},
      {"\\dh\\", -1, "FFFFFFFFFFFFFFFF"},
      {"\\d-h\\", -255, "-FF"},
      {"\\do\\", 8, "10"},
      {"\\do\\", -8, "10"},
      {"\\d8>$\\", 123, "    $123"},
      {"\\d-8=0>$\\", -123, "$-000123"},
      {"\\d-8>$\\", -123, "   $-123"},
      // Value 0 and places.
      {"\\d\\", 0, "0"},
      {"\\d.3\\", 0, "0"},
      {"\\d8.2\\", 0, "    0.00"},
      // Upper-case modifiers, and "h" with "o": base 8 wins.
      {"\\DH\\", 255, "FF"},
      {"\\dho\\", 8, "10"},
      {"\\d+-\\", -5, "-5"},
      // "h" before the width: the width is text after the field.
      {"\\dh8\\", 255, "FF8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(F(c.format, &c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(Numbers, SixteenAndSixtyFourBits) {
  int16_t m1 = -1;
  EXPECT_EQ(F("\\ih\\", &m1), "FFFFFFFFFFFFFFFF");
  int16_t i = -32768;
  EXPECT_EQ(F("\\i-\\", &i), "-32768");
  int64_t max = INT64_MAX;
  EXPECT_EQ(F("\\q\\", &max), "9223372036854775807");
  int64_t min = INT64_MIN;
  EXPECT_EQ(F("\\q-\\", &min), "-9223372036854775808");
  EXPECT_EQ(F("\\qh\\", &min), "8000000000000000");
  EXPECT_EQ(F("\\qo\\", &min), "1000000000000000000000");
  uint64_t all = ~0ull;
  EXPECT_EQ(F("\\qo\\", &all), "1");  // -1 in base 8 is its magnitude
  int64_t big = 1234567890123LL;
  EXPECT_EQ(F("\\q8\\", &big), "1234567890123");
}

// A width-only number directive closed by a plain backslash takes a short
// path; closed by an escaped one ("@5C") it goes through the general parser.
// Both must agree for every letter, width, value and room left.
TEST(Numbers, PlainDirectiveAgreesWithTheGeneralParser) {
  const int64_t values[] = {0, 7, -7, 99999, 4294967296, INT64_MAX, INT64_MIN};
  const char* const widths[] = {"", "0", "1", "8", "20", "150", "151", "4100", "4096"};
  for (const char* letter : {"d", "i", "q"}) {
    for (const char* width : widths) {
      const std::string plain = std::string("<\\") + letter + width + "\\>";
      const std::string general = std::string("<\\") + letter + width + "@5C>";
      for (int64_t value : values) {
        const int32_t v32 = static_cast<int32_t>(value);
        const int16_t v16 = static_cast<int16_t>(value);
        const void* arg = *letter == 'q'   ? static_cast<const void*>(&value)
                          : *letter == 'd' ? static_cast<const void*>(&v32)
                                           : static_cast<const void*>(&v16);
        for (int16_t limit : {500, 160, 9, 3, 1}) {
          EXPECT_EQ(Fmt(limit, plain.c_str(), arg), Fmt(limit, general.c_str(), arg))
              << plain << " " << value << " limit " << limit;
        }
      }
    }
  }
}

// Every digit count, and fields that just fit the room left, just miss it or
// are cut by it, with each kind of front part.
TEST(Numbers, DigitCountsAndTheLimit) {
  const struct {
    int16_t limit;
    const char* format;
    int64_t value;
    const char* expected;
  } cases[] = {
      {40, "\\q\\", 9, "9"},
      {40, "\\q\\", 10, "10"},
      {40, "\\q\\", 99, "99"},
      {40, "\\q\\", 100, "100"},
      {40, "\\q\\", 9999, "9999"},
      {40, "\\q\\", 10000, "10000"},
      {40, "\\q\\", 99999999, "99999999"},
      {40, "\\q\\", 100000000, "100000000"},
      {40, "\\q\\", 4294967295, "4294967295"},
      {40, "\\q\\", 4294967296, "4294967296"},
      {40, "\\q\\", 999999999999999999, "999999999999999999"},
      {40, "\\q\\", 1000000000000000000, "1000000000000000000"},
      {40, "\\q-\\", -1000000000000000000, "-1000000000000000000"},
      {8, "\\q8\\", 123, "     123"},
      {7, "\\q8\\", 123, "     12"},
      {3, "\\q\\", 1234, "123"},
      {3, "\\q+\\", 1234, "+12"},
      {8, "\\q-8=0>$\\", -123, "$-000123"},
      {4, "\\q-8=0>$\\", -123, "$-00"},
      {4, "\\q-8>$\\", -123, "   $"},
      {6, "\\q-8>$\\", -123, "   $-1"},
      {5, "ab\\q\\cd", 123, "ab123"},
      {4, "ab\\q\\cd", 0, "ab0c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fmt(c.limit, c.format, &c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(Numbers, PercentWidthAndPlacesFollowTheValue) {
  int32_t v = 12345;
  int16_t w = 9, p = 2;
  EXPECT_EQ(F("\\d%.%\\", &v, &w, &p), "   123.45");
  int16_t places = 40;  // clamped: one digit stays in front of the point
  int32_t one = 1;
  EXPECT_EQ(F("\\d.%\\", &one, &places), "0.0000000000000000001");
  EXPECT_EQ(F("\\d.%h\\", &one, &places), "0.000000000000001");
  int16_t negp = -3;
  EXPECT_EQ(F("\\d.%\\", &one, &negp), "1");
}

TEST(Numbers, NonPrintableFillShowsInHexForm) {
  int32_t v = 5;
  EXPECT_EQ(F("\\d3=@01\\", &v), "<01><01>5");
}

// ---------------------------------------------------------------- strings

TEST(Strings, ADirective) {
  const char* name = "$DATA01X";
  int16_t len3 = 3, len10 = 10, len0 = 0;
  EXPECT_EQ(F("[\\a\\]", name), "[]");
  EXPECT_EQ(F("[\\a8.%\\]", name, &len3), "[$DA     ]");
  EXPECT_EQ(F("[\\a8.%\\]", "$DATA01XYZ", &len10), "[$DATA01X]");
  EXPECT_EQ(F("[\\a8.%\\]", "$D\0\0\0\0\0\0", &len0), "[$D<00><00><00><00><00><00>]");
  EXPECT_EQ(F("[\\a4\\]", "abcdef"), "[abcd]");
  EXPECT_EQ(F("[\\a.3\\]", "abcdef"), "[abc]");
  EXPECT_EQ(F("[\\ar6.3\\]", "abcdef"), "[   abc]");
  EXPECT_EQ(F("[\\alr6.2\\]", "abcdef"), "[  ab  ]");  // l with r centres
  EXPECT_EQ(F("[\\a6.5t\\]", " ab  "), "[ab    ]");
}

// The drive line's field where the room left holds it exactly, one byte
// less, or less than its text; and texts that are not shown as they are.
TEST(Strings, FieldsAtTheLimit) {
  const struct {
    int16_t limit;
    const char* text;
    int16_t length;
    const char* expected;
  } cases[] = {
      {10, "$DATA01", 7, "[$DATA01 ]"},
      {9, "$DATA01", 7, "[$DATA01 "},
      {8, "$DATA01", 7, "[$DATA01"},
      {5, "$DATA01", 7, "[$DAT"},
      {10, "$DATA0123", 8, "[$DATA012]"},
      {20, "a\tbc", 4, "[a<09>bc    ]"},
      {4, "a\tbc", 4, "[a<0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fmt(c.limit, "[\\a8.%\\]", c.text, &c.length), c.expected)
        << c.limit << " " << c.text;
  }
}

TEST(Strings, VDirective) {
  EXPECT_EQ(F("[\\v8\\]", "abc"), "[abc     ]");
  EXPECT_EQ(F("[\\vr8\\]", "abc"), "[     abc]");
  EXPECT_EQ(F("[\\vc8\\]", "abc"), "[  abc   ]");
  EXPECT_EQ(F("[\\vt\\]", "  abc  "), "[abc]");
  EXPECT_EQ(F("[\\v8T\\]", "  abc  "), "[abc     ]");
  EXPECT_EQ(F("[\\vT8\\]", "  abc  "), "[abc8]");  // out of order: text
  int16_t ignored = 2;
  int32_t v = 1;
  // The second number is read (and its argument consumed) but ignored.
  EXPECT_EQ(F("[\\v5.%\\]\\d\\", "abc", &ignored, &v), "[abc  ]1");
}

TEST(Strings, RepeatedCharacter) {
  EXPECT_EQ(F("[\\s5=-\\]"), "[-----]");
  EXPECT_EQ(F("[\\s0=-\\]"), "[]");
  char star = '*';
  EXPECT_EQ(F("[\\s3\\]", &star), "[***]");
  int16_t n = 4;
  char tab = '\t';
  EXPECT_EQ(F("[\\s%\\]", &n, &tab), "[\t\t\t\t]");  // control bytes stay raw
  int16_t neg = -2;
  EXPECT_EQ(F("[\\s%=x\\]", &neg), "[]");
}

TEST(Strings, TwoValuedWords) {
  int16_t zero = 0, one = 1, other = -7;
  EXPECT_EQ(F("\\b\\ \\o\\ \\y\\", &one, &one, &one), "TRUE ON YES");
  EXPECT_EQ(F("\\b\\ \\o\\ \\y\\", &other, &other, &other), "TRUE ON YES");
  EXPECT_EQ(F("\\b\\ \\o\\ \\y\\", &zero, &zero, &zero), "FALSE OFF NO");
  EXPECT_EQ(F("[\\b3\\]", &zero), "[FAL]");
  EXPECT_EQ(F("[\\y6\\]", &one), "[YES   ]");
}

// ---------------------------------------------------------------- typed fields

TEST(Typed, ProcessorType) {
  int16_t t8 = 8, tm1 = -1, t2 = 2, t0 = 0;
  EXPECT_EQ(F("[\\ct\\]", &t8), "[<invalid>]");
  EXPECT_EQ(F("[\\ct\\]", &tm1), "[<invalid>]");
  EXPECT_EQ(F("[\\ct\\]", &t2), "[TXP]");
  EXPECT_EQ(F("[\\ct5\\]", &t0), "[I    ]");
  int16_t cpu0 = 0, cpu99 = 99;
  EXPECT_EQ(F("[\\cn\\]", &cpu0), "[K10]");
  EXPECT_EQ(F("[\\cn\\]", &cpu99), "[<invalid>]");
  EXPECT_EQ(F("[\\c\\]"), "[K10]");
}

TEST(Typed, ProcessNamed) {
  zeb::testing::set_variable("ZEB_PROCESS_NAME", "$abc");
  EXPECT_EQ(F("[\\p\\]"), "[$ABC]");
  EXPECT_EQ(F("[\\p6\\]"), "[$ABC  ]");
  EXPECT_EQ(F("[\\p3\\]"), "[$AB]");
  const uint16_t me = static_cast<uint16_t>(MYPID());
  char expected[32];
  std::snprintf(expected, sizeof expected, "[%02u,%03u]", me >> 8, me & 0xFF);
  EXPECT_EQ(F("[\\p#\\]"), expected);
  zeb::testing::set_variable("ZEB_PROCESS_NAME", std::nullopt);
}

TEST(Typed, ProcessUnnamedAndGivenIdentifiers) {
  zeb::testing::set_variable("ZEB_PROCESS_NAME", std::nullopt);
  const uint16_t me = static_cast<uint16_t>(MYPID());
  char expected[32];
  std::snprintf(expected, sizeof expected, "%02u,%03u", me >> 8, me & 0xFF);
  EXPECT_EQ(F("\\p\\"), expected);
  EXPECT_EQ(F("\\p6\\"), expected);

  // Identifiers given by address.
  unsigned char named[8] = {'$', 'x', 'y', 'z', ' ', ' ', 0, 0};
  int16_t w = 0x0117;  // processor 1, pin 23
  std::memcpy(named + 6, &w, 2);
  EXPECT_EQ(F("\\pi\\", named), "$XYZ");
  EXPECT_EQ(F("\\pi#\\", named), "01,023");
  unsigned char unnamed[8] = {0x80, 5, 0, 0, 0, 0, 0, 0};
  std::memcpy(unnamed + 6, &w, 2);
  EXPECT_EQ(F("\\pi\\", unnamed), "005,01,023");
  unnamed[1] = static_cast<unsigned char>(MYSYSTEMNUMBER());
  EXPECT_EQ(F("\\pi\\", unnamed), "01,023");

  // A named process on another system: the system the name conversion
  // cannot name is shown by its number.
  unsigned char remote[8] = {'\\', 5, 'R', 'E', 'M', ' ', 0, 0};
  std::memcpy(remote + 6, &w, 2);
  EXPECT_EQ(F("\\pi\\", remote), "\\005.$REM");
  EXPECT_EQ(F("\\pi#\\", remote), "005,01,023");

  // A cpu and pin that names no process: numeric form.
  int16_t none = static_cast<int16_t>(0x0F00 | 0xFE);
  EXPECT_EQ(F("\\pp\\", &none), "15,254");
  // A file number that is not open.
  int16_t fnum = 999, minus1 = -1;
  EXPECT_EQ(F("[\\pn12\\]", &fnum), "[<not open>  ]");
  EXPECT_EQ(F("\\pn\\", &minus1), "<not open>");
  // This process by its own cpu and pin.
  int16_t mine = MYPID();
  EXPECT_EQ(F("\\pp\\", &mine), expected);
}

TEST(Typed, UserNumericAndNamed) {
  int16_t id = 0x0801;  // group 8, user 1
  EXPECT_EQ(F("\\u#\\", &id), "008,001");
  EXPECT_EQ(F("[\\u#9\\]", &id), "[008,001  ]");
  int16_t root = 0;
  EXPECT_EQ(F("\\u\\", &root), "root.root");
  EXPECT_EQ(F("[\\u12\\]", &root), "[root.root   ]");
  // A user of this machine: the caller itself.
  int16_t names[8];
  names[0] = static_cast<int16_t>(::getuid());
  ASSERT_EQ(USERIDTOUSERNAME(names), 0);
  std::string group(reinterpret_cast<char*>(names), 8);
  std::string user(reinterpret_cast<char*>(names) + 8, 8);
  group.erase(group.find_last_not_of(' ') + 1);
  user.erase(user.find_last_not_of(' ') + 1);
  EXPECT_EQ(F("\\up\\"), group + "." + user);
  EXPECT_EQ(F("\\uc\\"), group + "." + user);
}

TEST(Typed, OpenFileByNumber) {
  ASSERT_FALSE(g_volume->root().empty());
  const char name[] = "$FMTVOL.SUB.FILE";
  int16_t fnum = -2;
  ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), name, static_cast<int16_t>(sizeof name - 1), &fnum),
            0);
  EXPECT_EQ(F("\\fn\\", &fnum), "$FMTVOL.SUB.FILE");
  EXPECT_EQ(F("[\\fn20\\]", &fnum), "[$FMTVOL.SUB.FILE    ]");
  // A process identifier is the name's first four words: six name bytes.
  EXPECT_EQ(F("\\pn\\", &fnum), "$FMTVO");
  EXPECT_EQ(F("\\en\\", &fnum), "0 (operation successful)");
  ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), fnum), 0);
  EXPECT_EQ(F("\\fn\\", &fnum), "<Not open>");
  EXPECT_EQ(F("\\en\\", &fnum), "<Not open>");
  // A failed open leaves its error with file number -1.
  const char missing[] = "$FMTVOL.SUB.NOFILE";
  int16_t none = -2;
  EXPECT_NE(
      FILE_OPEN_(zeb::mask({1, 2, 3}), missing, static_cast<int16_t>(sizeof missing - 1), &none),
      0);
  int16_t minus1 = -1;
  EXPECT_EQ(F("\\en\\", &minus1), "11 (file not in directory or record not in file)");
}

TEST(Typed, FileNameNotOpenAndGiven) {
  int16_t minus1 = -1, closed = 1234;
  EXPECT_EQ(F("[\\fn\\]", &minus1), "[<Not open>]");
  EXPECT_EQ(F("[\\fn12\\]", &closed), "[<Not open>  ]");
  EXPECT_EQ(F("[\\fn4\\]", &closed), "[<Not]");
  const char internal[] = "$data   sub     file    ";
  EXPECT_EQ(F("\\f\\", internal), "$DATA.SUB.FILE");
  EXPECT_EQ(F("\\fs\\", "$DATA   SUB"), "$DATA.SUB");  // ends early at its NUL
  EXPECT_EQ(F("[\\f20\\]", internal), "[$DATA.SUB.FILE      ]");
  // The program file: this test binary.
  std::string program = F("\\fo\\");
  EXPECT_EQ(program.substr(0, 7), "$ZHOST.");
  EXPECT_NE(F("\\fp\\").find("FORMATTE"), std::string::npos);
}

// ---------------------------------------------------------------- message tables

TEST(Tables, CountsOrderAndBoundaries) {
  using zeb::format::Table;
  int n = 0;
  const zeb::format::TableEntry* fs = zeb::format::table_entries(Table::kFileError, &n);
  ASSERT_EQ(n, 247);
  EXPECT_EQ(fs[0].code, 0);
  EXPECT_STREQ(fs[0].text, "operation successful");
  EXPECT_EQ(fs[n - 1].code, 947);
  EXPECT_STREQ(fs[n - 1].text, "Error with LINKMON connection");
  const zeb::format::TableEntry* pc = zeb::format::table_entries(Table::kProcessCreation, &n);
  ASSERT_EQ(n, 20);
  EXPECT_EQ(pc[0].code, 0);
  EXPECT_EQ(pc[19].code, 19);
  EXPECT_STREQ(pc[19].text, "process device subtype of backup is not same as primary");
  const zeb::format::TableEntry* sm = zeb::format::table_entries(Table::kSystemMessage, &n);
  ASSERT_EQ(n, 41);
  EXPECT_EQ(sm[0].code, 2);
  EXPECT_STREQ(sm[0].text, "cpu down");
  EXPECT_EQ(sm[40].code, 141);
  EXPECT_STREQ(sm[40].text, "nowait process_spawn_ completion");
  for (Table t : {Table::kFileError, Table::kProcessCreation, Table::kSystemMessage}) {
    const zeb::format::TableEntry* e = zeb::format::table_entries(t, &n);
    for (int i = 0; i < n; ++i) {
      size_t len = std::strlen(e[i].text);
      EXPECT_GT(len, 0u);
      EXPECT_LE(len, 60u);
      for (size_t k = 0; k < len; ++k) EXPECT_TRUE(e[i].text[k] >= 0x20 && e[i].text[k] <= 0x7E);
      if (i > 0) {
        EXPECT_LT(e[i - 1].code, e[i].code);
      }
    }
  }
  // Spot checks around the gaps and the library's own numbers.
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 14), "device does not exist");
  EXPECT_EQ(zeb::format::table_text(Table::kFileError, 15), nullptr);
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 255),
               "net line handler flooded - too many interrupts");
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 300), "inconsistant queue links");
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 320),
               "device is not a 6530 blockmode terminal");
  EXPECT_EQ(zeb::format::table_text(Table::kFileError, 321), nullptr);
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 900), "invalid server class name");
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 925),
               "maximum requesters has been exceeded");
  EXPECT_EQ(zeb::format::table_text(Table::kFileError, 926), nullptr);
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 40), "operation timed out.");
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 162), "operation timed out");
  EXPECT_STREQ(zeb::format::table_text(Table::kFileError, 197), "An SQL error has occured");
  // The texts that name subsystems in general words.
  const zeb::format::TableEntry general[] = {
      {38, "attempt to perform operation on wrong type of system"},
      {82, "all or part of the transaction subsystem is not running"},
      {84, "the transaction subsystem has not been configured"},
      {85, "the device is not up for transactions"},
      {199, "disc file is protected by the security subsystem"},
      {252, "required network class is not available"},
      {901, "invalid server-class monitor process name"},
      {902, "error with server-class monitor connection"},
      {903, "unknown message received from server-class monitor"},
      {914, "server-class monitor does not recognize Server Class name"},
      {915, "denied because server-class monitor is shutting down"},
      {916, "denied by server-class monitor, Server creation failure"},
      {917, "send request has a TransId, ServerClass has transactions OFF"},
      {921, "maximum server-class monitors allowed has been exceeded"},
  };
  for (const zeb::format::TableEntry& e : general) {
    EXPECT_STREQ(zeb::format::table_text(Table::kFileError, e.code), e.text) << e.code;
  }
}

TEST(Tables, FileErrorDirective) {
  int16_t e11 = 11, m11 = -11, e15 = 15, e999 = 999, e0 = 0;
  EXPECT_EQ(F("\\e\\", &e11), "11 (file not in directory or record not in file)");
  EXPECT_EQ(F("\\e\\", &m11), "-11 (file not in directory or record not in file)");
  EXPECT_EQ(F("\\e\\", &e15), "15");
  EXPECT_EQ(F("\\e\\", &e999), "999");
  EXPECT_EQ(F("\\e\\", &e0), "0 (operation successful)");
  EXPECT_EQ(F("[\\e2\\]", &e11), "[11]");
  EXPECT_EQ(F("[\\e5\\]", &e15), "[15   ]");
  int16_t e63 = 63, e64 = 64;
  EXPECT_EQ(F("\\e\\", &e63).substr(2), F("\\e\\", &e64).substr(2));
  int16_t lib = 303;
  EXPECT_EQ(F("\\e\\", &lib), "303 (unable to allocate poolspace)");
  int16_t most_negative = -32768;
  EXPECT_EQ(F("\\e\\", &most_negative), "-32768");
  int16_t closed = 1234;
  EXPECT_EQ(F("\\en\\", &closed), "<Not open>");
}

TEST(Tables, SystemMessageDirective) {
  int16_t m2 = -2, p2 = 2, zero = 0, m30 = -30, m103 = -103, m31 = -31, m104 = -104;
  EXPECT_EQ(F("\\m\\", &m2), "-2 (cpu down)");
  EXPECT_EQ(F("\\m\\", &p2), "2 (cpu down)");
  EXPECT_EQ(F("\\m\\", &zero), "0");
  EXPECT_EQ(F("\\m\\", &m30), "-30 (process open)");
  EXPECT_EQ(F("\\m\\", &m103), "-103 (process open)");
  EXPECT_EQ(F("\\m\\", &m31), "-31 (process close)");
  EXPECT_EQ(F("\\m\\", &m104), "-104 (process close)");
  int16_t m141 = -141;
  EXPECT_EQ(F("\\m\\", &m141), "-141 (nowait process_spawn_ completion)");
}

TEST(Tables, NewProcessErrorDirective) {
  int16_t w = (3 << 8) | 11;
  EXPECT_EQ(F("\\n\\", &w),
            "3 (file system error on program file) 11 (file not in directory or record not in "
            "file)");
  int16_t w4 = (4 << 8) | 11;
  EXPECT_EQ(F("\\n\\", &w4), "4 (unable to allocate map)");
  int16_t w19 = (19 << 8) | 12;
  EXPECT_EQ(F("\\n\\", &w19), "19 (process device subtype of backup is not same as primary)");
  int16_t w6 = (6 << 8) | (12 << 1) | 1;  // the detail's top seven bits
  EXPECT_EQ(F("\\n\\", &w6), "6 (illegal file format) 12 (file in use)");
  int16_t w0 = 0;
  EXPECT_EQ(F("\\n\\", &w0), "0 (no error, process created)");
  int16_t w200 = static_cast<int16_t>(200 << 8);
  EXPECT_EQ(F("\\n\\", &w200), "200");
  int16_t w17 = (17 << 8) | 255;
  EXPECT_EQ(F("\\n\\", &w17),
            "17 (define context propagation error) 255 (net line handler flooded - too many "
            "interrupts)");
  EXPECT_EQ(F("[\\n3\\]", &w), "[3 (]");
}

// ---------------------------------------------------------------- time

int64_t Stamp(int y, int mo, int d, int h, int mi, int s, int ms, int us) {
  int16_t t[8] = {static_cast<int16_t>(y),  static_cast<int16_t>(mo), static_cast<int16_t>(d),
                  static_cast<int16_t>(h),  static_cast<int16_t>(mi), static_cast<int16_t>(s),
                  static_cast<int16_t>(ms), static_cast<int16_t>(us)};
  return COMPUTETIMESTAMP(t);
}

TEST(Time, Intervals) {
  int64_t v = 1234567;
  EXPECT_EQ(F("[\\tj8.22\\]", &v), "[   00:00:01.235]");
  int64_t hms = (3600LL + 2 * 60 + 3) * 1000000;
  EXPECT_EQ(F("[\\tj8.22\\]", &hms), "[   01:02:03.000]");
  EXPECT_EQ(F("[\\tj\\]", &hms), "[           01:02:03.000000]");
  int64_t big = 123456LL * 3600 * 1000000;  // six-digit hours lose their first digit
  EXPECT_EQ(F("[\\tj8.18\\]", &big), "[23456:00:00]");
  int64_t days = (2LL * 24 + 5) * 3600 * 1000000 + 999999;  // rounds up to the second
  EXPECT_EQ(F("[\\tj11.18\\]", &days), "[53:00:01]");
  int64_t neg = -1234567;
  EXPECT_EQ(F("[\\tj8.22\\]", &neg), "[  -00:00:01.235]");
  int64_t zero = 0;
  EXPECT_EQ(F("[\\tj8.18\\]", &zero), "[   00:00:00]");
}

TEST(Time, TimestampsAndColumns) {
  int64_t t = Stamp(2024, 2, 29, 13, 45, 6, 789, 12);
  EXPECT_EQ(F("[\\tj\\]", &t), "[2024/02/29 13:45:06.789012]");
  EXPECT_EQ(F("[\\tj2.18\\]", &t), "[24/02/29 13:45:07]");
  EXPECT_EQ(F("[\\tj8.22\\]", &t), "[29 13:45:06.789]");
  EXPECT_EQ(F("[\\tj0.9\\]", &t), "[2024/02/29]");
  EXPECT_EQ(F("[\\tj30\\]", &t), "[2024/02/29 13:45:06.789012]");
  EXPECT_EQ(F("[\\tj20.20\\]", &t), "[8]");
  EXPECT_EQ(F("[\\tj24.24\\]", &t), "[1]");
  int16_t first = 11, last = 15;
  EXPECT_EQ(F("[\\tj%.%\\]", &t, &first, &last), "[13:45]");
  int16_t neg = -1;
  EXPECT_EQ(F("[\\tj0.%\\]", &t, &neg), "[]");
  // Rounding to the second moves a date shown alone to the next day.
  int64_t late = Stamp(1999, 12, 31, 23, 59, 59, 600, 0);
  EXPECT_EQ(F("[\\tj0.9\\]", &late), "[2000/01/01]");
}

TEST(Time, BoundaryBetweenIntervalsAndTimestamps) {
  int64_t floor = 32000LL * 86400 * 1000000;
  // A timestamp before year 1: the date parts the conversion cannot give
  // show as zeros.
  EXPECT_EQ(F("\\tj\\", &floor), "0000/00/00 00:00:00.000000");
  int64_t just_below = floor - 1;
  EXPECT_EQ(F("\\tj\\", &just_below), "       767999:59:59.999999");
  // After rounding the value crosses into the timestamps.
  EXPECT_NE(F("\\tj0.18\\", &just_below).find('/'), std::string::npos);
}

TEST(Time, SModifierAndCurrentTime) {
  uint16_t zero[3] = {0, 0, 0};
  EXPECT_EQ(F("\\ts\\", zero), "1974/12/31 00:00:00.000000");
  // 100 hundredths = one second; 0x0001_0000 hundredths = 655.36 seconds.
  uint16_t w[3] = {0, 1, 0};
  EXPECT_EQ(F("\\ts\\", w), "1974/12/31 00:10:55.360000");
  // The current local time, frozen.
  zeb::platform::clock_freeze();
  int64_t now = PROCESSOR_CLOCK() + zeb::kJulianEpochOffset;
  int16_t parts[8];
  ASSERT_GT(INTERPRETTIMESTAMP(now, parts), 0);
  char expected[96];
  std::snprintf(expected, sizeof expected, "%04d/%02d/%02d %02d:%02d:%02d.%03d%03d", parts[0],
                parts[1], parts[2], parts[3], parts[4], parts[5], parts[6], parts[7]);
  EXPECT_EQ(F("\\t\\"), expected);
  zeb::platform::clock_release();
}

// ---------------------------------------------------------------- callers' lines

TEST(CallersLines, SurveyDriveLine) {
  const char* name = "$DATA1";
  int16_t len = 6;
  int32_t rpm = 7200;
  EXPECT_EQ(F("Drive: \\a8.%\\ Effective RPM: \\d\\", name, &len, &rpm),
            "Drive: $DATA1   Effective RPM: 7200");
  const char* seven = "$SYSTEM";
  int16_t len7 = 7;
  EXPECT_EQ(F("Drive: \\a8.%\\ Effective RPM: \\d\\", seven, &len7, &rpm),
            "Drive: $SYSTEM  Effective RPM: 7200");
  const char* ten = "$VERYLONG1";
  int16_t len10 = 10;
  EXPECT_EQ(F("Drive: \\a8.%\\ Effective RPM: \\d\\", ten, &len10, &rpm),
            "Drive: $VERYLON Effective RPM: 7200");
}

TEST(CallersLines, PoolStatistics) {
  int64_t allocs = 12, frees = 3, whole = 4, splits = 5, extends = 6, joins = 7, releases = 8;
  int32_t used = 1234, maxused = 99999, failsize = 0;
  EXPECT_EQ(F("Pool Alloc: \\q8\\  Free:   \\q8\\  Used:    \\d8\\  Maxused:\\d8\\", &allocs,
              &frees, &used, &maxused),
            "Pool Alloc:       12  Free:          3  Used:        1234  Maxused:   99999");
  EXPECT_EQ(F("     Allocs:\\q8\\  Splits: \\q8\\  Extends: \\q8\\", &whole, &splits, &extends),
            "     Allocs:       4  Splits:        5  Extends:        6");
  EXPECT_EQ(F("     Joins: \\q8\\  Release:\\q8\\  FailSize:\\d8\\", &joins, &releases, &failsize),
            "     Joins:        7  Release:       8  FailSize:       0");
}

TEST(CallersLines, LogPrefix) {
  zeb::testing::set_variable("ZEB_PROCESS_NAME", "$LOG");
  char line[160];
  int16_t n = UTIL_FORMAT(zeb::mask({1, 2, 3}), "\\t2.18\\ \\p6\\ ", line, 160);
  std::string s(line, static_cast<size_t>(n));
  ASSERT_EQ(n, 17 + 1 + 6 + 1);
  EXPECT_EQ(s.substr(17), " $LOG   ");
  EXPECT_EQ(s[2], '/');
  EXPECT_EQ(s[11], ':');
  zeb::testing::set_variable("ZEB_PROCESS_NAME", std::nullopt);
}

}  // namespace
