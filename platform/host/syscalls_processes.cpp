// The host's own calls for processes, sockets, signals, clocks and terminals
// behind the seam (see syscalls.h and real_calls.h).
#include "platform/host/real_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>

namespace zeb::platform::real {
namespace {

// What the child of real_spawn needs, prepared by the parent before the
// child exists: the child shares the parent's memory and may not allocate.
// error is the child's only write to it.
struct SpawnArgs {
  const char* path;
  char* const* argv;
  char* const* envp;
  int inherit_fd;
  int nice_increment;
  const sigset_t* mask;  // the signal mask the program starts with
  volatile int error;    // errno of the step that failed; 0 while all goes well
};

// The kernel's own sigaction record (rt_sigaction), which the child uses
// directly: the C library's sigaction is a wrapper that sanitizers replace.
struct KernelSigaction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  uint64_t mask;
};
constexpr int kKernelSignals = 64;

// The child of real_spawn, between clone and exec. It runs on a stack of
// its own in the parent's memory while the parent waits (CLONE_VFORK), with
// every signal blocked: it makes raw system calls only (no allocation, no
// lock, no C library state but errno, which belongs to the waiting
// thread), and it never returns. Its own signal handlers are reset to the
// default before its signals are unblocked, so that a signal caught
// between here and exec cannot run one of the parent's handlers on the
// parent's memory; exec would reset them anyway, and ignored signals stay
// ignored as they would through fork and exec.
__attribute__((no_sanitize("address", "undefined"))) int spawn_child(void* arg) {
  SpawnArgs* a = static_cast<SpawnArgs*>(arg);
  for (int sig = 1; sig <= kKernelSignals; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    KernelSigaction old{};
    if (::syscall(SYS_rt_sigaction, sig, nullptr, &old, sizeof(uint64_t)) != 0) continue;
    if (old.handler == SIG_DFL || old.handler == SIG_IGN) continue;
    KernelSigaction dfl{};
    dfl.handler = SIG_DFL;
    ::syscall(SYS_rt_sigaction, sig, &dfl, nullptr, sizeof(uint64_t));
  }
  ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, a->mask, nullptr, sizeof(uint64_t));
  // Every descriptor above 2 but the inherited one closes on exec.
  if (a->inherit_fd >= 0) {
    const unsigned fd = static_cast<unsigned>(a->inherit_fd);
    if (fd > 3) ::syscall(SYS_close_range, 3u, fd - 1, CLOSE_RANGE_CLOEXEC);
    ::syscall(SYS_close_range, fd + 1, ~0u, CLOSE_RANGE_CLOEXEC);
    ::syscall(SYS_fcntl, a->inherit_fd, F_SETFD, 0);
  } else {
    ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
  }
  if (a->nice_increment != 0) {
    // The system call gives 20 - nice, never a negative number.
    const long raw = ::syscall(SYS_getpriority, PRIO_PROCESS, 0);
    if (raw >= 0) {
      ::syscall(SYS_setpriority, PRIO_PROCESS, 0, 20 - raw + a->nice_increment);
    }
  }
  ::syscall(SYS_execve, a->path, a->argv, a->envp);
  a->error = errno != 0 ? errno : ENOEXEC;
  ::syscall(SYS_exit_group, 127);
  return 127;
}

// Process creation as posix_spawn does it: clone with CLONE_VM and
// CLONE_VFORK, so that no page table is copied and the parent's memory is
// not made copy-on-write; the parent goes on when the child has run exec
// or ended. A child that cannot run the program leaves errno in the shared
// record before it ends, and is reaped here.
long real_spawn(const char* path, char* const* argv, char* const* envp, int inherit_fd,
                int nice_increment) {
  // Every signal is blocked, the C library's own included (which
  // pthread_sigmask would leave out), until the child has reset its
  // handlers.
  sigset_t all, old;
  std::memset(&all, 0xFF, sizeof all);  // sigfillset leaves the library's own out
  sigemptyset(&old);
  if (::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &all, &old, sizeof(uint64_t)) != 0) return -1;
  SpawnArgs args{path, argv, envp, inherit_fd, nice_increment, &old, 0};
  // The child's stack: the child makes a few raw system calls and nothing
  // else, and this thread waits while it runs.
  alignas(64) char stack[16384];
  const pid_t pid =
      ::clone(spawn_child, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &args);
  const int clone_errno = errno;
  ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &old, nullptr, sizeof(uint64_t));
  if (pid < 0) {
    errno = clone_errno;
    return -1;
  }
  if (args.error != 0) {
    const int child_errno = args.error;
    int status;
    restarting([&] { return ::waitpid(pid, &status, 0); });
    errno = child_errno;
    return -1;
  }
  return static_cast<long>(pid);
}

int real_pidfd_open(long pid) {
  return above_standard(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
}

int real_kill_child(int pidfd, long pid) {
  if (pidfd >= 0)
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
  return ::kill(static_cast<pid_t>(pid), SIGKILL);
}

int real_wait_exit(int pidfd, long pid, bool wait) {
  siginfo_t info;
  info.si_pid = 0;
  const int options = WEXITED | (wait ? 0 : WNOHANG);
  int rc = pidfd < 0
               ? restarting([&] { return ::waitid(P_PID, static_cast<id_t>(pid), &info, options); })
               : restarting([&] {
                   return ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), &info,
                                   options);
                 });
  if (rc != 0) return -1;
  return !wait && info.si_pid == 0 ? 1 : 0;
}

int real_start_thread(std::function<void()> work) {
  try {
    std::thread(std::move(work)).detach();
    return 0;
  } catch (const std::system_error& e) {
    errno = e.code().value();
    return -1;
  }
}

int real_socketpair(int* fds) {
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  fds[0] = above_standard(fds[0]);
  fds[1] = above_standard(fds[1]);
  if (fds[0] < 0 || fds[1] < 0) {
    int e = errno;
    if (fds[0] >= 0) ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
    errno = e;
    return -1;
  }
  return 0;
}

int real_fgetxattr(int fd, const char* name, std::string* value) {
  char buf[256];
  ssize_t n = ::fgetxattr(fd, name, buf, sizeof buf);
  if (n < 0) return -1;
  value->assign(buf, static_cast<size_t>(n));
  return 0;
}

int real_fsetxattr(int fd, const char* name, const std::string& value) {
  return ::fsetxattr(fd, name, value.data(), value.size(), 0);
}

int real_fchmod(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)); }

int fill_address(const char* path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  size_t n = std::strlen(path);
  if (n >= sizeof address->sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address->sun_path, path, n);
  return 0;
}

int real_unix_socket(int type) { return above_standard(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0)); }

int real_bind_unix(int fd, const char* path) {
  sockaddr_un address;
  if (fill_address(path, &address) != 0) return -1;
  return ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

int real_connect_unix(int fd, const char* path) {
  sockaddr_un address;
  if (fill_address(path, &address) != 0) return -1;
  return restarting(
      [&] { return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address); });
}

int64_t real_monotonic_ns();

int real_connect_unix_waiting(int fd, const char* path, int timeout_ms) {
  sockaddr_un address;
  if (fill_address(path, &address) != 0) return -1;
  // A blocking connect waits while the listener's queue is full, for as
  // long as the socket's send time-out allows (none: for ever); the socket
  // is made blocking for the connect alone.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return -1;
  if ((flags & O_NONBLOCK) != 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
  const int64_t end = timeout_ms < 0 ? -1 : real_monotonic_ns() + int64_t{timeout_ms} * 1000000;
  int rc = -1;
  for (;;) {
    timeval limit{};  // zero: without limit
    if (end >= 0) {
      const int64_t left = end - real_monotonic_ns();
      if (left <= 0) {
        errno = EAGAIN;
        break;
      }
      limit.tv_sec = static_cast<time_t>(left / 1000000000);
      limit.tv_usec = static_cast<suseconds_t>(std::max<int64_t>(1, left % 1000000000 / 1000));
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) break;
    rc = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    // Interrupted: waited again with the time that is left.
    if (rc == 0 || errno != EINTR) break;
  }
  const int e = errno;
  const timeval none{};
  // The time-out and the mode go back as they were; a failure to put them
  // back changes nothing of what the connect did (sends of the library
  // never block on the socket's time-out: they do not wait or are polled).
  (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none);
  if ((flags & O_NONBLOCK) != 0) (void)::fcntl(fd, F_SETFL, flags);
  errno = e;
  return rc;
}

int real_epoll_create() { return above_standard(::epoll_create1(EPOLL_CLOEXEC)); }

int real_epoll_ctl(int epfd, int op, int fd, uint32_t events, uint64_t data) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = data;
  return ::epoll_ctl(epfd, op, fd, &event);
}

int real_epoll_wait(int epfd, ReadyEvent* ready, int max, int timeout_ms) {
  constexpr int kMost = 256;
  epoll_event events[kMost];
  max = std::clamp(max, 1, kMost);
  const int64_t end = timeout_ms < 0 ? -1 : real_monotonic_ns() + int64_t{timeout_ms} * 1000000;
  for (;;) {
    const int n = ::epoll_wait(epfd, events, max, timeout_ms);
    if (n >= 0) {
      for (int i = 0; i < n; ++i) ready[i] = ReadyEvent{events[i].events, events[i].data.u64};
      return n;
    }
    if (errno != EINTR) return -1;
    if (end >= 0) {
      const int64_t left = end - real_monotonic_ns();
      timeout_ms = left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
    }
  }
}

int real_accept(int fd) {
  return above_standard(
      restarting([&] { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK); }));
}

long real_send(int fd, const void* buf, size_t count, bool wait) {
  int flags = MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT);
  return restarting([&] { return ::send(fd, buf, count, flags); });
}

long real_recv(int fd, void* buf, size_t count, bool wait) {
  int flags = MSG_TRUNC | (wait ? 0 : MSG_DONTWAIT);
  return restarting([&] { return ::recv(fd, buf, count, flags); });
}

long real_send_records(int fd, const std::span<const char>* records, size_t count) {
  constexpr size_t kMost = 64;
  count = std::min(count, kMost);
  iovec parts[kMost];
  mmsghdr headers[kMost];
  for (size_t i = 0; i < count; ++i) {
    parts[i].iov_base = const_cast<char*>(records[i].data());
    parts[i].iov_len = records[i].size();
    headers[i] = mmsghdr{};
    headers[i].msg_hdr.msg_iov = &parts[i];
    headers[i].msg_hdr.msg_iovlen = 1;
  }
  return restarting([&] {
    return ::sendmmsg(fd, headers, static_cast<unsigned>(count), MSG_NOSIGNAL | MSG_DONTWAIT);
  });
}

long real_receive_records(int fd, const std::span<char>* records, size_t count, size_t* lengths) {
  constexpr size_t kMost = 64;
  count = std::min(count, kMost);
  iovec parts[kMost];
  mmsghdr headers[kMost];
  for (size_t i = 0; i < count; ++i) {
    parts[i].iov_base = records[i].data();
    parts[i].iov_len = records[i].size();
    headers[i] = mmsghdr{};
    headers[i].msg_hdr.msg_iov = &parts[i];
    headers[i].msg_hdr.msg_iovlen = 1;
  }
  const long n = restarting([&] {
    return ::recvmmsg(fd, headers, static_cast<unsigned>(count), MSG_DONTWAIT | MSG_TRUNC, nullptr);
  });
  for (long i = 0; i < n; ++i) lengths[i] = headers[i].msg_len;
  return n;
}

int real_peer_credentials(int fd, long* pid, long* uid) {
  ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return -1;
  *pid = cred.pid;
  *uid = static_cast<long>(cred.uid);
  return 0;
}

int real_socket_kind(int fd, int* domain, int* type) {
  socklen_t len = sizeof *domain;
  if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, domain, &len) != 0) return -1;
  len = sizeof *type;
  return ::getsockopt(fd, SOL_SOCKET, SO_TYPE, type, &len);
}

int real_try_lock(int fd) {
  return restarting([&] { return ::flock(fd, LOCK_EX | LOCK_NB); });
}

int real_lock(int fd) {
  return restarting([&] { return ::flock(fd, LOCK_EX); });
}

int real_socket_listening(int fd) {
  int on = 0;
  socklen_t length = sizeof on;
  if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &on, &length) != 0) return -1;
  return on != 0 ? 1 : 0;
}

int real_set_cloexec(int fd, bool on) { return ::fcntl(fd, F_SETFD, on ? FD_CLOEXEC : 0); }

int real_chmod(const char* path, unsigned mode) { return ::chmod(path, static_cast<mode_t>(mode)); }

int real_getcwd(std::string* dir) {
  char buf[PATH_MAX];
  if (::getcwd(buf, sizeof buf) == nullptr) return -1;
  *dir = buf;
  return 0;
}

// SIGPIPE is thread-directed when a write raises it, so blocking it in this
// thread for the length of the write keeps it from ending the process
// whatever its disposition. The signal then stays pending until it is
// consumed with a zero-timeout sigtimedwait.
void real_hold_sigpipe(Syscalls::SigpipeHold* hold) {
  const int saved = errno;
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  hold->was_blocked = true;
  hold->was_pending = true;
  if (::pthread_sigmask(SIG_BLOCK, &pipe_only, &old) == 0) {
    hold->was_blocked = sigismember(&old, SIGPIPE) == 1;
    hold->was_pending = false;
    if (hold->was_blocked) {
      // Only a blocked SIGPIPE can be pending now.
      sigset_t pending;
      ::sigpending(&pending);
      hold->was_pending = sigismember(&pending, SIGPIPE) == 1;
    }
  }
  errno = saved;
}

void real_release_sigpipe(const Syscalls::SigpipeHold& hold, bool discard) {
  const int saved = errno;
  sigset_t pipe_only;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  if (discard && !hold.was_pending) {
    struct timespec zero = {0, 0};
    while (::sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  if (!hold.was_blocked) ::pthread_sigmask(SIG_UNBLOCK, &pipe_only, nullptr);
  errno = saved;
}

int64_t read_clock(clockid_t id) {
  struct timespec ts;
  ::clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t real_monotonic_ns() { return read_clock(CLOCK_MONOTONIC); }
int64_t real_realtime_ns() { return read_clock(CLOCK_REALTIME); }
int64_t real_process_time_ns() { return read_clock(CLOCK_PROCESS_CPUTIME_ID); }

long real_local_offset_s(int64_t unix_seconds) {
  ::tzset();
  struct tm local;
  time_t t = static_cast<time_t>(unix_seconds);
  if (::localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

// Sleeps to shortly before the target, then reads the clock until it is
// reached, so that the return does not carry the scheduler's wake-up delay
// (the simulated disk times its writes this way). clock_nanosleep returns
// its error; only an interruption is retried.
int real_sleep_until_ns(int64_t target) {
  constexpr int64_t kSpin = 300000;
  if (target - real_monotonic_ns() > kSpin) {
    struct timespec ts;
    int64_t sleep_to = target - kSpin;
    ts.tv_sec = sleep_to / 1000000000;
    ts.tv_nsec = sleep_to % 1000000000;
    int rc;
    do {
      rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    } while (rc == EINTR);
    if (rc != 0) {
      errno = rc;
      return -1;
    }
  }
  while (real_monotonic_ns() < target) {
  }
  return 0;
}

int real_poll(struct pollfd* fds, unsigned long nfds, int timeout_ms) {
  int64_t end = timeout_ms < 0 ? -1 : real_monotonic_ns() + int64_t{timeout_ms} * 1000000;
  for (;;) {
    int rc = ::poll(fds, static_cast<nfds_t>(nfds), timeout_ms);
    if (rc >= 0 || errno != EINTR) return rc;
    if (end >= 0) {
      int64_t left = end - real_monotonic_ns();
      timeout_ms = left <= 0 ? 0 : static_cast<int>((left + 999999) / 1000000);
    }
  }
}

// A process outside its terminal's foreground group that changes the
// terminal's settings is stopped by SIGTTOU, unless the signal is blocked or
// ignored: then the change is made. The library's own changes (a mode the
// program asks for, the settings given back at a close) are made with
// SIGTTOU blocked in the calling thread, so a program run in the background
// goes on instead of stopping. Only this call is covered; the program's
// disposition and mask are as they were after it.
int real_tcsetattr(int fd, int actions, const struct termios* settings) {
  sigset_t ttou, old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  const bool held = ::pthread_sigmask(SIG_BLOCK, &ttou, &old) == 0;
  int rc = restarting([&] { return ::tcsetattr(fd, actions, settings); });
  if (held && sigismember(&old, SIGTTOU) != 1) {
    const int saved = errno;
    ::pthread_sigmask(SIG_UNBLOCK, &ttou, nullptr);
    errno = saved;
  }
  return rc;
}

int real_openpty(int* master, std::string* slave_path) {
  int fd = above_standard(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (fd < 0) return -1;
  char name[128];
  if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  *master = fd;
  *slave_path = name;
  return 0;
}

long real_spawn_on_terminal(const char* slave_path, const std::vector<std::string>& argv,
                            const std::vector<std::string>& env) {
  if (argv.empty()) {
    errno = EINVAL;
    return -1;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // The child's environment is built here: after fork only calls that are
  // safe in a child of a threaded process are made.
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string_view entry(*e);
    bool replaced = false;
    for (const std::string& add : env) {
      size_t eq = add.find('=');
      if (entry.size() > eq && entry.substr(0, eq + 1) == std::string_view(add).substr(0, eq + 1)) {
        replaced = true;
      }
    }
    if (!replaced) envp.push_back(*e);
  }
  for (const std::string& add : env) envp.push_back(const_cast<char*>(add.c_str()));
  envp.push_back(nullptr);
  // A pipe that closes on exec tells the parent whether the exec worked.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  pid_t pid = ::fork();
  if (pid < 0) {
    int e = errno;
    ::close(report[0]);
    ::close(report[1]);
    errno = e;
    return -1;
  }
  if (pid == 0) {
    ::setsid();
    int tty = ::open(slave_path, O_RDWR);
    if (tty >= 0) {
      ::ioctl(tty, TIOCSCTTY, 0);
      ::dup2(tty, 0);
      ::dup2(tty, 1);
      ::dup2(tty, 2);
      if (tty > 2) ::close(tty);
      ::execvpe(args[0], args.data(), envp.data());
    }
    int e = errno;
    (void)!::write(report[1], &e, sizeof e);
    ::_exit(127);
  }
  ::close(report[1]);
  int e = 0;
  long n = restarting([&] { return ::read(report[0], &e, sizeof e); });
  ::close(report[0]);
  if (n == static_cast<long>(sizeof e)) {
    ::waitpid(pid, nullptr, 0);
    errno = e;
    return -1;
  }
  return pid;
}

long real_waitpid(long pid, int* status, bool nohang) {
  int raw = 0;
  pid_t rc =
      restarting([&] { return ::waitpid(static_cast<pid_t>(pid), &raw, nohang ? WNOHANG : 0); });
  if (rc > 0 && status != nullptr) {
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  }
  return rc;
}

}  // namespace

void add_process_entries(Syscalls& s) {
  s.unix_socket = real_unix_socket;
  s.bind_unix = real_bind_unix;
  s.accept = real_accept;
  s.connect_unix = real_connect_unix;
  s.send = real_send;
  s.recv = real_recv;
  s.send_records = real_send_records;
  s.receive_records = real_receive_records;
  s.yield_processor = [] { ::sched_yield(); };
  s.connect_unix_waiting = real_connect_unix_waiting;
  s.epoll_create = real_epoll_create;
  s.epoll_ctl = real_epoll_ctl;
  s.epoll_wait = real_epoll_wait;
  s.start_thread = real_start_thread;
  s.peer_credentials = real_peer_credentials;
  s.socket_kind = real_socket_kind;
  s.try_lock = real_try_lock;
  s.lock = real_lock;
  s.socket_listening = real_socket_listening;
  s.set_cloexec = real_set_cloexec;
  s.chmod = real_chmod;
  s.getcwd = real_getcwd;
  s.hold_sigpipe = real_hold_sigpipe;
  s.release_sigpipe = real_release_sigpipe;
  s.monotonic_ns = real_monotonic_ns;
  s.realtime_ns = real_realtime_ns;
  s.process_time_ns = real_process_time_ns;
  s.local_offset_s = real_local_offset_s;
  s.sleep_until_ns = real_sleep_until_ns;
  s.spawn = real_spawn;
  s.pidfd_open = real_pidfd_open;
  s.wait_exit = real_wait_exit;
  s.kill_child = real_kill_child;
  s.socketpair = real_socketpair;
  s.fgetxattr = real_fgetxattr;
  s.fsetxattr = real_fsetxattr;
  s.fchmod = real_fchmod;
  s.poll = real_poll;
  s.tcsetattr = real_tcsetattr;
  s.openpty = real_openpty;
  s.spawn_on_terminal = real_spawn_on_terminal;
  s.waitpid = real_waitpid;
}

}  // namespace zeb::platform::real
