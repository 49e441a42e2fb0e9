// Host files by path (host_file.h).
#include "platform/files/host_file.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "platform/host/syscalls.h"

namespace zeb::platform {

Status replace_host_file(const std::string& path, std::string_view text, unsigned mode) {
  if (path.empty() || path.back() == '/') return Status::error(error_from_errno(EISDIR), path);
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + "." +
                           std::to_string(syscalls().getpid()) + ".tmp";
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = syscalls().open(temp.c_str(), flags, mode);
  if (fd < 0 && errno == EEXIST) {
    // Left by an earlier process of the same number that was killed midway.
    if (syscalls().unlink(temp.c_str()) == 0) fd = syscalls().open(temp.c_str(), flags, mode);
  }
  if (fd < 0) return Status::error(last_error(), "create " + temp);
  auto fail = [&](const std::string& what) {
    Status status = Status::error(last_error(), what);
    syscalls().close(fd);
    // The temporary is ours and unfinished; its removal cannot fail in a way
    // that matters more than the error being reported.
    syscalls().unlink(temp.c_str());
    return status;
  };
  if (syscalls().fchmod(fd, mode) != 0) return fail("chmod " + temp);
  size_t done = 0;
  while (done < text.size()) {
    long n = syscalls().write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("write " + temp);
    done += static_cast<size_t>(n);
  }
  if (syscalls().fsync(fd) != 0) return fail("flush " + temp);
  if (syscalls().close(fd) != 0) {
    Status status = Status::error(last_error(), "close " + temp);
    syscalls().unlink(temp.c_str());
    return status;
  }
  if (syscalls().rename(temp.c_str(), path.c_str()) != 0) {
    Status status = Status::error(last_error(), "rename " + temp + " to " + path);
    syscalls().unlink(temp.c_str());
    return status;
  }
  return Status();
}

int read_host_file(const std::string& path, std::string* text, bool* opened) {
  if (opened != nullptr) *opened = false;
  const int fd = syscalls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  if (opened != nullptr) *opened = true;
  text->clear();
  char buffer[65536];
  for (;;) {
    const long n = syscalls().read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      const int e = errno;
      syscalls().close(fd);  // read-only: nothing to lose
      return e;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  syscalls().close(fd);  // read-only and read whole: nothing to lose
  return 0;
}

}  // namespace zeb::platform
