// Host files replaced whole (host_file.h).
#include "platform/files/host_file.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

constexpr int kAttempts = 100;

// The directory of path, for opening ("." for a bare name, "/" for a name
// in the root).
std::string directory_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The new file while it is written: its descriptor and, once it has one,
// its name. Whatever is left of it when a step fails goes with the object.
class NewFile {
 public:
  explicit NewFile(std::string label) : label_(std::move(label)) {}
  ~NewFile() {
    // Clean-up after a failure that is reported: a close or removal that
    // fails here matters less than that failure, and a name left behind is
    // never taken for the file.
    if (fd_ >= 0) syscalls().close(fd_);
    if (!name_.empty()) syscalls().unlink(name_.c_str());
  }
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  int fd() const { return fd_; }
  void set_fd(int fd) { fd_ = fd; }
  bool named() const { return !name_.empty(); }
  const std::string& name() const { return name_; }
  void set_name(std::string name) { name_ = std::move(name); }
  // The words for it in a status: its name, or what it is while it has none.
  const std::string& label() const { return named() ? name_ : label_; }
  // The status of a failed step on it, from the errno of that step.
  Status failed(const std::string& step) const { return Status::from_errno(errno, step + label()); }
  // Closes the descriptor, reporting its failure; the file stays named.
  Status close() {
    const int fd = fd_;
    fd_ = -1;
    return syscalls().close(fd) == 0 ? Status() : failed("close ");
  }
  // The file has taken path's place: nothing is left to remove.
  void keep() { name_.clear(); }

 private:
  int fd_ = -1;
  std::string name_;
  std::string label_;
};

// Makes the new file under a free name.
Status create_named(NewFile& file, const Replacement& how) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = how.temp_name(attempt);
    const int fd = syscalls().open(
        name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, how.create_mode);
    if (fd >= 0) {
      file.set_fd(fd);
      file.set_name(std::move(name));
      return Status();
    }
    if (errno != EEXIST) return Status::from_errno(errno, "create " + name);
    // Left by an earlier process of this number that was killed midway; a
    // name that will not go is reported as taken by the attempt after.
    if (how.remove_stale) syscalls().unlink(name.c_str());
  }
  return Status::from_errno(EEXIST, "create " + how.temp_name(kAttempts - 1));
}

// Gives the unnamed new file a free name.
Status name_unnamed(NewFile& file, const Replacement& how) {
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = how.temp_name(attempt);
    if (syscalls().link_open_file(file.fd(), name.c_str()) == 0) {
      file.set_name(std::move(name));
      return Status();
    }
    if (errno != EEXIST) return file.failed("name ");
  }
  return Status::from_errno(EEXIST, "name " + file.label());
}

// Flushes the directory fd (opened read-only) so that the rename made in it
// is on disk, and closes it.
Status flush_directory(int fd, const std::string& dir) {
  Status status;
  // A file system that cannot flush a directory at all (EINVAL, as some
  // network and FUSE file systems answer) makes the rename as durable as it
  // can: that is no failure. Any other error is one.
  if (syscalls().fsync(fd) != 0 && errno != EINVAL && errno != EOPNOTSUPP) {
    status = Status::from_errno(errno, "flush the directory " + dir);
  }
  // The directory was only read: its close has nothing to lose.
  syscalls().close(fd);
  return status;
}

}  // namespace

Status replace_host_file(const std::string& path, std::string_view text, const Replacement& how) {
  if (path.empty() || path.back() == '/') return Status::from_errno(EISDIR, path);
  const std::string dir = directory_of(path);
  NewFile file("the new file of " + path);
  if (how.unnamed) {
    // Where the file system cannot make an unnamed file, it is made under
    // its name from the start.
    const int fd = syscalls().open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, how.create_mode);
    if (fd >= 0) file.set_fd(fd);
  }
  if (file.fd() < 0) {
    if (Status made = create_named(file, how); !made.ok()) return made;
  }
  if (how.exact_mode && syscalls().fchmod(file.fd(), *how.exact_mode) != 0 &&
      !how.mode_best_effort) {
    return file.failed("chmod ");
  }
  for (size_t done = 0; done < text.size();) {
    const long n = syscalls().write(file.fd(), text.data() + done, text.size() - done);
    if (n == 0) errno = ENOSPC;  // no progress on a regular file: no room
    if (n <= 0) return file.failed("write ");
    done += static_cast<size_t>(n);
  }
  if (syscalls().fsync(file.fd()) != 0) return file.failed("flush ");
  if (!file.named()) {
    if (Status named = name_unnamed(file, how); !named.ok()) return named;
  }
  if (Status closed = file.close(); !closed.ok()) return closed;
  // The directory is opened before the rename, so that a directory that
  // cannot be flushed is found while path is still as it was.
  const int dir_fd = syscalls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (dir_fd < 0) return Status::from_errno(errno, "open the directory " + dir);
  if (syscalls().rename(file.name().c_str(), path.c_str()) != 0) {
    Status status = Status::from_errno(errno, "rename " + file.name() + " to " + path);
    // Only read: its close has nothing to lose.
    syscalls().close(dir_fd);
    return status;
  }
  file.keep();
  return flush_directory(dir_fd, dir);
}

namespace {

// The temporary beside path: ".NAME.PID.tmp" in path's directory.
std::string temporary_for(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return prefix + "." + base + "." + std::to_string(syscalls().getpid()) + ".tmp";
}

}  // namespace

Status probe_host_file(const std::string& path) {
  if (path.empty() || path.back() == '/') return Status::from_errno(EISDIR, path);
  FileStatus status;
  if (syscalls().stat(path.c_str(), &status) == 0 && status.is_directory()) {
    return Status::from_errno(EISDIR, path);
  }
  NewFile file("the new file of " + path);
  Replacement how;
  const std::string temp = temporary_for(path);
  how.temp_name = [&](int) { return temp; };
  how.remove_stale = true;
  how.create_mode = 0600;
  // Empty and ours: the object closes and removes it; neither can lose
  // anything.
  return create_named(file, how);
}

Status replace_host_file(const std::string& path, std::string_view text, unsigned mode) {
  const std::string temp = temporary_for(path);
  Replacement how;
  how.temp_name = [&](int) { return temp; };
  how.remove_stale = true;
  how.create_mode = mode;
  how.exact_mode = mode;
  return replace_host_file(path, text, how);
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
