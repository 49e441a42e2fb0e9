// The host's own calls behind the seam (see syscalls.h).
#include "platform/host/syscalls.h"

#include "platform/host/real_calls.h"

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

using real::above_standard;
using real::restarting;

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

int real_readlinkat(int dirfd, const char* path, std::string* target) {
  char buf[PATH_MAX];
  ssize_t n = ::readlinkat(dirfd, path, buf, sizeof buf);
  if (n < 0) return -1;
  if (static_cast<size_t>(n) == sizeof buf) {
    errno = ENAMETOOLONG;
    return -1;
  }
  target->assign(buf, static_cast<size_t>(n));
  return 0;
}

int real_readlink(const char* path, std::string* target) {
  return real_readlinkat(AT_FDCWD, path, target);
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
int real_read_system_file(const char* path, std::string* text) {
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

Syscalls make_real() {
  Syscalls s;
  real::add_process_entries(s);
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
  s.link_open_file = [](int fd, const char* path) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW);
  };
  s.readlink = real_readlink;
  s.readlinkat = real_readlinkat;
  s.realpath = real_realpath;
  s.list_directory = real_list_directory;
  s.read_system_file = real_read_system_file;
  s.kernel_release = real_kernel_release;
  s.clock_ticks = real_clock_ticks;
  s.getpid = real_getpid;
  s.getuid = real_getuid;
  s.geteuid = real_geteuid;
  s.user_names = real_user_names;
  s.listen = [](int fd, int backlog) { return ::listen(fd, backlog); };
  s.getppid = [] { return static_cast<long>(::getppid()); };
  s.exit_process = [](int status) {
    // A stream that will not flush cannot be helped: the process is ending.
    std::fflush(nullptr);
    std::_Exit(status);
  };
  s.environment = [] {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) entries.emplace_back(*e);
    return entries;
  };
  s.tcgetattr = [](int fd, struct termios* settings) { return ::tcgetattr(fd, settings); };
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
  auto next = syscalls().read_system_file;
  syscalls().read_system_file = [path, reader = std::move(reader), next](const char* p,
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

}  // namespace zeb::platform
