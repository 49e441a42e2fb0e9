// Pseudo-terminal masters through the host seam.
#include "platform/files/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

// The state letter and the controlling terminal's number of a process or
// thread from its /proc stat file; false when it has gone.
bool process_state(const std::string& path, char* state, long* tty) {
  std::string text;
  if (syscalls().read_system_file(path.c_str(), &text) != 0) return false;
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

bool asleep(char state) { return std::string_view("STtZX").find(state) != std::string_view::npos; }

}  // namespace

PseudoTerminal::~PseudoTerminal() { close(); }

Status PseudoTerminal::open() {
  close();
  // errno is left as the failed call set it, for a caller that tells it.
  if (syscalls().openpty(&master_, &slave_path_) != 0) return Status::from_errno(errno);
  struct termios s {};
  if (syscalls().tcgetattr(master_, &s) == 0) {
    s.c_lflag |= ICANON;
    s.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    s.c_iflag |= ICRNL;
    s.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    // The default line settings still carry text: the mode is a
    // courtesy to the reader.
    syscalls().tcsetattr(master_, TCSANOW, &s);
  }
  return Status();
}

bool PseudoTerminal::unread_input() const {
  int fd = syscalls().open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK, 0);
  if (fd < 0) return false;  // no line to read from: nothing waits on it
  struct pollfd p {
    fd, POLLIN, 0
  };
  bool readable = syscalls().poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
  syscalls().close(fd);
  return readable;
}

bool PseudoTerminal::users_asleep() const {
  // The number /proc gives a process whose controlling terminal is the
  // slave /dev/pts/N: major 136, minor N, in the kernel's encoding.
  const long minor = std::strtol(slave_path_.c_str() + slave_path_.rfind('/') + 1, nullptr, 10);
  const long tty_number = (minor & 0xFF) | (136L << 8) | ((minor & ~0xFFL) << 12);
  std::vector<std::string> processes;
  if (syscalls().list_directory("/proc", &processes) != 0) return false;
  for (const std::string& pid : processes) {
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    char state = 0;
    long tty = 0;
    if (!process_state("/proc/" + pid + "/stat", &state, &tty) || tty != tty_number) continue;
    std::vector<std::string> threads;
    if (syscalls().list_directory(("/proc/" + pid + "/task").c_str(), &threads) != 0) {
      threads.clear();
    }
    for (const std::string& tid : threads) {
      if (tid == "." || tid == "..") continue;
      if (process_state("/proc/" + pid + "/task/" + tid + "/stat", &state, &tty) &&
          !asleep(state)) {
        return false;
      }
    }
    if (threads.empty() && !asleep(state)) return false;
  }
  return true;
}

std::string PseudoTerminal::slave_name() const {
  return "$PTS" + slave_path_.substr(slave_path_.rfind('/') + 1);
}

long PseudoTerminal::read(std::string* out, int timeout_ms, size_t max_bytes) {
  if (master_ < 0) return -1;
  struct pollfd p {
    master_, POLLIN, 0
  };
  if (syscalls().poll(&p, 1, timeout_ms) <= 0) return 0;
  char buf[4096];
  long total = 0;
  for (size_t left = max_bytes; left > 0;) {
    long n = syscalls().read(master_, buf, std::min(sizeof buf, left));
    if (n > 0) {
      out->append(buf, static_cast<size_t>(n));
      total += n;
      left -= static_cast<size_t>(n);
      continue;
    }
    // EAGAIN: all is read; EIO: no program holds the slave open any more.
    if (n < 0 && errno == EIO && total == 0) return -1;
    return total;
  }
  return total;
}

long PseudoTerminal::write_some(std::string_view bytes) {
  if (master_ < 0) return -1;
  if (bytes.empty()) return 0;
  long n = syscalls().write(master_, bytes.data(), bytes.size());
  if (n >= 0) return n;
  return errno == EAGAIN ? 0 : -1;
}

PseudoTerminal::Ready PseudoTerminal::wait_ready(bool want_output, int timeout_ms,
                                                 bool want_input) {
  Ready ready;
  if (master_ < 0) {
    ready.hung_up = true;
    return ready;
  }
  struct pollfd p {
    master_, static_cast<short>((want_input ? POLLIN : 0) | (want_output ? POLLOUT : 0)), 0
  };
  if (syscalls().poll(&p, 1, timeout_ms) <= 0) return ready;
  ready.input = (p.revents & POLLIN) != 0;
  ready.output = (p.revents & POLLOUT) != 0;
  ready.hung_up = (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
  return ready;
}

bool PseudoTerminal::canonical() const {
  struct termios s {};
  return master_ >= 0 && syscalls().tcgetattr(master_, &s) == 0 && (s.c_lflag & ICANON) != 0;
}

bool PseudoTerminal::set_output_processing(bool on) {
  struct termios s {};
  if (master_ < 0 || syscalls().tcgetattr(master_, &s) != 0) return false;
  if (on) {
    s.c_oflag |= OPOST | ONLCR;
  } else {
    s.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  }
  return syscalls().tcsetattr(master_, TCSANOW, &s) == 0;
}

bool PseudoTerminal::set_speed(long bps) {
  static const struct {
    long bps;
    speed_t code;
  } kRates[] = {{50, B50},     {75, B75},     {110, B110},   {134, B134},     {150, B150},
                {200, B200},   {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
                {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400}};
  struct termios s {};
  if (master_ < 0 || syscalls().tcgetattr(master_, &s) != 0) return false;
  for (const auto& rate : kRates) {
    if (rate.bps == bps) {
      // Every speed in kRates is valid, the only thing these check.
      cfsetospeed(&s, rate.code);
      cfsetispeed(&s, rate.code);
      return syscalls().tcsetattr(master_, TCSANOW, &s) == 0;
    }
  }
  return false;
}

void PseudoTerminal::close() {
  // Closing the master hangs up the terminal whatever close says.
  if (master_ >= 0) syscalls().close(master_);
  master_ = -1;
}

Result<long> PseudoTerminal::spawn(const std::vector<std::string>& argv,
                                   const std::vector<std::string>& env) {
  long pid = syscalls().spawn_on_terminal(slave_path_.c_str(), argv, env);
  if (pid < 0) {
    // errno is left as the failed spawn set it, for a caller that tells it.
    const int e = errno;
    Status error = Status::from_errno(e, argv.empty() ? "" : argv[0]);
    errno = e;
    return error;
  }
  return pid;
}

int PseudoTerminal::wait(long pid, bool nohang) {
  int status = 0;
  long rc = syscalls().waitpid(pid, &status, nohang);
  return rc > 0 ? status : -1;
}

}  // namespace zeb::platform
