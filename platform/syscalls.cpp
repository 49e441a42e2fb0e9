// The system-call table (see syscalls.h).
#include "platform/syscalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zeb::platform {
namespace {

// Interrupted calls are restarted here, so no caller sees EINTR.
int real_open(const char* path, int flags, unsigned mode) {
  int fd;
  do {
    fd = ::open(path, flags, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int real_close(int fd) { return ::close(fd); }

long real_pread(int fd, void* buf, size_t count, long long offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buf, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

long real_pwrite(int fd, const void* buf, size_t count, long long offset) {
  ssize_t n;
  do {
    n = ::pwrite(fd, buf, count, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

long real_write(int fd, const void* buf, size_t count) {
  ssize_t n;
  do {
    n = ::write(fd, buf, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

int real_fstat_size(int fd, long long* size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  *size = st.st_size;
  return 0;
}

int real_ftruncate(int fd, long long length) { return ::ftruncate(fd, static_cast<off_t>(length)); }

int real_fsync(int fd) { return ::fsync(fd); }

const Syscalls kReal = {real_open,  real_close,      real_pread,     real_pwrite,
                        real_write, real_fstat_size, real_ftruncate, real_fsync};

Syscalls g_live = kReal;

}  // namespace

Syscalls& syscalls() { return g_live; }
const Syscalls& real_syscalls() { return kReal; }
void reset_syscalls() { g_live = kReal; }

}  // namespace zeb::platform
