// The simulated 6530 terminal.
#include "terminal/sim6530.h"

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>

#include "platform/host/syscalls.h"

namespace zeb::terminal {
namespace {

constexpr char ESC = 0x1B, CR = 0x0D, DC1 = 0x11, DC3 = 0x13, GS = 0x1D;
constexpr char kIgnore[] = "\x01IGNORE";

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int coordinate(char c) { return static_cast<uint8_t>(c) - 31; }
int page_of(char c) { return static_cast<uint8_t>(c) - 32; }
char coordinate_byte(int v) { return static_cast<char>(v + 31); }
char page_byte(int v) { return static_cast<char>(v + 32); }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The state letter and the controlling terminal's number of a process or
// thread from its /proc stat file; false when it has gone.
bool process_state(const std::string& path, char* state, long* tty) {
  std::string text;
  if (platform::syscalls().read_file(path.c_str(), &text) != 0) return false;
  // The name in parentheses may hold anything; the fields follow its last
  // ')': state, parent, group, session, terminal.
  size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 >= text.size()) return false;
  *state = text[close + 2];
  const char* p = text.c_str() + close + 3;
  char* end = nullptr;
  for (int field = 0; field < 4; ++field) {
    *tty = std::strtol(p, &end, 10);
    if (end == p) return false;
    p = end;
  }
  return true;
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

size_t Screen6530::step(std::string_view b, bool conversational,
                        std::vector<std::string>* replies) {
  auto reply = [&](std::string body, bool screen = false) {
    replies->push_back(finish(std::move(body), conversational, screen));
  };
  // Bytes up to and including the first CR from offset from; 0 if none yet.
  auto through_cr = [&](size_t from) -> size_t {
    size_t cr = b.find(CR, from);
    return cr == std::string_view::npos ? 0 : cr + 1;
  };
  char c = b[0];
  if (static_cast<uint8_t>(c) >= 0x20 && c != 0x7F) {
    put(c, conversational);
    return 1;
  }
  switch (c) {
    case '\n':
      next_row(conversational);
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
    case ESC:
      break;
    default:
      return 1;  // other control characters (SO, SI, ...) change nothing shown
  }
  if (b.size() < 2) return 0;
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
    case 'F':
      row_ = rows_;
      col_ = 1;
      return 2;
    case 'I':
      // In block mode ESC I clears the memory between two positions; in
      // conversational mode it erases the page.
      if (!conversational) {
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
    case 'M': {
      // Roll up the page, or delete the cursor's line: the rows below move up.
      roll_up(b[1] == 'S' ? 1 : row_);
      return 2;
    }
    case 'T':
    case 'L': {
      int from = b[1] == 'T' ? 1 : row_;
      for (int r = rows_; r > from; --r) {
        for (int col = 1; col <= columns_; ++col) at(select_, r, col) = at(select_, r - 1, col);
      }
      erase(select_, from, 1, from, columns_);
      return 2;
    }
    case 'V':
      if (display_ > 0) --display_;
      return 2;
    case 'U':
      if (display_ + 1 < std::min(max_page_, pages_)) ++display_;
      return 2;
    case 'N':
      local_edit = false;
      return 2;
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
    case 'W':
      protect = true;
      return 2;
    case 'X':
      protect = false;
      return 2;
    case 'b':
      locked = false;
      return 2;
    case 'c':
      locked = true;
      return 2;
    case 'f':
      return 2;
    case 'q':
      *this = Screen6530(pages_, rows_, columns_);
      return 2;
    case 'p':
      if (b.size() < 3) return 0;
      max_page_ = std::clamp(static_cast<uint8_t>(b[2]) - 48, 1, pages_);
      return 3;
    case ':':
    case ';': {
      if (b.size() < 3) return 0;
      int page = page_of(b[2]);
      if (page >= 0 && page < pages_) (b[1] == ':' ? select_ : display_) = page;
      return 3;
    }
    case '6':
    case '7':
      if (b.size() < 3) return 0;
      (b[1] == '6' ? video : video_prior) = static_cast<uint8_t>(b[2]);
      return 3;
    case '[':
      if (b.size() < 5) return 0;
      at(select_, row_, col_).field = true;
      fields.emplace_back(b.substr(0, 5));
      return 5;
    case '-': {
      // ESC "-" decimal numbers separated by ";" and a final letter.
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
          reply(it != terminal_config.end() ? it->second : "", true);
          return end + 1;
        }
        default:
          ++unknown;
          return end + 1;
      }
    }
    case 'v': {
      if (b.size() < 3) return 0;
      size_t end = through_cr(3);
      if (end == 0) return 0;
      terminal_config[static_cast<uint8_t>(b[2])] = std::string(b.substr(3, end - 4));
      return end;
    }
    case 'o': {
      size_t end = through_cr(2);
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
    case 'x': {
      if (b.size() < 4) return 0;
      size_t end = through_cr(4);
      if (end == 0) return 0;
      io_config[static_cast<uint8_t>(b[3]) - 49] = std::string(b.substr(4, end - 5));
      return end;
    }
    case 'y': {
      if (b.size() < 4) return 0;
      auto it = io_config.find(static_cast<uint8_t>(b[3]) - 49);
      reply(it != io_config.end() ? it->second : "", true);
      return 4;
    }
    case '=':
    case ']':
    case 'Q': {
      if (b.size() < 6) return 0;
      reply(region(coordinate(b[2]), coordinate(b[3]), coordinate(b[4]), coordinate(b[5]),
                   b[1] == ']', b[1] == 'Q'),
            true);
      return 6;
    }
    case '<':
      reply(region(1, 1, row_, col_, true, false), true);
      return 2;
    case '_':
      reply("SIM6530 C00", true);
      return 2;
    case 'a':
      reply({'_', page_byte(select_), coordinate_byte(row_), coordinate_byte(col_)});
      return 2;
    case '^': {
      int cells = rows_ * columns_;
      reply({'?', static_cast<char>(0x40 | (locked ? 1 : 0) | (protect ? 2 : 0)),
             static_cast<char>(0x40 | display_), static_cast<char>(0x40 | select_),
             static_cast<char>(64 + max_page_), static_cast<char>(0x40 | ((cells >> 6) & 0x3F)),
             static_cast<char>(0x40 | (cells & 0x3F))});
      return 2;
    }
    case 'd':
      if (b.size() < 3) return 0;
      replies->push_back(function_key(static_cast<uint8_t>(b[2]), conversational));
      return 3;
    default:
      ++unknown;
      return 2;
  }
}

Sim6530::Sim6530(int pages, int rows, int columns) : screen_(pages, rows, columns) {
  open_error_ = pty_.open();
  if (open_error_ != 0) {
    open_errno_ = errno;
    return;
  }
  last_activity_ = now_ms();
  // The number /proc gives a process whose controlling terminal is the
  // slave /dev/pts/N: major 136, minor N, in the kernel's encoding.
  const std::string& path = pty_.slave_path();
  long minor = std::strtol(path.c_str() + path.rfind('/') + 1, nullptr, 10);
  tty_number_ = (minor & 0xFF) | (136L << 8) | ((minor & ~0xFFL) << 12);
  thread_ = std::thread([this] { run(); });
}

Sim6530::~Sim6530() { hang_up(); }

void Sim6530::hang_up() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  pty_.close();
}

void Sim6530::run() {
  try {
    serve();
  } catch (const std::exception& e) {
    // A terminal that cannot go on hangs up, so the program ends rather
    // than wait for answers that never come; failure() says why.
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what();
    stop_ = true;
    pty_.close();
  }
  taken_.notify_all();
}

void Sim6530::serve() {
  for (;;) {
    bool want_output = false, want_input = false, check_taken = false;
    uint64_t drain_asked = 0, handed = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      want_output = !unsent_.empty();
      // Backpressure: nothing more is read while bytes already read wait
      // for room among the answers; the program's writes then wait on the
      // line, as they would with a real terminal that stops taking them.
      want_input = unfed_.empty();
      drain_asked = drain_asked_;
      check_taken = outstanding_ && unsent_.empty();
      handed = handed_;
    }
    platform::PseudoTerminal::Ready ready = pty_.wait_ready(want_output, 10, want_input);
    // Whether the program has read all it was handed, looked at before its
    // output is read: what is read from here on came after, as its answer
    // (or, when it wrote just before it read, is taken for one).
    const bool taken = check_taken && !unread_input();
    std::string in;
    const bool took = want_input && ready.input && pty_.read(&in, 0, kReadChunk) > 0;
    const bool conversational = pty_.canonical();
    bool idle = false, news = took;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (taken && handed_ == handed) outstanding_ = false;
      if (took) {
        keep_output(in);
        last_activity_ = now_ms();
        unfed_ = std::move(in);
        // Written after the program read all it was handed: its answer.
        if (!outstanding_) answered_ = true;
      }
      if (ready.hung_up && !took && !ready.output) {
        // No program holds the line open and it takes nothing more: the
        // answers were for a program that has gone.
        unsent_.clear();
        idle = true;
      }
      apply_unfed(conversational);
      if (!took && unfed_.empty() && drain_asked > drain_done_) {
        // The line had nothing to read after the drain was asked for.
        drain_done_ = drain_asked;
        news = true;
      }
      send_unsent();
      press_scripted(!took && !ready.input);
    }
    if (news) taken_.notify_all();
    // A line nobody holds open reports it at once: wait a little before
    // looking again rather than spin.
    if (idle) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Applies what was read, a few bytes at a time, while the answers waiting
// for the program stay under kMaxUnsent; what is left waits until the
// program has read some. The caller holds mutex_.
void Sim6530::apply_unfed(bool conversational) {
  size_t used = 0;
  std::vector<std::string> replies;
  while (used < unfed_.size() && unsent_.size() < kMaxUnsent) {
    size_t n = std::min(kFeedSlice, unfed_.size() - used);
    replies.clear();
    screen_.feed(std::string_view(unfed_).substr(used, n), conversational, &replies);
    used += n;
    for (std::string& r : replies) {
      if (!answers_.empty()) {
        r = answers_.front() == kIgnore ? "" : answers_.front();
        answers_.pop_front();
      }
      hand_over(r);
    }
  }
  unfed_.erase(0, used);
}

// Keeps what the program sent for output() and wait_for(): the latest
// kMaxOutput bytes, so a program that writes without end while nobody asks
// does not fill the memory.
void Sim6530::keep_output(const std::string& in) {
  output_ += in;
  if (output_.size() > kMaxOutput) output_.erase(0, output_.size() - kMaxOutput);
}

// Sends what the line takes now of the bytes for the program; the rest
// waits for room. The caller holds mutex_.
void Sim6530::send_unsent() {
  while (!unsent_.empty()) {
    long n = pty_.write_some(unsent_);
    if (n < 0) unsent_.clear();  // the line refuses them: nobody will read them
    if (n <= 0) return;
    unsent_.erase(0, static_cast<size_t>(n));
  }
}

// What a program wrote before it ended is on the line by then: the first
// look at the line that starts after this call and finds nothing to read
// (the host's poll and read push what is still on its way through first)
// has taken in all of it.
void Sim6530::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) return;
  const uint64_t ticket = ++drain_asked_;
  taken_.wait_for(lock, std::chrono::seconds(10), [&] { return drain_done_ >= ticket || stop_; });
}

bool Sim6530::wait_for(const std::function<bool(const std::string&)>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  taken_.wait_for(lock, std::chrono::seconds(10), [&] { return done(output_) || stop_; });
  return done(output_);
}

std::string Sim6530::failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

// Quiet means nothing arrived for quiet_ms, counted from this call at the
// earliest: what the program wrote just before is read by then.
void Sim6530::settle(int quiet_ms) {
  int64_t start = now_ms(), deadline = start + 10000;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      int64_t since = std::max(last_activity_, start);
      if (now_ms() - since >= quiet_ms || now_ms() > deadline) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Sim6530::type(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  hand_over(text);
}

void Sim6530::press_key(uint8_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  hand_over(screen_.function_key(key, pty_.canonical()));
}

void Sim6530::press_when_waiting(uint8_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back(key);
}

size_t Sim6530::keys_not_pressed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scripted_.size();
}

// Bytes for the program: they are outstanding until it has read them, and
// what it writes before then is no answer to them. The caller holds mutex_.
void Sim6530::hand_over(const std::string& bytes) {
  if (bytes.empty()) return;
  unsent_ += bytes;
  ++handed_;
  outstanding_ = true;
  answered_ = false;
  send_unsent();
}

// Presses the next scripted key when the program waits for it. The program
// waits when it has answered what it was last handed (written something
// after reading it, or after it started, for the first key), the terminal
// has taken in all it wrote and it has read all it was sent, and every
// process on the terminal sleeps. None of this is a matter of time: a
// program that is slow to start or to answer, on a busy machine, gets each
// key in the read that waits for it, and in the mode that read is in. A
// program that reads a key without having written anything since its last
// input waits for it in vain, and so does one that never sleeps. The
// caller holds mutex_.
void Sim6530::press_scripted(bool line_quiet) {
  if (scripted_.empty() || !answered_ || outstanding_ || !line_quiet || !unfed_.empty() ||
      !unsent_.empty() || !program_sleeps()) {
    return;
  }
  uint8_t key = scripted_.front();
  scripted_.pop_front();
  hand_over(screen_.function_key(key, pty_.canonical()));
}

// Whether the program has bytes of the terminal's it has not read: the
// slave side is readable (for a canonical line, a whole line is there).
bool Sim6530::unread_input() const {
  int fd = platform::syscalls().open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
  if (fd < 0) return false;  // no line to read from: nothing waits on it
  struct pollfd p {
    fd, POLLIN, 0
  };
  bool readable = platform::syscalls().poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
  platform::syscalls().close(fd);
  return readable;
}

// Whether every thread of every process whose controlling terminal is this
// one sleeps (state S in /proc; a stopped or ended process counts as
// sleeping). Running, runnable and disk-waiting ones do not: they are still
// on their way to what they will wait for.
bool Sim6530::program_sleeps() const {
  std::vector<std::string> processes;
  if (platform::syscalls().list_directory("/proc", &processes) != 0) return false;
  for (const std::string& pid : processes) {
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    char state = 0;
    long tty = 0;
    if (!process_state("/proc/" + pid + "/stat", &state, &tty) || tty != tty_number_) continue;
    std::vector<std::string> threads;
    if (platform::syscalls().list_directory(("/proc/" + pid + "/task").c_str(), &threads) != 0) {
      threads.clear();
    }
    for (const std::string& tid : threads) {
      if (tid == "." || tid == "..") continue;
      if (process_state("/proc/" + pid + "/task/" + tid + "/stat", &state, &tty) &&
          std::string_view("STtZX").find(state) == std::string_view::npos) {
        return false;
      }
    }
    if (threads.empty() && std::string_view("STtZX").find(state) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

void Sim6530::answer_next(std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(std::move(bytes));
}

void Sim6530::ignore_next() { answer_next(kIgnore); }

std::string Sim6530::output(int quiet_ms) {
  settle(quiet_ms);
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  out.swap(output_);
  return out;
}

}  // namespace zeb::terminal
