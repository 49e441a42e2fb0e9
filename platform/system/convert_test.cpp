// Tests of number and time conversion.
#include <zeb/platform/convert.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <span>
#include <string>

#include <zeb/platform/clock.h>

namespace {

std::string Numout(int16_t value, int16_t base, int16_t width) {
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  NUMOUT(buf, value, base, width);
  return std::string(buf, static_cast<size_t>(width > 0 ? width : 0)) + buf[width > 0 ? width : 0];
}

std::string Dnumout(uint32_t mask, int32_t value, int16_t base, int16_t width = 0,
                    int16_t flags = 0) {
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  int16_t n = DNUMOUT(mask, buf, value, base, width, flags);
  return std::string(buf, static_cast<size_t>(n)) + buf[n];
}

TEST(Numout, ZeroFilledExactWidth) {
  EXPECT_EQ(Numout(45, 10, 3), "045#");
  EXPECT_EQ(Numout(3, 10, 2), "03#");
  EXPECT_EQ(Numout(0, 10, 2), "00#");
  EXPECT_EQ(Numout(12345, 10, 3), "345#");  // low-order digits
  EXPECT_EQ(Numout(-1, 10, 5), "65535#");   // unsigned
  EXPECT_EQ(Numout(255, 16, 4), "00FF#");
  EXPECT_EQ(Numout(5, 2, 4), "0101#");
  EXPECT_EQ(Numout(5, 10, 0), "#");
  EXPECT_EQ(Numout(5, 1, 2), "??#");
}

TEST(Dnumout, FreeAndFixedWidth) {
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3}), 0, 10), "0#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3}), 1234567, 10), "1234567#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3}), -1, 10), "4294967295#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), -42, 10, 0, 2), "-42#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), 12, 10, 13, 1), "           12#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), 12, 10, 5, 0), "00012#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), -12, 10, 5, 2), "-0012#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), -12, 10, 5, 3), "  -12#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 4, 5}), 123456, 10, 3, 1), "456#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3}), 0x7FFFFFFF, 16), "7FFFFFFF#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3, 5}), 99, 10, 6, 1), "99#");  // width absent
  EXPECT_EQ(Dnumout(zeb::mask({1, 2, 3}), 99, 17), "#");
  EXPECT_EQ(Dnumout(zeb::mask({1, 2}), 99, 10), "#");  // base missing
}

// One conversion: the text and base, and what is checked of the result:
// how many characters the scan used, the value and the status. A field left
// empty is not checked.
struct NuminCase {
  const char* text;
  int16_t base;
  std::optional<int> used;
  std::optional<int32_t> value;
  std::optional<int16_t> status;
};

// Runs each case through `convert` (DNUMIN, or NUMIN into a 16-bit result).
template <typename Result, typename Convert>
void check_numin(std::span<const NuminCase> cases, Convert convert) {
  for (const NuminCase& c : cases) {
    Result r = 0;
    int16_t st = 9;
    const char* end = convert(c.text, &r, c.base, &st);
    if (c.used) {
      EXPECT_EQ(end, c.text + *c.used) << c.text;
    }
    if (c.value) {
      EXPECT_EQ(r, *c.value) << c.text;
    }
    if (c.status) {
      EXPECT_EQ(st, *c.status) << c.text;
    }
  }
}

TEST(Dnumin, SignsBasesAndStatus) {
  const NuminCase dnumin[] = {
      {"1234x", 10, 4, 1234, 0},     {"-2147483648", 10, 11, INT32_MIN, 0},
      {"2147483648", 10, {}, {}, 1}, {"%HfF", 10, {}, 255, 0},
      {"%17", 10, {}, 15, {}},       {"%b101", 10, {}, 5, {}},
      {"FFFFFFFF", 16, {}, -1, 0},   {"  ", 10, 0, {}, -1},
  };
  check_numin<int32_t>(dnumin, DNUMIN);
  const NuminCase numin[] = {
      {"65535", 10, {}, -1, 0},
      {"65536", 10, {}, {}, 1},
      {"-32768", 10, {}, -32768, 0},
  };
  check_numin<int16_t>(numin, NUMIN);
}

TEST(Timestamps, KnownDates) {
  int16_t t[8];
  // The processor clock's zero.
  EXPECT_EQ(INTERPRETTIMESTAMP(zeb::kJulianEpochOffset, t), 2442413);
  const int16_t epoch[8] = {1974, 12, 31, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(t, epoch, sizeof t));
  // The Unix epoch, a leap day and the end of the range.
  int16_t unix_epoch[8] = {1970, 1, 1, 0, 0, 0, 0, 0};
  EXPECT_EQ(COMPUTETIMESTAMP(unix_epoch), 210866760000000000LL);
  int16_t leap[8] = {2000, 2, 29, 23, 59, 59, 999, 999};
  int64_t v = COMPUTETIMESTAMP(leap);
  ASSERT_GT(v, 0);
  EXPECT_EQ(INTERPRETTIMESTAMP(v, t), 2451604);
  EXPECT_EQ(0, std::memcmp(t, leap, sizeof t));
  int16_t first[8] = {1, 1, 1, 0, 0, 0, 0, 0};
  int16_t last[8] = {9999, 12, 31, 23, 59, 59, 999, 999};
  int64_t lo = COMPUTETIMESTAMP(first), hi = COMPUTETIMESTAMP(last);
  EXPECT_EQ(INTERPRETTIMESTAMP(lo, t), 1721426);
  EXPECT_EQ(0, std::memcmp(t, first, sizeof t));
  EXPECT_EQ(INTERPRETTIMESTAMP(hi, t), 5373484);
  EXPECT_EQ(0, std::memcmp(t, last, sizeof t));
  int16_t untouched[8] = {7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(INTERPRETTIMESTAMP(lo - 1, untouched), -1);
  EXPECT_EQ(INTERPRETTIMESTAMP(hi + 1, untouched), -1);
  EXPECT_EQ(INTERPRETTIMESTAMP(INT64_MAX, untouched), -1);
  EXPECT_EQ(INTERPRETTIMESTAMP(INT64_MIN, untouched), -1);
  EXPECT_EQ(untouched[0], 7);
  int16_t bad[8] = {2023, 2, 29, 0, 0, 0, 0, 0};
  EXPECT_EQ(COMPUTETIMESTAMP(bad), -1);
}

TEST(Timestamps, EveryDayRoundTrips) {
  // Walk day by day over four centuries, including 1900 and 2000.
  int16_t start[8] = {1800, 1, 1, 12, 0, 0, 0, 0};
  int64_t v = COMPUTETIMESTAMP(start);
  int16_t prev[8];
  ASSERT_GT(INTERPRETTIMESTAMP(v, prev), 0);
  for (int i = 0; i < 146097; ++i) {
    v += 86400LL * 1000000;
    int16_t t[8];
    ASSERT_GT(INTERPRETTIMESTAMP(v, t), 0);
    ASSERT_EQ(COMPUTETIMESTAMP(t), v);
    bool next_day = t[2] == prev[2] + 1 && t[1] == prev[1] && t[0] == prev[0];
    bool next_month = t[2] == 1 && (t[1] == prev[1] + 1 || (t[1] == 1 && t[0] == prev[0] + 1));
    ASSERT_TRUE(next_day || next_month) << t[0] << "/" << t[1] << "/" << t[2];
    std::memcpy(prev, t, sizeof t);
  }
  EXPECT_EQ(prev[0], 2200);
}

// JULIANTIMESTAMP is Greenwich time: its date and time are the host's UTC.
TEST(Timestamps, JulianClockIsGreenwichTime) {
  int16_t t[8];
  time_t before = ::time(nullptr);
  ASSERT_GT(INTERPRETTIMESTAMP(JULIANTIMESTAMP(0), t), 0);
  time_t after = ::time(nullptr);
  struct tm utc;
  ::gmtime_r(&before, &utc);
  if (before != after) GTEST_SKIP() << "second changed";
  EXPECT_EQ(t[0], utc.tm_year + 1900);
  EXPECT_EQ(t[1], utc.tm_mon + 1);
  EXPECT_EQ(t[2], utc.tm_mday);
  EXPECT_EQ(t[3], utc.tm_hour);
  EXPECT_EQ(t[4], utc.tm_min);
}

TEST(Intervals, Parts) {
  int16_t h, m, s, ms, us;
  int64_t v = ((2LL * 24 + 5) * 3600 + 6 * 60 + 7) * 1000000 + 8009;
  EXPECT_EQ(INTERPRETINTERVAL(zeb::mask({1, 2, 3, 4, 5, 6}), v, &h, &m, &s, &ms, &us), 2);
  EXPECT_EQ(h, 5);
  EXPECT_EQ(m, 6);
  EXPECT_EQ(s, 7);
  EXPECT_EQ(ms, 8);
  EXPECT_EQ(us, 9);
  EXPECT_EQ(INTERPRETINTERVAL(zeb::mask({1, 2, 3, 4, 5, 6}), -v, &h, &m, &s, &ms, &us), -2);
  EXPECT_EQ(h, -5);
  EXPECT_EQ(us, -9);
  h = 77;
  EXPECT_EQ(INTERPRETINTERVAL(zeb::mask({1}), v, &h), 2);
  EXPECT_EQ(h, 77);  // not asked for
  EXPECT_EQ(INTERPRETINTERVAL(zeb::mask({1}), INT64_MAX), 106751991);
}

}  // namespace
