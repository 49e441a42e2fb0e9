// The screen of the simulated 6530 terminal: what each sequence does to it
// and the replies it composes.
#include "terminal/screen6530.h"

#include <algorithm>

namespace zeb::terminal {
namespace {

constexpr char ESC = 0x1B, CR = 0x0D, DC1 = 0x11, DC3 = 0x13, GS = 0x1D;

int coordinate(char c) { return static_cast<uint8_t>(c) - 31; }
int page_of(char c) { return static_cast<uint8_t>(c) - 32; }
char coordinate_byte(int v) { return static_cast<char>(v + 31); }
char page_byte(int v) { return static_cast<char>(v + 32); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Bytes of b up to and including the first CR from offset from; 0 if none
// has come yet.
size_t through_cr(std::string_view b, size_t from) {
  size_t cr = b.find(CR, from);
  return cr == std::string_view::npos ? 0 : cr + 1;
}

}  // namespace

Screen6530::Screen6530(int pages, int rows, int columns)
    : pages_(pages),
      rows_(rows),
      columns_(columns),
      cells_(static_cast<size_t>(pages * rows * columns)),
      max_page_(pages),
      tabs_(static_cast<size_t>(columns + 1), false) {
  for (int c = 9; c <= columns_; c += 8) tabs_[static_cast<size_t>(c)] = true;
}

Screen6530::Cell& Screen6530::at(int page, int row, int column) {
  return cells_[static_cast<size_t>((page * rows_ + row - 1) * columns_ + column - 1)];
}

const Screen6530::Cell& Screen6530::cell(int page, int row, int column) const {
  static const Cell kNone;
  if (page < 0 || page >= pages_ || row < 1 || row > rows_ || column < 1 || column > columns_) {
    return kNone;
  }
  return cells_[static_cast<size_t>((page * rows_ + row - 1) * columns_ + column - 1)];
}

std::string Screen6530::row_text(int page, int row) const {
  std::string text;
  for (int c = 1; c <= columns_; ++c) {
    char ch = cell(page, row, c).ch;
    text.push_back(ch == 0 ? ' ' : ch);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Screen6530::page_text(int page) const {
  std::string text;
  int last = 0;
  for (int r = 1; r <= rows_; ++r) {
    if (!row_text(page, r).empty()) last = r;
  }
  for (int r = 1; r <= last; ++r) text += row_text(page, r) + "\n";
  return text;
}

void Screen6530::clamp() {
  row_ = std::clamp(row_, 1, rows_);
  col_ = std::clamp(col_, 1, columns_);
}

void Screen6530::put(char c, bool conversational) {
  Cell& cell = at(select_, row_, col_);
  cell.ch = c;
  cell.attr = video;
  if (++col_ > columns_) {
    col_ = 1;
    next_row(conversational);
  }
}

// Down one row. On the last row, conversational text rolls the page up as
// a terminal's scrolling output does; in block mode the cursor stays.
void Screen6530::next_row(bool conversational) {
  if (row_ < rows_) {
    ++row_;
  } else if (conversational) {
    roll_up(1);
  }
}

// The rows from `from` down move up one; the last row is erased.
void Screen6530::roll_up(int from) {
  for (int r = from; r < rows_; ++r) {
    for (int col = 1; col <= columns_; ++col) at(select_, r, col) = at(select_, r + 1, col);
  }
  erase(select_, rows_, 1, rows_, columns_);
}

void Screen6530::erase(int page, int r1, int c1, int r2, int c2) {
  for (int r = r1; r <= r2; ++r) {
    int from = r == r1 ? c1 : 1, to = r == r2 ? c2 : columns_;
    for (int c = from; c <= to; ++c) at(page, r, c) = Cell{};
  }
}

// The text from (r1, c1) to (r2, c2) of the selected page in reading order.
// Empty cells are blanks; without blanks, trailing empty cells are left
// out, as the terminal sends no nulls. With attrs, each change of the video
// attribute is shown as ESC "6" and the attribute before its character.
std::string Screen6530::region(int r1, int c1, int r2, int c2, bool blanks, bool attrs) const {
  std::string text;
  size_t written = 0;
  int attr = -1;
  for (int r = r1; r <= r2 && r <= rows_; ++r) {
    int from = r == r1 ? c1 : 1, to = r == r2 ? c2 : columns_;
    for (int c = from; c <= to && c <= columns_; ++c) {
      const Cell& cell = this->cell(select_, r, c);
      if (attrs && cell.ch != 0 && cell.attr != attr) {
        attr = cell.attr;
        text += {ESC, '6', static_cast<char>(attr)};
      }
      text.push_back(cell.ch == 0 ? ' ' : cell.ch);
      if (cell.ch != 0) written = text.size();
    }
  }
  if (!blanks) text.resize(written);
  return text;
}

std::string Screen6530::finish(std::string body, bool conversational, bool screen) const {
  if (conversational || screen) body.push_back(CR);
  return body;
}

std::string Screen6530::function_key(uint8_t key, bool conversational) const {
  std::string body = {static_cast<char>(key), page_byte(select_), coordinate_byte(row_),
                      coordinate_byte(col_)};
  return finish(body, conversational, false);
}

void Screen6530::feed(std::string_view bytes, bool conversational,
                      std::vector<std::string>* replies) {
  // The bytes are worked on in a copy of their own: a sequence may reset the
  // whole terminal (ESC q), pending bytes included.
  std::string work = pending_;
  work.append(bytes);
  pending_.clear();
  size_t i = 0;
  while (i < work.size()) {
    size_t used = step(std::string_view(work).substr(i), conversational, replies);
    if (used == 0) break;
    i += used;
  }
  pending_ = work.substr(i);
}

void Screen6530::Step::reply(std::string body, bool screen) const {
  if (conversational || screen) body.push_back(CR);
  replies->push_back(std::move(body));
}

size_t Screen6530::step(std::string_view b, bool conversational,
                        std::vector<std::string>* replies) {
  const Step s{b, conversational, replies};
  char c = b[0];
  if (static_cast<uint8_t>(c) >= 0x20 && c != 0x7F) {
    put(c, conversational);
    return 1;
  }
  if (c != ESC) return control(s);
  if (b.size() < 2) return 0;
  return (this->*escape_handler(b[1]))(s);
}

// The family each ESC letter belongs to, as the format engine has one
// handler per directive letter.
Screen6530::Handler Screen6530::escape_handler(char letter) {
  switch (letter) {
    case 'i':
    case 'H':
    case 'A':
    case 'C':
    case 'F':
    case 'V':
    case 'U':
    case ':':
    case ';':
      return &Screen6530::cursor;
    case 'I':
    case 'J':
    case 'K':
    case 'S':
    case 'M':
    case 'T':
    case 'L':
    case 'O':
    case 'P':
    case 'q':
      return &Screen6530::edit;
    case '0':
    case '1':
    case '2':
    case '3':
    case 'N':
    case 'W':
    case 'X':
    case 'b':
    case 'c':
    case 'f':
    case 'p':
    case '6':
    case '7':
    case '[':
      return &Screen6530::modes;
    case '-':
      return &Screen6530::numbers;
    case 'v':
    case 'o':
    case 'r':
    case 'x':
      return &Screen6530::strings;
    case 'y':
    case '=':
    case ']':
    case 'Q':
    case '<':
    case '_':
    case 'a':
    case '^':
    case 'd':
      return &Screen6530::reads;
    default:
      return &Screen6530::unknown_escape;
  }
}

// Control characters: cursor movement, the bell, addressing (DC1, DC3) and
// a field start (GS). Others (SO, SI, ...) change nothing shown.
size_t Screen6530::control(const Step& s) {
  std::string_view b = s.b;
  switch (b[0]) {
    case '\n':
      next_row(s.conversational);
      return 1;
    case '\b':
      if (col_ > 1) --col_;
      return 1;
    case CR:
      col_ = 1;
      return 1;
    case '\t': {
      int next = col_ + 1;
      while (next <= columns_ && !tabs_[static_cast<size_t>(next)]) ++next;
      if (next <= columns_) col_ = next;
      return 1;
    }
    case 0x07:
      ++bells;
      return 1;
    case DC1:
    case DC3:
      if (b.size() < 3) return 0;
      row_ = coordinate(b[1]);
      col_ = coordinate(b[2]);
      clamp();
      return 3;
    case GS:
      if (b.size() < 3) return 0;
      at(select_, row_, col_).field = true;
      fields.emplace_back(b.substr(0, 3));
      return 3;
    default:
      return 1;
  }
}

// The cursor and the pages: back tab, home, up, right, last row, the
// displayed page down and up, the selected and displayed page.
size_t Screen6530::cursor(const Step& s) {
  std::string_view b = s.b;
  switch (b[1]) {
    case 'i': {
      int prev = col_ - 1;
      while (prev > 1 && !tabs_[static_cast<size_t>(prev)]) --prev;
      col_ = std::max(prev, 1);
      return 2;
    }
    case 'H':
      row_ = col_ = 1;
      return 2;
    case 'A':
      if (row_ > 1) --row_;
      return 2;
    case 'C':
      if (col_ < columns_) ++col_;
      return 2;
    case 'F':
      row_ = rows_;
      col_ = 1;
      return 2;
    case 'V':
      if (display_ > 0) --display_;
      return 2;
    case 'U':
      if (display_ + 1 < std::min(max_page_, pages_)) ++display_;
      return 2;
    default: {  // ':' selects, ';' displays a page
      if (b.size() < 3) return 0;
      int page = page_of(b[2]);
      if (page >= 0 && page < pages_) (b[1] == ':' ? select_ : display_) = page;
      return 3;
    }
  }
}

// Erasing, rolling, inserting and deleting lines and characters, and the
// reset (ESC q).
size_t Screen6530::edit(const Step& s) {
  std::string_view b = s.b;
  switch (b[1]) {
    case 'I':
      // In block mode ESC I clears the memory between two positions; in
      // conversational mode it erases the page.
      if (!s.conversational) {
        if (b.size() < 6) return 0;
        int r1 = coordinate(b[2]), c1 = coordinate(b[3]);
        int r2 = coordinate(b[4]), c2 = coordinate(b[5]);
        if (r1 >= 1 && c1 >= 1 && r2 <= rows_ && c2 <= columns_ &&
            (r1 < r2 || (r1 == r2 && c1 <= c2))) {
          erase(select_, r1, c1, r2, c2);
        }
        return 6;
      }
      erase(select_, 1, 1, rows_, columns_);
      row_ = col_ = 1;
      return 2;
    case 'J':
      erase(select_, row_, col_, rows_, columns_);
      return 2;
    case 'K':
      erase(select_, row_, col_, row_, columns_);
      return 2;
    case 'S':
    case 'M':
      // Roll up the page, or delete the cursor's line: the rows below move up.
      roll_up(b[1] == 'S' ? 1 : row_);
      return 2;
    case 'T':
    case 'L': {
      int from = b[1] == 'T' ? 1 : row_;
      for (int r = rows_; r > from; --r) {
        for (int col = 1; col <= columns_; ++col) at(select_, r, col) = at(select_, r - 1, col);
      }
      erase(select_, from, 1, from, columns_);
      return 2;
    }
    case 'O':
      for (int col = columns_; col > col_; --col)
        at(select_, row_, col) = at(select_, row_, col - 1);
      at(select_, row_, col_) = Cell{};
      return 2;
    case 'P':
      for (int col = col_; col < columns_; ++col)
        at(select_, row_, col) = at(select_, row_, col + 1);
      at(select_, row_, columns_) = Cell{};
      return 2;
    default:  // 'q'
      *this = Screen6530(pages_, rows_, columns_);
      return 2;
  }
}

// Modes and settings: printing, tab stops, local editing, protection, the
// keyboard lock, the last page, video attributes and field definitions.
size_t Screen6530::modes(const Step& s) {
  std::string_view b = s.b;
  switch (b[1]) {
    case '0':
      ++prints;
      return 2;
    case '1':
      tabs_[static_cast<size_t>(col_)] = true;
      return 2;
    case '2':
      tabs_[static_cast<size_t>(col_)] = false;
      return 2;
    case '3':
      std::fill(tabs_.begin(), tabs_.end(), false);
      return 2;
    case 'N':
      local_edit = false;
      return 2;
    case 'W':
    case 'X':
      protect = b[1] == 'W';
      return 2;
    case 'b':
    case 'c':
      locked = b[1] == 'c';
      return 2;
    case 'f':
      return 2;
    case 'p':
      if (b.size() < 3) return 0;
      max_page_ = std::clamp(static_cast<uint8_t>(b[2]) - 48, 1, pages_);
      return 3;
    case '6':
    case '7':
      if (b.size() < 3) return 0;
      (b[1] == '6' ? video : video_prior) = static_cast<uint8_t>(b[2]);
      return 3;
    default:  // '['
      if (b.size() < 5) return 0;
      at(select_, row_, col_).field = true;
      fields.emplace_back(b.substr(0, 5));
      return 5;
  }
}

// ESC "-", decimal numbers separated by ";" and a final letter: cursor
// addressing (D, C), the color map (q) and a configuration item read (d).
size_t Screen6530::numbers(const Step& s) {
  std::string_view b = s.b;
  size_t end = 2;
  while (end < b.size() && ((b[end] >= '0' && b[end] <= '9') || b[end] == ';')) ++end;
  if (end >= b.size()) return 0;
  std::vector<int> n{0};
  for (size_t k = 2; k < end; ++k) {
    if (b[k] == ';')
      n.push_back(0);
    else
      n.back() = n.back() * 10 + (b[k] - '0');
  }
  n.resize(3, 0);
  switch (b[end]) {
    case 'D':
    case 'C':
      row_ = n[0];
      col_ = n[1];
      clamp();
      return end + 1;
    case 'q':
      if (n[0] == 0) {
        if (b.size() < end + 3) return 0;
        color_map[n[1]] = {static_cast<uint8_t>(b[end + 1]), static_cast<uint8_t>(b[end + 2])};
        return end + 3;
      }
      color_map.erase(n[1]);
      return end + 1;
    case 'd': {
      auto it = terminal_config.find(n[0]);
      s.reply(it != terminal_config.end() ? it->second : "", true);
      return end + 1;
    }
    default:
      ++unknown;
      return end + 1;
  }
}

// Sequences that carry text: a configuration item (v, ended by CR), the
// status line message (o, ended by CR), the data type table (r, 192 hex
// digits) and an I/O configuration item (x, ended by CR).
size_t Screen6530::strings(const Step& s) {
  std::string_view b = s.b;
  switch (b[1]) {
    case 'v': {
      if (b.size() < 3) return 0;
      size_t end = through_cr(b, 3);
      if (end == 0) return 0;
      terminal_config[static_cast<uint8_t>(b[2])] = std::string(b.substr(3, end - 4));
      return end;
    }
    case 'o': {
      size_t end = through_cr(b, 2);
      if (end == 0) return 0;
      message = std::string(b.substr(2, end - 3));
      return end;
    }
    case 'r': {
      if (b.size() < 2 + 192) return 0;
      datatype_table.clear();
      for (size_t k = 2; k < 2 + 192; k += 2) {
        int hi = hex_digit(b[k]), lo = hex_digit(b[k + 1]);
        datatype_table.push_back(static_cast<uint8_t>(hi < 0 || lo < 0 ? 0 : hi * 16 + lo));
      }
      return 2 + 192;
    }
    default: {  // 'x'
      if (b.size() < 4) return 0;
      size_t end = through_cr(b, 4);
      if (end == 0) return 0;
      io_config[static_cast<uint8_t>(b[3]) - 49] = std::string(b.substr(4, end - 5));
      return end;
    }
  }
}

// Read requests, each answered by a reply: an I/O configuration item, the
// screen's characters, the revision level, the cursor's place, the status
// and a simulated function key.
size_t Screen6530::reads(const Step& s) {
  std::string_view b = s.b;
  switch (b[1]) {
    case 'y': {
      if (b.size() < 4) return 0;
      auto it = io_config.find(static_cast<uint8_t>(b[3]) - 49);
      s.reply(it != io_config.end() ? it->second : "", true);
      return 4;
    }
    case '=':
    case ']':
    case 'Q':
      if (b.size() < 6) return 0;
      s.reply(region(coordinate(b[2]), coordinate(b[3]), coordinate(b[4]), coordinate(b[5]),
                     b[1] == ']', b[1] == 'Q'),
              true);
      return 6;
    case '<':
      s.reply(region(1, 1, row_, col_, true, false), true);
      return 2;
    case '_':
      s.reply("SIM6530 C00", true);
      return 2;
    case 'a':
      s.reply({'_', page_byte(select_), coordinate_byte(row_), coordinate_byte(col_)});
      return 2;
    case '^': {
      int cells = rows_ * columns_;
      s.reply({'?', static_cast<char>(0x40 | (locked ? 1 : 0) | (protect ? 2 : 0)),
               static_cast<char>(0x40 | display_), static_cast<char>(0x40 | select_),
               static_cast<char>(64 + max_page_), static_cast<char>(0x40 | ((cells >> 6) & 0x3F)),
               static_cast<char>(0x40 | (cells & 0x3F))});
      return 2;
    }
    default:  // 'd'
      if (b.size() < 3) return 0;
      s.replies->push_back(function_key(static_cast<uint8_t>(b[2]), s.conversational));
      return 3;
  }
}

size_t Screen6530::unknown_escape(const Step&) {
  ++unknown;
  return 2;
}

}  // namespace zeb::terminal
