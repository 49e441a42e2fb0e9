// The guide's page on the format language (docs/format.md) shows each
// directive with its arguments and its output in tables. This test reads
// those tables and formats every row with UTIL_FORMAT, so the page cannot
// drift from the engine: a row whose output is wrong fails, a row without a
// case here fails, and a case here that the page no longer shows fails.
#include <zeb/format/format.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zeb/platform/types.h>

namespace {

// Formats with the given argument addresses, all marked as passed.
template <typename... A>
std::string F(const char* format, A... a) {
  const void* args[14] = {static_cast<const void*>(a)...};
  uint32_t mask = zeb::mask({1, 2, 3});
  for (size_t i = 0; i < sizeof...(a); ++i) mask |= zeb::param_bit(4 + static_cast<int>(i));
  char buf[512];
  int16_t n = UTIL_FORMAT(mask, format, buf, sizeof buf, args[0], args[1], args[2], args[3],
                          args[4], args[5], args[6], args[7], args[8], args[9], args[10], args[11],
                          args[12], args[13]);
  return std::string(buf, static_cast<size_t>(n));
}

// One example: the arguments as the page describes them, and the call that
// passes them.
struct Case {
  std::string arguments;
  std::function<std::string(const char*)> run;
};

// The case that passes the arguments a, described as `arguments`.
template <typename... A>
Case With(std::string arguments, A... a) {
  return {std::move(arguments), [a...](const char* f) { return F(f, a...); }};
}

int16_t i16(int v) { return static_cast<int16_t>(v); }

// A 4-word process identifier: a name of up to five characters after "$"
// (blank padded to six bytes) and the cpu-and-pin word.
struct ProcessId {
  char name[6];
  int16_t cpu_pin;
};

std::map<std::string, Case> Cases() {
  static const int16_t kLen3 = 3, kWidth5 = 5, kTrue = 1, kFalse = 0, kMinus1 = -1;
  static const int16_t kType2 = 2, kError11 = 11, kMessage2 = -2, kCreate = i16(0x030B);
  static const int16_t kUser = i16(0x0801), kColumn = 12;
  static const int32_t k7200 = 7200, k123456 = 123456, kZero = 0, kMinus42 = -42, k255 = 255,
                       k8 = 8, k42 = 42, k123 = 123, k150 = 150;
  static const int64_t kBig = 9000000000LL;
  static const int64_t kElapsed = 3723456789LL;        // 1 h 2 min 3.456789 s
  static const int64_t kY2000 = 211813444800000000LL;  // 2000-01-01 00:00, Julian
  static const char kInternal[] = "$DATA   REPORTS DAILY   ";
  static const ProcessId kNamed = {{'$', 'A', 'B', 'C', ' ', ' '}, i16(0x0117)};
  return {
      {"Hello, world.", With("none")},
      {"@41@42@@", With("none")},
      {"a\\\\b", With("none")},
      {"[\\a8.%\\]", With("\"VDA\", 3", "VDA", &kLen3)},
      {"[\\ar8.%\\]", With("\"VDA\", 3", "VDA", &kLen3)},
      {"[\\v\\]", With("\"text\"", "text")},
      {"[\\vc9\\]", With("\"mid\"", "mid")},
      {"[\\vt\\]", With("\"padded\" with two blanks each side", "  padded  ")},
      {"[\\v%\\]", With("\"ab\", 5", "ab", &kWidth5)},
      {"\\b\\ \\o\\ \\y\\", With("1, 0, -1", &kTrue, &kFalse, &kMinus1)},
      {"[\\b3\\]", With("0", &kFalse)},
      {"\\ct\\", With("2", &kType2)},
      {"\\d\\", With("7200", &k7200)},
      {"[\\d8\\]", With("123", &k123)},
      {"[\\d8.2\\]", With("123456", &k123456)},
      {"\\d.2\\", With("150", &k150)},
      {"\\d+\\", With("0", &kZero)},
      {"\\d\\ \\d-\\", With("-42, -42", &kMinus42, &kMinus42)},
      {"\\dh\\", With("255", &k255)},
      {"\\d8h=0\\", With("255", &k255)},
      {"\\do\\", With("8", &k8)},
      {"[\\d6=0\\]", With("42", &k42)},
      {"[\\d8>$\\]", With("123", &k123)},
      {"\\ih\\", With("-1 (16-bit)", &kMinus1)},
      {"\\q\\", With("9000000000 (64-bit)", &kBig)},
      {"\\e\\", With("11", &kError11)},
      {"\\m\\", With("-2", &kMessage2)},
      {"\\n\\", With("0x030B", &kCreate)},
      {"\\f\\", With("the internal name of `$DATA.REPORTS.DAILY`", kInternal)},
      {"\\pi\\ \\pi#\\", With("the identifier of `$ABC`, cpu 1, pin 23 (twice)", &kNamed, &kNamed)},
      {"\\u#\\", With("0x0801", &kUser)},
      {"\\s5=-\\", With("none")},
      {"\\tj\\", With("2000-01-01 00:00 as a Julian timestamp", &kY2000)},
      {"\\tj2.18\\", With("the same", &kY2000)},
      {"\\tj8.22\\", With("3723456789 (microseconds)", &kElapsed)},
      {"ab\\z6\\cd", With("none")},
      {"ab\\z%\\cd", With("12", &kColumn)},
  };
}

// The text of a cell that is one code span, or "" when it is not.
std::string CodeSpan(const std::string& cell) {
  if (cell.size() < 2 || cell.front() != '`' || cell.back() != '`') return "";
  return cell.substr(1, cell.size() - 2);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

struct Row {
  int line;
  std::string format, arguments, output;
};

// The page shows a blank of the output as a middle dot when it stands next
// to another blank or at either end, where a renderer would drop it.
constexpr std::string_view kShownBlank = "\u00B7";

// The output as the engine writes it; a blank that a renderer could drop is
// a failure.
std::string Unshown(const std::string& shown, int line) {
  std::string text;
  for (size_t i = 0; i < shown.size();) {
    if (shown.compare(i, kShownBlank.size(), kShownBlank) == 0) {
      text += ' ';
      i += kShownBlank.size();
    } else {
      text += shown[i++];
    }
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    bool lost = shown[i] == ' ' &&
                (i == 0 || i + 1 == shown.size() || shown[i - 1] == ' ' || shown[i + 1] == ' ');
    if (lost) ADD_FAILURE() << "format.md:" << line << ": a blank to show as a middle dot";
  }
  return text;
}

// The rows of the page's example tables: "| `FORMAT` | ARGUMENTS | `OUTPUT` |".
std::vector<Row> PageRows() {
  std::ifstream page(ZEB_DOCS_DIR "/format.md");
  EXPECT_TRUE(page.good()) << "cannot read " ZEB_DOCS_DIR "/format.md";
  std::vector<Row> rows;
  std::string text;
  for (int line = 1; std::getline(page, text); ++line) {
    if (text.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::stringstream split(text.substr(1));
    for (std::string cell; std::getline(split, cell, '|');) cells.push_back(Trim(cell));
    if (cells.size() != 3) {
      ADD_FAILURE() << "format.md:" << line << ": an example row has three cells";
      continue;
    }
    rows.push_back({line, CodeSpan(cells[0]), cells[1], Unshown(CodeSpan(cells[2]), line)});
  }
  return rows;
}

TEST(FormatGuide, EveryExampleOnThePageIsTheEnginesOutput) {
  auto cases = Cases();
  std::set<std::string> shown;
  for (const Row& row : PageRows()) {
    auto it = cases.find(row.format);
    if (it == cases.end()) {
      ADD_FAILURE() << "format.md:" << row.line << ": no case for `" << row.format << "`";
      continue;
    }
    shown.insert(row.format);
    EXPECT_EQ(row.arguments, it->second.arguments) << "format.md:" << row.line;
    EXPECT_EQ(row.output, it->second.run(row.format.c_str()))
        << "format.md:" << row.line << ": `" << row.format << "`";
  }
  for (const auto& [format, c] : cases) {
    EXPECT_TRUE(shown.count(format)) << "the page no longer shows `" << format << "`";
  }
}

}  // namespace
