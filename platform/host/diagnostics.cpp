// Lines to standard error and the note of what the platform failed to use
// (see diagnostics.h).
#include "platform/host/diagnostics.h"

#include <errno.h>
#include <signal.h>
#include <time.h>

#include <cstring>
#include <string>

#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

std::string& note() {
  static std::string text;
  return text;
}

}  // namespace

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

// SIGPIPE is thread-directed when a write raises it, so blocking it in this
// thread for the length of the write keeps it from ending the process
// whatever its disposition. The signal then stays pending; it is consumed
// with a zero-timeout sigtimedwait unless one was already pending before the
// write (the program's own, which stays for the program to see).
long write_all_no_sigpipe(int fd, const void* buffer, size_t count) {
  sigset_t pipe_only, old;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_only, &old);
  bool was_blocked = sigismember(&old, SIGPIPE) == 1;
  bool pending_before = false;
  if (was_blocked) {
    // Only a blocked SIGPIPE can be pending now.
    sigset_t pending;
    sigpending(&pending);
    pending_before = sigismember(&pending, SIGPIPE) == 1;
  }
  const long result = write_all(fd, buffer, count);
  if (result < 0 && errno == EPIPE && !pending_before) {
    int saved = errno;
    struct timespec zero = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &zero) < 0 && errno == EINTR) {
    }
    errno = saved;
  }
  if (!was_blocked) {
    int saved = errno;
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
  }
  return result;
}

void write_error_line(std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  int saved = errno;
  write_all_no_sigpipe(2, line.data(), line.size());
  errno = saved;
}

const std::string& failure_note() { return note(); }
void clear_failure_note() { note().clear(); }
void note_failure(std::string text) { note() = std::move(text); }

std::string program_name() {
  const char* name = program_invocation_short_name;
  return name != nullptr && *name != '\0' ? name : "zeb";
}

}  // namespace zeb::platform
