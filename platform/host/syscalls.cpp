// The host's own calls behind the seam (see syscalls.h).
#include "platform/host/syscalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace zeb::platform {
namespace {

// Restarts a call while it is interrupted by a signal.
template <typename Call>
auto restarting(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

// Descriptors of the library live above the standard ones: a descriptor the
// kernel handed out as 0, 1 or 2 (because that standard descriptor was
// closed) is moved up and the low one closed again, so a later write to
// "standard output" can never reach one of the library's files.
int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int e = errno;
  ::close(fd);
  errno = e;
  return moved;
}

int real_open(const char* path, int flags, unsigned mode) {
  return above_standard(
      restarting([&] { return ::open(path, flags | O_CLOEXEC, static_cast<mode_t>(mode)); }));
}

int real_openat(int dirfd, const char* path, int flags, unsigned mode) {
  return above_standard(restarting(
      [&] { return ::openat(dirfd, path, flags | O_CLOEXEC, static_cast<mode_t>(mode)); }));
}

long real_read(int fd, void* buf, size_t count) {
  return restarting([&] { return ::read(fd, buf, count); });
}

long real_write(int fd, const void* buf, size_t count) {
  return restarting([&] { return ::write(fd, buf, count); });
}

long real_pread(int fd, void* buf, size_t count, long long offset) {
  return restarting([&] { return ::pread(fd, buf, count, static_cast<off_t>(offset)); });
}

long real_pwrite(int fd, const void* buf, size_t count, long long offset) {
  return restarting([&] { return ::pwrite(fd, buf, count, static_cast<off_t>(offset)); });
}

void fill_status(const struct stat& st, FileStatus* status) {
  status->device = st.st_dev;
  status->inode = st.st_ino;
  status->size = st.st_size;
  status->mode = st.st_mode;
  status->uid = st.st_uid;
}

int real_fstat(int fd, FileStatus* status) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  fill_status(st, status);
  return 0;
}

int real_stat(const char* path, FileStatus* status) {
  struct stat st;
  if (::stat(path, &st) != 0) return -1;
  fill_status(st, status);
  return 0;
}

int real_lstat(const char* path, FileStatus* status) {
  struct stat st;
  if (::lstat(path, &st) != 0) return -1;
  fill_status(st, status);
  return 0;
}

int real_ftruncate(int fd, long long length) {
  return restarting([&] { return ::ftruncate(fd, static_cast<off_t>(length)); });
}

int real_fsync(int fd) {
  return restarting([&] { return ::fsync(fd); });
}

// posix_fallocate returns its error instead of setting errno; the entry
// follows the table's convention.
int real_fallocate(int fd, long long offset, long long length) {
  int rc;
  do {
    rc = ::posix_fallocate(fd, static_cast<off_t>(offset), static_cast<off_t>(length));
  } while (rc == EINTR);
  if (rc == 0) return 0;
  errno = rc;
  return -1;
}

int real_dup(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

int real_memfd_create(const char* name) {
  return above_standard(::memfd_create(name, MFD_CLOEXEC));
}

void* real_mmap(void* addr, size_t length, int prot, int flags, int fd, long long offset) {
  void* p = ::mmap(addr, length, prot, flags, fd, static_cast<off_t>(offset));
  return p == MAP_FAILED ? nullptr : p;
}

int real_munmap(void* addr, size_t length) { return ::munmap(addr, length); }

int real_madvise(void* addr, size_t length, int advice) { return ::madvise(addr, length, advice); }

long long real_file_size_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return -1;
  return limit.rlim_cur > static_cast<rlim_t>(LLONG_MAX) ? -1
                                                         : static_cast<long long>(limit.rlim_cur);
}

int real_access(const char* path, int how) { return ::access(path, how); }
int real_mkdir(const char* path, unsigned mode) { return ::mkdir(path, static_cast<mode_t>(mode)); }
int real_rmdir(const char* path) { return ::rmdir(path); }
int real_unlink(const char* path) { return ::unlink(path); }
int real_unlinkat(int dirfd, const char* path, int flags) { return ::unlinkat(dirfd, path, flags); }

int real_readlink(const char* path, std::string* target) {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(path, buf, sizeof buf);
  if (n < 0) return -1;
  if (static_cast<size_t>(n) == sizeof buf) {
    errno = ENAMETOOLONG;
    return -1;
  }
  target->assign(buf, static_cast<size_t>(n));
  return 0;
}

int real_realpath(const char* path, std::string* resolved) {
  char buf[PATH_MAX];
  if (::realpath(path, buf) == nullptr) return -1;
  *resolved = buf;
  return 0;
}

// The directory's descriptor, like every other, stays above the standard
// ones. The real entries call one another directly, so the real table is
// real whatever a test has put in the live one.
int real_list_directory(const char* path, std::vector<std::string>* names) {
  int fd = real_open(path, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return -1;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  names->clear();
  errno = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
  }
  int e = errno;
  ::closedir(dir);
  errno = e;
  return e == 0 ? 0 : -1;
}

// Files of /proc and /sys are read whole with read(2): their size is not
// known beforehand (fstat says 0). Reads stop at 16 MiB; no file the
// platform reads comes near that.
int real_read_file(const char* path, std::string* text) {
  int fd = real_open(path, O_RDONLY, 0);
  if (fd < 0) return -1;
  text->clear();
  char buf[4096];
  for (;;) {
    long n = real_read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return -1;
    }
    text->append(buf, static_cast<size_t>(n));
    if (text->size() > (16u << 20)) {
      ::close(fd);
      errno = EFBIG;
      return -1;
    }
  }
  ::close(fd);
  return 0;
}

int real_kernel_release(std::string* release) {
  struct utsname u {};
  if (::uname(&u) != 0) return -1;
  *release = u.release;
  return 0;
}

long real_clock_ticks() { return ::sysconf(_SC_CLK_TCK); }
long real_getpid() { return static_cast<long>(::getpid()); }
long real_getuid() { return static_cast<long>(::getuid()); }
long real_geteuid() { return static_cast<long>(::geteuid()); }

int real_user_names(long uid, std::string* user, std::string* group) {
  std::vector<char> scratch(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  int rc = ::getpwuid_r(static_cast<uid_t>(uid), &pw, scratch.data(), scratch.size(), &found);
  if (rc != 0 || found == nullptr) {
    errno = rc != 0 ? rc : ENOENT;
    return -1;
  }
  *user = pw.pw_name != nullptr ? pw.pw_name : "";
  std::vector<char> gscratch(16384);
  struct group gr {};
  struct group* gfound = nullptr;
  if (::getgrgid_r(pw.pw_gid, &gr, gscratch.data(), gscratch.size(), &gfound) == 0 &&
      gfound != nullptr && gr.gr_name != nullptr) {
    *group = gr.gr_name;
  } else {
    *group = std::to_string(pw.pw_gid);  // a group without a name shows its number
  }
  return 0;
}

// fork and exec, with a close-on-exec pipe on which a child that cannot run
// the program reports errno before it ends. The child calls only
// async-signal-safe functions.
long real_spawn(const char* path, char* const* argv, char* const* envp, int inherit_fd,
                int nice_increment) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return -1;
  report[0] = above_standard(report[0]);
  report[1] = above_standard(report[1]);
  if (report[0] < 0 || report[1] < 0) {
    int e = errno;
    if (report[0] >= 0) ::close(report[0]);
    if (report[1] >= 0) ::close(report[1]);
    errno = e;
    return -1;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    if (inherit_fd >= 0) {
      ::close_range(3, static_cast<unsigned>(inherit_fd) - 1, CLOSE_RANGE_CLOEXEC);
      ::close_range(static_cast<unsigned>(inherit_fd) + 1, ~0u, CLOSE_RANGE_CLOEXEC);
      ::fcntl(inherit_fd, F_SETFD, 0);
    } else {
      ::close_range(3, ~0u, CLOSE_RANGE_CLOEXEC);
    }
    if (nice_increment != 0) {
      errno = 0;
      int nice = ::getpriority(PRIO_PROCESS, 0);
      if (errno == 0) ::setpriority(PRIO_PROCESS, 0, nice + nice_increment);
    }
    ::execve(path, argv, envp);
    int e = errno;
    ssize_t ignored = ::write(report[1], &e, sizeof e);
    (void)ignored;
    ::_exit(127);
  }
  int fork_errno = errno;
  ::close(report[1]);
  if (pid < 0) {
    ::close(report[0]);
    errno = fork_errno;
    return -1;
  }
  int child_errno = 0;
  long n = restarting([&] { return ::read(report[0], &child_errno, sizeof child_errno); });
  ::close(report[0]);
  if (n == static_cast<long>(sizeof child_errno)) {
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

int real_tcsetattr(int fd, int actions, const struct termios* settings) {
  return restarting([&] { return ::tcsetattr(fd, actions, settings); });
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

Syscalls make_real() {
  Syscalls s;
  s.open = real_open;
  s.openat = real_openat;
  s.close = [](int fd) { return ::close(fd); };
  s.read = real_read;
  s.write = real_write;
  s.pread = real_pread;
  s.pwrite = real_pwrite;
  s.fstat = real_fstat;
  s.ftruncate = real_ftruncate;
  s.fsync = real_fsync;
  s.fallocate = real_fallocate;
  s.dup = real_dup;
  s.memfd_create = real_memfd_create;
  s.mmap = real_mmap;
  s.munmap = real_munmap;
  s.madvise = real_madvise;
  s.file_size_limit = real_file_size_limit;
  s.stat = real_stat;
  s.lstat = real_lstat;
  s.access = real_access;
  s.mkdir = real_mkdir;
  s.rmdir = real_rmdir;
  s.unlink = real_unlink;
  s.unlinkat = real_unlinkat;
  s.rename = [](const char* from, const char* to) { return ::rename(from, to); };
  s.readlink = real_readlink;
  s.realpath = real_realpath;
  s.list_directory = real_list_directory;
  s.read_file = real_read_file;
  s.kernel_release = real_kernel_release;
  s.clock_ticks = real_clock_ticks;
  s.getpid = real_getpid;
  s.getuid = real_getuid;
  s.geteuid = real_geteuid;
  s.user_names = real_user_names;
  s.unix_socket = real_unix_socket;
  s.bind_unix = real_bind_unix;
  s.listen = [](int fd, int backlog) { return ::listen(fd, backlog); };
  s.accept = real_accept;
  s.connect_unix = real_connect_unix;
  s.send = real_send;
  s.recv = real_recv;
  s.peer_credentials = real_peer_credentials;
  s.socket_kind = real_socket_kind;
  s.try_lock = real_try_lock;
  s.set_cloexec = real_set_cloexec;
  s.chmod = real_chmod;
  s.getcwd = real_getcwd;
  s.getppid = [] { return static_cast<long>(::getppid()); };
  s.hold_sigpipe = real_hold_sigpipe;
  s.release_sigpipe = real_release_sigpipe;
  s.environment = [] {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) entries.emplace_back(*e);
    return entries;
  };
  s.monotonic_ns = real_monotonic_ns;
  s.realtime_ns = real_realtime_ns;
  s.process_time_ns = real_process_time_ns;
  s.local_offset_s = real_local_offset_s;
  s.sleep_until_ns = real_sleep_until_ns;
  s.spawn = real_spawn;
  s.pidfd_open = real_pidfd_open;
  s.wait_exit = real_wait_exit;
  s.socketpair = real_socketpair;
  s.fgetxattr = real_fgetxattr;
  s.fsetxattr = real_fsetxattr;
  s.fchmod = real_fchmod;
  s.poll = real_poll;
  s.tcgetattr = [](int fd, struct termios* settings) { return ::tcgetattr(fd, settings); };
  s.tcsetattr = real_tcsetattr;
  s.openpty = real_openpty;
  s.spawn_on_terminal = real_spawn_on_terminal;
  s.waitpid = real_waitpid;
  return s;
}

}  // namespace

const Syscalls& real_syscalls() {
  static const Syscalls real = make_real();
  return real;
}

Syscalls& syscalls() {
  static Syscalls live = real_syscalls();
  return live;
}

void reset_syscalls() { syscalls() = real_syscalls(); }

void serve_file(const std::string& path, std::function<int(std::string*)> reader) {
  auto next = syscalls().read_file;
  syscalls().read_file = [path, reader = std::move(reader), next](const char* p,
                                                                  std::string* text) {
    return path == p ? reader(text) : next(p, text);
  };
}

void serve_file(const std::string& path, std::string text) {
  serve_file(path, [text = std::move(text)](std::string* out) {
    *out = text;
    return 0;
  });
}

int16_t last_error() { return error_from_errno(errno); }

}  // namespace zeb::platform
