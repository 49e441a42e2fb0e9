// The format engine's typed entry: what it does with the argument list it is
// given and with the size of the output span, beyond UTIL_FORMAT's tests.
#include "format/format_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string expand(size_t size, const char* format, std::vector<const void*> args) {
  std::string out(size + 1, '#');
  size_t n = zeb::format::format_into(std::span<char>(out.data(), size), format, args);
  EXPECT_LE(n, size);
  EXPECT_EQ(out[n], '#');  // nothing stored beyond the count
  out.resize(n);
  return out;
}

TEST(FormatCore, ArgumentsAsGiven) {
  const int32_t n42 = 42, n7 = 7;
  const int16_t n2 = 2;
  struct Case {
    const char* format;
    std::vector<const void*> args;
    size_t size;
    std::string want;
  } cases[] = {
      {"\\d\\ \\d\\", {&n42, &n7}, 80, "42 7"},
      // An argument past the end of the list, or null, takes 0 or the
      // empty text.
      {"\\d\\ \\d\\", {&n42}, 80, "42 0"},
      {"\\d\\|\\a3\\|", {nullptr}, 80, "0|   |"},
      {"[\\a%\\]", {}, 80, "[]"},
      {"\\a5.%\\|", {"abcdefgh", &n2}, 80, "ab   |"},
      // The span's size is the limit.
      {"abcdef\\d\\", {&n42}, 4, "abcd"},
      {"abc", {}, 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(expand(c.size, c.format, c.args), c.want) << c.format;
}

TEST(FormatCore, AtMostFourteenArgumentsAreRead) {
  const int32_t one = 1;
  std::vector<const void*> args(15, &one);
  std::string format;
  for (int i = 0; i < 15; ++i) format += "\\d\\";
  EXPECT_EQ(expand(80, format.c_str(), args), std::string(14, '1') + "0");
}

TEST(FormatCore, NullFormatAndLongOutput) {
  EXPECT_EQ(expand(10, nullptr, {}), "");
  // The count stays within what the procedures' 16-bit results can carry.
  std::string text(40000, 'x');
  EXPECT_EQ(expand(40000, text.c_str(), {}).size(), 32767u);
}

}  // namespace
