// The simulated terminal's screen: what each sequence does to it and how it
// answers, without a pseudo-terminal.
#include "terminal/sim6530.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using zeb::terminal::Screen6530;

// Feeds bytes in block mode and gives the replies.
std::vector<std::string> feed(Screen6530& s, const std::string& bytes, bool conv = false) {
  std::vector<std::string> replies;
  s.feed(bytes, conv, &replies);
  return replies;
}

TEST(Screen6530, SequencesChangeTheScreen) {
  const std::string E = "\x1b";
  const struct {
    const char* what;
    std::string bytes;
    std::string row1, row2;  // rows 1 and 2 of page 0 afterwards
    int row, column;         // the cursor afterwards
  } cases[] = {
      {"text wraps at the last column", std::string(12, 'x') + "y", "xxxxxxxxxx", "xxy", 2, 4},
      {"addressing", "\x13\"$ab\x11!!c", "", " c", 2, 3},
      {"extended addressing", E + "-2;9DZ" + E + "-1;1Cq", "q", "        Z", 1, 2},
      {"LF, BS, CR, HT", "ab\n\bc\rd\te", "ab", "dc      e", 2, 10},
      {"home, up, right, home down", "abc" + E + "H" + E + "C!" + E + "F" + E + "A?", "a!c", "", 5,
       2},
      {"erase to end of line and page", "abcdef\r\nghij" + E + "H" + E + "C" + E + "K" + E + "J",
       "a", "", 1, 2},
      {"erase page (conversational ESC I)", "abc" + E + "I", "", "", 1, 1},
      {"insert and delete character", "abcd\r" + E + "O" + E + "C" + E + "C" + E + "P", " acd", "",
       1, 3},
      {"insert and delete line", "one\r\ntwo" + E + "H" + E + "L", "", "one", 1, 1},
      {"roll up", "one\r\ntwo" + E + "S", "two", "", 2, 4},
      {"tabs set, cleared, back tab", E + "3\x13 %" + E + "1\r\tX" + E + "i" + E + "iY", "Y    X",
       "", 1, 2},
      {"reinitialize", "abc\x13%%" + E + "q", "", "", 1, 1},
      {"cut-off sequence", "\x13", "", "", 1, 1},
      {"block mode: a line feed on the last row stays there", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7",
       "1", "2", 6, 2},
      {"conversational: a line feed on the last row rolls up", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7",
       "2", "3", 6, 2},
      {"conversational: text past the last row rolls up", "1\x13%*" + std::string(10, 'x'), "", "",
       6, 10},
  };
  for (const auto& c : cases) {
    Screen6530 s(2, 6, 10);
    // ESC I erases the page only in conversational mode.
    bool conv = std::string(c.what).find("conversational") != std::string::npos;
    feed(s, c.bytes, conv);
    EXPECT_EQ(s.row_text(0, 1), c.row1) << c.what;
    EXPECT_EQ(s.row_text(0, 2), c.row2) << c.what;
    EXPECT_EQ(s.cursor_row(), c.row) << c.what;
    EXPECT_EQ(s.cursor_column(), c.column) << c.what;
  }
}

TEST(Screen6530, PagesFieldsAttributesAndSettings) {
  const std::string E = "\x1b";
  Screen6530 s(4, 6, 10);
  // A sequence split over two writes is applied when it is whole.
  feed(s, E);
  feed(s, ":!on one" + E + ";!" + E + "p3" + E + "U" + E + "U");
  EXPECT_EQ(s.select_page(), 1);
  EXPECT_EQ(s.display_page(), 2);
  EXPECT_EQ(s.max_page(), 3);
  EXPECT_EQ(s.page_text(1), "on one\n");
  EXPECT_EQ(s.page_text(0), "");
  feed(s, E + "V" + E + "V" + E + "V" + E + ": \r" + E + "6\x21X" + E + "7\x05" +
              "\x1d"
              "AB" +
              E + "[ AG");
  EXPECT_EQ(s.display_page(), 0);
  EXPECT_EQ(s.cell(0, 1, 1).attr, 0x21);
  EXPECT_EQ(s.video_prior, 0x05);
  EXPECT_TRUE(s.cell(0, 1, 2).field);
  EXPECT_EQ(s.fields, (std::vector<std::string>{"\x1d"
                                                "AB",
                                                E + "[ AG"}));
  feed(s, E + "-0;3;3q?2" + E + "-0;4;4q01" + E + "-1;4;4q" + E +
              "v\x07"
              "42\r" +
              E + "ohello\r" + E + "xT2data\r" + E + "c" + E + "W\x07" + E + "0" + E + "Z");
  EXPECT_EQ(s.color_map.size(), 1u);
  EXPECT_EQ(s.color_map[3], std::make_pair(0x3F, 0x32));
  EXPECT_EQ(s.terminal_config[7], "42");
  EXPECT_EQ(s.message, "hello");
  EXPECT_EQ(s.io_config[1], "data");
  EXPECT_TRUE(s.locked);
  EXPECT_TRUE(s.protect);
  EXPECT_EQ(s.bells, 1);
  EXPECT_EQ(s.prints, 1);
  EXPECT_EQ(s.unknown, 1);
  std::string table = E + "r";
  for (int i = 0; i < 96; ++i) table += i % 2 == 0 ? "0F" : "A1";
  feed(s, table);
  ASSERT_EQ(s.datatype_table.size(), 96u);
  EXPECT_EQ(s.datatype_table[0], 0x0F);
  EXPECT_EQ(s.datatype_table[95], 0xA1);
}

TEST(Screen6530, Replies) {
  const std::string E = "\x1b";
  Screen6530 s(8, 24, 80);
  feed(s, "\x13\"%HI" + E + ":\"");
  const struct {
    std::string request;
    bool conv;
    std::string reply;
  } cases[] = {
      {E + "a", false, "_\"\"'"},
      {E + "a", true, "_\"\"'\r"},
      {E + "^", false, "?@\x40\x42H\x5e\x40"},
      {E + "d\x41", false, "A\"\"'"},
      {E + "_", false, "SIM6530 C00\r"},
      {E + "-5d", false, "\r"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(feed(s, c.request, c.conv), std::vector<std::string>{c.reply}) << c.request;
  }
  // Screen reads are of the selected page: page 2 is empty, page 0 has HI.
  EXPECT_EQ(feed(s, E + "=\"%\"&"), std::vector<std::string>{"\r"});
  feed(s, E + ": ");
  EXPECT_EQ(feed(s, E + "=\"%\"&"), std::vector<std::string>{"HI\r"});
  EXPECT_EQ(feed(s, E + "]\"$\"'"), std::vector<std::string>{" HI \r"});
  EXPECT_EQ(feed(s, E + "=\"&\"&"), std::vector<std::string>{"I\r"});
  EXPECT_EQ(feed(s, E + "=  !!"), std::vector<std::string>{"\r"});
  // Clearing memory (block mode ESC I with two positions).
  feed(s, E + "I\"&\"&");
  EXPECT_EQ(s.row_text(0, 3), "     H");
}

}  // namespace
