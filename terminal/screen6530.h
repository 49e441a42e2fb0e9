// The screen of a simulated 6530 block-mode terminal: pages of rows and
// columns, a cursor, tab stops, fields and video attributes. It applies the
// control sequences a program sends and composes the replies to its read
// requests (cursor position, status, characters and screens, function
// keys). Sim6530 (sim6530.h) puts it on a pseudo-terminal.
//
// Replies: in conversational mode (the line canonical) every reply ends
// with CR, which the program's line read removes. In block mode a reply is
// sent as it is, except that text (a screen read, the revision level, a
// configuration item) ends with CR there too, so a read of one empty
// position is the CR alone. The cursor position reply is
// "_" and the page, row and column bytes; the status reply is "?", three
// status bytes and three number bytes; a function key is the key byte and
// the page, row and column of the cursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb::terminal {

class Screen6530 {
 public:
  struct Cell {
    char ch = 0;         // 0: never written
    uint8_t attr = 0;    // video attribute in force when it was written
    bool field = false;  // a field begins here
  };

  explicit Screen6530(int pages = 8, int rows = 24, int columns = 80);

  // Applies the bytes a program sent. Sequences cut off at the end are kept
  // for the next call. Each reply the bytes ask for is appended to
  // *replies, finished for the mode (conversational: CR added).
  void feed(std::string_view bytes, bool conversational, std::vector<std::string>* replies);
  // The reply a function key makes now.
  std::string function_key(uint8_t key, bool conversational) const;

  int pages() const { return pages_; }
  int rows() const { return rows_; }
  int columns() const { return columns_; }
  int cursor_row() const { return row_; }
  int cursor_column() const { return col_; }
  int select_page() const { return select_; }
  int display_page() const { return display_; }
  int max_page() const { return max_page_; }
  const Cell& cell(int page, int row, int column) const;
  // One row's text, empty cells as blanks, trailing blanks removed.
  std::string row_text(int page, int row) const;
  // The page's rows, each ended by a line feed, trailing empty rows left out.
  std::string page_text(int page) const;

  int bells = 0;
  int prints = 0;
  bool locked = false;
  bool protect = false;
  bool local_edit = true;
  uint8_t video = 0;  // attribute of what is written next
  uint8_t video_prior = 0;
  std::string message;                           // ESC o
  std::vector<uint8_t> datatype_table;           // ESC r, 96 bytes
  std::map<int, std::string> terminal_config;    // ESC v: item -> value
  std::map<int, std::string> io_config;          // ESC x T: item -> data
  std::map<int, std::pair<int, int>> color_map;  // entry -> the two bytes
  std::vector<std::string> fields;               // each field definition's bytes
  int unknown = 0;                               // sequences the terminal does not know

 private:
  Cell& at(int page, int row, int column);
  void put(char c, bool conversational);
  void next_row(bool conversational);
  void roll_up(int from);
  void erase(int page, int r1, int c1, int r2, int c2);
  void clamp();
  std::string region(int r1, int c1, int r2, int c2, bool blanks, bool attrs) const;
  std::string finish(std::string body, bool conversational, bool screen) const;
  // Applies one sequence at the start of b; returns its length, 0 when it
  // is not complete yet. It hands each family of sequences to its own
  // handler, which takes the sequence whole and returns its length.
  struct Step {
    std::string_view b;  // the sequence and what follows it
    bool conversational;
    std::vector<std::string>* replies;
    void reply(std::string body, bool screen = false) const;
  };
  using Handler = size_t (Screen6530::*)(const Step& s);
  static Handler escape_handler(char letter);
  size_t step(std::string_view b, bool conversational, std::vector<std::string>* replies);
  size_t control(const Step& s);
  size_t cursor(const Step& s);
  size_t edit(const Step& s);
  size_t modes(const Step& s);
  size_t numbers(const Step& s);
  size_t strings(const Step& s);
  size_t reads(const Step& s);
  size_t unknown_escape(const Step& s);

  int pages_, rows_, columns_;
  std::vector<Cell> cells_;
  int row_ = 1, col_ = 1;
  int select_ = 0, display_ = 0, max_page_;
  std::vector<bool> tabs_;
  std::string pending_;
};

}  // namespace zeb::terminal
