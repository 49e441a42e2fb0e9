// Lines to standard error and standard output that get out whatever the
// process's descriptors (see diagnostics.h).
#include "platform/host/diagnostics.h"

#include <errno.h>

#include <cstring>
#include <string>

#include "platform/host/syscalls.h"

namespace zeb::platform {

long write_all(int fd, const void* buffer, size_t count) {
  const char* p = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < count) {
    long n = syscalls().write(fd, p + done, count - done);
    if (n < 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(count);
}

bool may_raise_sigpipe(int fd) {
  FileStatus status;
  if (syscalls().fstat(fd, &status) != 0) return true;
  const uint32_t type = status.mode & 0170000u;
  return type == 0010000u || type == 0140000u;  // FIFO or socket
}

// The write goes through the seam's write entry between holding and
// releasing SIGPIPE, so a test that makes the write fail drives this path.
long write_all_no_sigpipe(int fd, const void* buffer, size_t count) {
  Syscalls::SigpipeHold hold;
  syscalls().hold_sigpipe(&hold);
  const long result = write_all(fd, buffer, count);
  syscalls().release_sigpipe(hold, result < 0 && errno == EPIPE);
  return result;
}

void write_error_line(std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  int saved = errno;
  write_all_no_sigpipe(2, line.data(), line.size());
  errno = saved;
}

int write_standard_output(std::string_view text) {
  const int saved = errno;
  const long written = write_all_no_sigpipe(1, text.data(), text.size());
  const int e = written < 0 ? errno : 0;
  errno = saved;
  return e;
}

std::string program_name() {
  const char* name = program_invocation_short_name;
  return name != nullptr && *name != '\0' ? name : "zeb";
}

}  // namespace zeb::platform
