// Terminal files on Linux ttys: the operation in progress, modes and
// parameters, and the waits of await_io (AWAITIOX).
//
// An operation never blocks the process beyond its time limit. The platform
// opens a terminal device itself with O_NONBLOCK, on an open file
// description of its own, so the flag does not reach the shell's descriptors.
// A standard stream that is a tty is reopened the same way through
// /proc/self/fd; only when that is refused (the tty belongs to another user)
// does it fall back to a duplicate of the stream, which it then reads and
// writes only after poll says the tty is ready.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/platform/terminal.h>
#include "platform/files/file.h"
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

// A block-mode read ends when the line has been quiet this long after the
// last byte: a 6530 sends a screen or a reply in one burst.
constexpr int64_t kQuietGapNs = 50'000'000;
constexpr int64_t kTickNs = 10'000'000;  // one hundredth of a second

enum class Op { kNone, kWrite, kRead };

struct Terminal {
  int fd = -1;
  int16_t nowait = 0;
  int16_t subtype = 0;
  bool changed = false;  // settings changed since the open
  struct termios original {};
  // The operation in progress (kNone: none). A write-read is a write
  // followed by a read of in_max bytes.
  Op op = Op::kNone;
  std::string out;
  size_t written = 0;
  char* in = nullptr;
  int16_t in_max = 0;
  int16_t got = 0;
  bool canonical = true;  // the tty's mode when the operation started
  int64_t last_byte_ns = 0;
  bool done = false;
  int16_t error = 0;
  int16_t count = 0;  // count transferred
};

int64_t now_ns() { return syscalls().monotonic_ns(); }

// The events fd is ready for now, without waiting.
short ready(int fd, short events) {
  struct pollfd p {
    fd, events, 0
  };
  if (syscalls().poll(&p, 1, 0) <= 0) return 0;
  return p.revents;
}

void finish(Terminal& t, int16_t error) {
  t.done = true;
  t.error = error;
  t.count = t.op == Op::kWrite ? static_cast<int16_t>(t.written) : t.got;
}

// Advances the operation of t as far as it goes without waiting. Returns
// true when it is complete; otherwise *events says what to wait for and
// *wake_ns when the operation completes by itself (the quiet gap of a
// block-mode read), -1 for never.
bool advance(Terminal& t, short* events, int64_t* wake_ns) {
  *wake_ns = -1;
  if (t.done) return true;
  while (t.written < t.out.size()) {
    short r = ready(t.fd, POLLOUT);
    if ((r & POLLOUT) == 0) {
      if ((r & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        finish(t, error_from_errno(EIO));
        return true;
      }
      *events = POLLOUT;
      return false;
    }
    long n = syscalls().write(t.fd, t.out.data() + t.written, t.out.size() - t.written);
    if (n < 0) {
      if (errno == EAGAIN) {
        *events = POLLOUT;
        return false;
      }
      finish(t, error_from_errno(errno));
      return true;
    }
    t.written += static_cast<size_t>(n);
  }
  if (t.op == Op::kWrite || t.in_max == 0) {
    finish(t, 0);
    return true;
  }
  while (t.got < t.in_max) {
    short r = ready(t.fd, POLLIN);
    if ((r & POLLIN) != 0) {
      long n = syscalls().read(t.fd, t.in + t.got, static_cast<size_t>(t.in_max - t.got));
      if (n > 0) {
        if (t.canonical) {
          // One read is one line; it is handed over without its terminator.
          if (t.in[t.got + n - 1] == '\n') --n;
          t.got = static_cast<int16_t>(t.got + n);
          finish(t, 0);
          return true;
        }
        t.got = static_cast<int16_t>(t.got + n);
        t.last_byte_ns = now_ns();
        continue;
      }
      if (n < 0 && errno == EAGAIN) {
        // Someone else took the input first; wait for more.
      } else if (n == 0 && t.canonical && (r & POLLHUP) == 0) {
        finish(t, err::kEndOfFile);  // end of input typed at the terminal
        return true;
      } else {
        // A tty that hung up, or a raw tty that reads nothing, has gone
        // away: the error is the one a write to it gives (EIO).
        finish(t, t.got > 0 ? 0 : n < 0 ? error_from_errno(errno) : error_from_errno(EIO));
        return true;
      }
    } else if ((r & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      finish(t, t.got > 0 ? 0 : error_from_errno(EIO));
      return true;
    }
    if (!t.canonical && t.got > 0) {
      int64_t quiet = t.last_byte_ns + kQuietGapNs;
      if (now_ns() >= quiet) break;
      *wake_ns = quiet;
    }
    *events = POLLIN;
    return false;
  }
  finish(t, 0);
  return true;
}

// Waits until one of the given terminals' operations completes or the
// deadline (-1: none) passes; returns the index of the one that completed,
// or -1.
int wait_for(Terminal* const* files, size_t n, int64_t deadline) {
  std::vector<struct pollfd> fds;
  for (;;) {
    fds.clear();
    int64_t wake = deadline;
    for (size_t i = 0; i < n; ++i) {
      Terminal& t = *files[i];
      short events = 0;
      int64_t own_wake = -1;
      if (advance(t, &events, &own_wake)) return static_cast<int>(i);
      if (own_wake >= 0 && (wake < 0 || own_wake < wake)) wake = own_wake;
      fds.push_back(pollfd{t.fd, events, 0});
    }
    int64_t now = now_ns();
    if (deadline >= 0 && now >= deadline) {
      // A read that already holds data completes with it at the limit.
      for (size_t i = 0; i < n; ++i) {
        Terminal& t = *files[i];
        if (t.got > 0) {
          finish(t, 0);
          return static_cast<int>(i);
        }
      }
      return -1;
    }
    int timeout = -1;
    if (wake >= 0) {
      int64_t left = std::max<int64_t>(wake - now, 0);
      timeout = static_cast<int>(std::min<int64_t>((left + 999'999) / 1'000'000, 1'000'000));
    }
    int rc = syscalls().poll(fds.data(), fds.size(), timeout);
    if (rc == 0 && timeout > 0 && deadline >= 0 && now_ns() == now) {
      // The clock stands still (a test's virtual clock): the poll's own
      // wait is what passed, so the limit still comes.
      deadline = std::max<int64_t>(now, deadline - int64_t{timeout} * 1'000'000);
    }
  }
}

// Starts an operation on t: writes out, then (read_count > 0, or a plain
// read) reads into in.
int16_t start(Terminal& t, Op op, const void* out, int16_t out_count, void* in, int16_t in_count) {
  if (t.op != Op::kNone) return err::kTooManyNowait;
  struct termios settings {};
  t.canonical = syscalls().tcgetattr(t.fd, &settings) != 0 || (settings.c_lflag & ICANON) != 0;
  t.op = op;
  t.out.assign(static_cast<const char*>(out), static_cast<size_t>(out_count));
  t.written = 0;
  t.in = static_cast<char*>(in);
  t.in_max = in_count;
  t.got = 0;
  t.done = false;
  t.error = 0;
  t.count = 0;
  short events = 0;
  int64_t wake = -1;
  if (t.nowait > 0) {
    // The write goes out at once as far as the tty takes it; the rest, and
    // the read, wait for AWAITIOX.
    advance(t, &events, &wake);
    return 0;
  }
  Terminal* self = &t;
  wait_for(&self, 1, -1);
  t.op = Op::kNone;
  return t.error;
}

// Line speed in bits per second of a termios speed code.
long baud(speed_t code) {
  static const struct {
    speed_t code;
    long bps;
  } kSpeeds[] = {{B0, 0},         {B50, 50},         {B75, 75},         {B110, 110},
                 {B134, 134},     {B150, 150},       {B200, 200},       {B300, 300},
                 {B600, 600},     {B1200, 1200},     {B1800, 1800},     {B2400, 2400},
                 {B4800, 4800},   {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
                 {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}};
  for (const auto& s : kSpeeds) {
    if (s.code == code) return s.bps;
  }
  return 460800;  // the faster rates
}

// The eight bytes of parameter set 3: local modes other than ICANON, input
// modes and output modes (the low 16 bits of each), then VMIN and VTIME.
void encode(const struct termios& s, uint16_t words[4]) {
  words[0] = static_cast<uint16_t>(s.c_lflag & ~static_cast<tcflag_t>(ICANON) & 0xFFFF);
  words[1] = static_cast<uint16_t>(s.c_iflag & 0xFFFF);
  words[2] = static_cast<uint16_t>(s.c_oflag & 0xFFFF);
  words[3] = static_cast<uint16_t>((s.c_cc[VMIN] << 8) | s.c_cc[VTIME]);
}

void decode(const uint16_t words[4], struct termios* s) {
  tcflag_t keep = s->c_lflag & (~tcflag_t{0xFFFF} | ICANON);
  s->c_lflag = keep | (words[0] & ~static_cast<tcflag_t>(ICANON));
  s->c_iflag = (s->c_iflag & ~tcflag_t{0xFFFF}) | words[1];
  s->c_oflag = (s->c_oflag & ~tcflag_t{0xFFFF}) | words[2];
  s->c_cc[VMIN] = static_cast<cc_t>(words[3] >> 8);
  s->c_cc[VTIME] = static_cast<cc_t>(words[3] & 0xFF);
}

int16_t apply(Terminal& t, const struct termios& s) {
  if (syscalls().tcsetattr(t.fd, TCSANOW, &s) != 0) return error_from_errno(errno);
  t.changed = true;
  return 0;
}

}  // namespace

std::string terminal_device_path(std::string_view volume) {
  auto digits = [](std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  auto starts = [&](std::string_view prefix) {
    return volume.size() > prefix.size() && volume.substr(0, prefix.size()) == prefix &&
           digits(volume.substr(prefix.size()));
  };
  if (volume == "$ZTTY") return "/dev/tty";
  if (starts("$PTS")) return "/dev/pts/" + std::string(volume.substr(4));
  if (starts("$TTYS")) return "/dev/ttyS" + std::string(volume.substr(5));
  if (starts("$TTYUSB")) return "/dev/ttyUSB" + std::string(volume.substr(7));
  if (starts("$TTY")) return "/dev/tty" + std::string(volume.substr(4));
  return "";
}

namespace {

// The error for a file number that is not a terminal file: 16 when nothing
// is open under it, else 2 (not a terminal).
int16_t not_terminal(int16_t filenum) {
  return host_fd(filenum) < 0 ? err::kNotOpenFile : err::kInvalidOperation;
}

int16_t record(int16_t filenum, int16_t error) {
  set_file_error(filenum, error);
  return error;
}

}  // namespace

class TerminalFile : public File {
 public:
  TerminalFile(std::string name, const Terminal& t) : File(std::move(name)), t_(t) {}
  // A file its host forgets without closing it gives the tty back too.
  ~TerminalFile() override {
    if (t_.fd >= 0) close();
  }
  Terminal& state() { return t_; }
  int host_fd() const override { return t_.fd; }
  int16_t device_subtype() const override { return t_.subtype; }
  TerminalFile* terminal() override { return this; }

  Status write(std::span<const char> data, int16_t* written) override {
    std::string out(data.data(), data.size());
    // In conversational mode a write is one line; in block mode the bytes go
    // out as they are.
    struct termios settings {};
    if (syscalls().tcgetattr(t_.fd, &settings) == 0 && (settings.c_lflag & ICANON) != 0) {
      out.push_back('\n');
    }
    int16_t error = start(t_, Op::kWrite, out.data(), static_cast<int16_t>(out.size()), nullptr, 0);
    if (error == 0 && t_.nowait == 0 && written != nullptr) {
      *written = static_cast<int16_t>(data.size());
    }
    return Status::error(error);
  }

  Status read(std::span<char> buffer, int16_t* count_read) override {
    int16_t error =
        start(t_, Op::kRead, nullptr, 0, buffer.data(), static_cast<int16_t>(buffer.size()));
    if (t_.nowait == 0 && count_read != nullptr) *count_read = t_.count;
    return Status::error(error);
  }

  Status write_read(char* buffer, int16_t write_count, int16_t read_count,
                    int16_t* count_read) override {
    if (write_count < 0 || read_count < 0) return Status::error(err::kBadCount);
    if (buffer == nullptr && (write_count > 0 || read_count > 0)) {
      return Status::error(err::kMissingParameter);
    }
    int16_t error = start(t_, Op::kRead, buffer, write_count, buffer, read_count);
    if (t_.nowait == 0 && count_read != nullptr) *count_read = t_.count;
    return Status::error(error);
  }

  // Gives the tty back the settings it had when the file was opened.
  void close() override {
    // The tty may be gone (hung up); the file is closed either way.
    if (t_.changed) syscalls().tcsetattr(t_.fd, TCSANOW, &t_.original);
    syscalls().close(t_.fd);
    t_.fd = -1;
  }

 private:
  Terminal t_;
};

Result<std::unique_ptr<File>> open_terminal_file(const FileName& name, int16_t nowait_depth) {
  if (nowait_depth < 0 || nowait_depth > 1) return Status::error(err::kTooManyNowait);
  const std::string& volume = name.volume;
  const Syscalls& sys = syscalls();
  std::string path = terminal_device_path(volume);
  int opened = -1;
  struct termios settings {};
  if (!path.empty()) {
    opened = sys.open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
    if (opened < 0)
      return Status::error(errno == ENOENT ? err::kNoSuchDevice : error_from_errno(errno));
  } else {
    int source = volume == kStdinName ? 0 : volume == kStderrName ? 2 : 1;
    if (sys.tcgetattr(source, &settings) != 0) {
      return Status::error(errno == EBADF ? err::kNotOpenFile : err::kInvalidOperation);
    }
    std::string self = "/proc/self/fd/" + std::to_string(source);
    opened = sys.open(self.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
    if (opened < 0) opened = sys.dup(source);
    if (opened < 0) return Status::error(error_from_errno(errno));
  }
  if (sys.tcgetattr(opened, &settings) != 0) {
    // Not a terminal: the descriptor was only asked about.
    sys.close(opened);
    return Status::error(err::kInvalidOperation);  // not a terminal
  }
  Terminal t;
  t.fd = opened;
  t.nowait = nowait_depth;
  t.original = settings;
  const std::optional<std::string>& kind = host().config().terminal;
  t.subtype = kind && *kind == "6530" ? kSubtype6530 : 0;
  return std::unique_ptr<File>(std::make_unique<TerminalFile>(name.external(), t));
}

namespace {

// The terminal state of an open terminal file number, or null.
Terminal* terminal_at(int16_t filenum) {
  File* f = file_table().find(filenum);
  TerminalFile* t = f != nullptr ? f->terminal() : nullptr;
  return t != nullptr ? &t->state() : nullptr;
}

}  // namespace

// The error for a file number that is a file but no nowait terminal with
// an operation outstanding, or 0 when it is one.
int16_t outstanding_error(int16_t filenum, Terminal* t) {
  if (t == nullptr) {
    int16_t error = not_terminal(filenum);
    return error == err::kNotOpenFile ? error : record(filenum, err::kWaitedFile);
  }
  if (t->nowait == 0) return record(filenum, err::kWaitedFile);
  if (t->op == Op::kNone) return record(filenum, err::kNoOutstanding);
  return 0;
}

Status check_terminal(int16_t filenum) {
  return Status::error(terminal_at(filenum) == nullptr ? not_terminal(filenum) : 0);
}

Status await_io(int16_t* filenum, int32_t timelimit, Completion* completion) {
  std::vector<int16_t> numbers;
  std::vector<Terminal*> files;
  if (*filenum == -1) {
    file_table().for_each([&](int16_t number, File& f) {
      TerminalFile* t = f.terminal();
      if (t != nullptr && t->state().op != Op::kNone) {
        numbers.push_back(number);
        files.push_back(&t->state());
      }
    });
    if (files.empty()) return Status::error(err::kNoOutstanding);
  } else {
    Terminal* t = terminal_at(*filenum);
    if (int16_t error = outstanding_error(*filenum, t); error != 0) return Status::error(error);
    numbers.push_back(*filenum);
    files.push_back(t);
  }
  int64_t deadline = timelimit < 0 ? -1 : now_ns() + int64_t{timelimit} * kTickNs;
  int index = wait_for(files.data(), files.size(), deadline);
  if (index < 0) {
    if (*filenum != -1) set_file_error(*filenum, err::kTimedOut);
    return Status::error(err::kTimedOut);
  }
  Terminal& t = *files[static_cast<size_t>(index)];
  int16_t done = numbers[static_cast<size_t>(index)];
  *filenum = done;
  if (completion != nullptr) {
    completion->completed = true;
    completion->buffer = t.op == Op::kWrite ? nullptr : static_cast<void*>(t.in);
    completion->count = t.count;
  }
  t.op = Op::kNone;
  return Status::error(record(done, t.error));
}

Status cancel_io(int16_t filenum) {
  Terminal* t = terminal_at(filenum);
  if (int16_t error = outstanding_error(filenum, t); error != 0) return Status::error(error);
  t->op = Op::kNone;
  t->out.clear();
  return Status::error(record(filenum, 0));
}

Result<ModeWords> set_mode(int16_t filenum, int16_t function, std::optional<int16_t> param1,
                           bool param2_given) {
  Terminal* t = terminal_at(filenum);
  if (t == nullptr) return Status::error(not_terminal(filenum));
  struct termios s {};
  if (syscalls().tcgetattr(t->fd, &s) != 0)
    return Status::error(record(filenum, error_from_errno(errno)));
  ModeWords before = {0, 0};
  if (function == zeb::kSetModeTerminalMode) {
    before[0] = (s.c_lflag & ICANON) != 0 ? 0 : 1;
    if (param1) {
      if (*param1 != 0 && *param1 != 1) return Status::error(record(filenum, err::kOutOfBounds));
      if (*param1 == 1) {
        s.c_lflag &= ~static_cast<tcflag_t>(ICANON);
        s.c_cc[VMIN] = 1;
        s.c_cc[VTIME] = 0;
      } else {
        s.c_lflag |= ICANON;
      }
      int16_t error = apply(*t, s);
      if (error != 0) return Status::error(record(filenum, error));
    }
  } else if (function == zeb::kSetModeLineSpeed) {
    // Read only: the speed of the line is the tty's own.
    if (param1 || param2_given) return Status::error(record(filenum, err::kInvalidOperation));
    before[0] = static_cast<int16_t>(std::min<long>(baud(cfgetospeed(&s)) / 100, 255) << 8);
  } else {
    return Status::error(record(filenum, err::kInvalidOperation));
  }
  record(filenum, 0);
  return before;
}

Status set_param(int16_t filenum, int16_t function, std::optional<std::span<const char>> params,
                 std::optional<std::span<char>> before) {
  Terminal* t = terminal_at(filenum);
  if (t == nullptr) return Status::error(not_terminal(filenum));
  if (function != zeb::kSetParamTerminal) {
    return Status::error(record(filenum, err::kInvalidOperation));
  }
  if (params && params->size() != 8) return Status::error(record(filenum, err::kBadCount));
  if (before && before->size() < 8) return Status::error(record(filenum, err::kOutOfBounds));
  struct termios s {};
  if (syscalls().tcgetattr(t->fd, &s) != 0)
    return Status::error(record(filenum, error_from_errno(errno)));
  uint16_t words[4];
  encode(s, words);
  if (params) {
    uint16_t changed[4];
    std::memcpy(changed, params->data(), sizeof changed);
    decode(changed, &s);
    int16_t error = apply(*t, s);
    if (error != 0) return Status::error(record(filenum, error));
  }
  if (before) std::memcpy(before->data(), words, sizeof words);
  return Status::error(record(filenum, 0));
}

}  // namespace zeb::platform
