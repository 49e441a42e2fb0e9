// Scratch files and file sizing (see scratch.h).
#include "platform/volumes/scratch.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

// Both sizing procedures measure the file against the file-size limit first:
// extending beyond it would raise SIGXFSZ, which ends the process; here it is
// EFBIG (error 45) instead.
bool beyond_size_limit(int fd, long long size) {
  long long limit = syscalls().file_size_limit();
  if (limit < 0 || size <= limit) return false;
  FileStatus st;
  return syscalls().fstat(fd, &st) != 0 || st.size < size;
}

}  // namespace

int extend_file(int fd, long long size) {
  if (beyond_size_limit(fd, size)) {
    errno = EFBIG;
    return -1;
  }
  FileStatus st;
  if (syscalls().fstat(fd, &st) != 0) return -1;
  return st.size < size ? syscalls().ftruncate(fd, size) : 0;
}

int reserve_file(int fd, long long size) {
  if (beyond_size_limit(fd, size)) {
    errno = EFBIG;
    return -1;
  }
  if (syscalls().fallocate(fd, 0, size) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != EINVAL) return -1;
  return extend_file(fd, size);
}

std::string file_size_limit_text(long long size) {
  long long limit = syscalls().file_size_limit();
  if (limit < 0 || size <= limit) return "";
  return ", beyond the file-size limit of " + std::to_string(limit) + " bytes";
}

namespace {

// Errors after which a temporary file is tried in the next directory: the
// user may not create files there.
bool refused_here(int e) { return e == EACCES || e == EPERM || e == EROFS; }

// Marks a private directory that was not the one this process made.
constexpr int kNotOurs = -2;

// The fallback for file systems without O_TMPFILE. The file is made inside a
// private directory (mode 0700, made for the purpose), opened through that
// directory's descriptor and unlinked through it, so no other user can
// rename, link or keep it: the directory admits nobody else. Before the file
// is made the directory is checked to be ours (owner, mode), and before it is
// removed by name the name is checked to be still ours (inode), since in a
// world-writable parent without the sticky bit another user may rename it.
// Returns the descriptor, or -1 with errno set, or kNotOurs.
int create_in_private_directory(const std::string& dir, int dsync_flag) {
  const Syscalls& sys = syscalls();
  static int counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = dir + "/.zeb-" + std::to_string(sys.getpid()) + "-" +
                       std::to_string(++counter) + "-" +
                       std::to_string(static_cast<uint64_t>(sys.monotonic_ns()) % 1000000007);
    if (sys.mkdir(path.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return -1;
    }
    int dirfd = sys.open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    if (dirfd < 0) return kNotOurs;
    FileStatus made;
    if (sys.fstat(dirfd, &made) != 0 || !made.is_directory() ||
        made.uid != static_cast<uint32_t>(sys.geteuid()) || (made.mode & 07777) != 0700) {
      // Only looked at: the close has nothing to lose.
      sys.close(dirfd);
      return kNotOurs;
    }
    int fd =
        sys.openat(dirfd, "scratch", O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | dsync_flag, 0600);
    int e = errno;
    // The file is used through its descriptor alone; should its name
    // stay, it and its directory are left behind, harmless.
    if (fd >= 0) sys.unlinkat(dirfd, "scratch", 0);
    FileStatus named;
    bool still_ours = sys.lstat(path.c_str(), &named) == 0 && named.device == made.device &&
                      named.inode == made.inode;
    // A directory that is not ours is left alone, one that cannot be
    // removed is left behind; the directory's descriptor was only looked
    // at, so its close has nothing to lose.
    if (still_ours) sys.rmdir(path.c_str());
    sys.close(dirfd);
    if (fd < 0) {
      errno = e;
      return -1;
    }
    if (!still_ours) {
      // Not ours: the descriptor is given up unused.
      sys.close(fd);
      return kNotOurs;
    }
    return fd;
  }
  errno = EEXIST;
  return -1;
}

// A nameless file in dir: O_TMPFILE, or the private-directory fallback.
// dsync_flag is O_DSYNC or 0.
int create_nameless(const std::string& dir, int dsync_flag) {
  int fd = syscalls().open(dir.c_str(), O_TMPFILE | O_RDWR | dsync_flag, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    fd = create_in_private_directory(dir, dsync_flag);
  }
  return fd;
}

}  // namespace

// The directories where a temporary file of volume v may go, in order. A
// swap file (swap) goes in the temporary directory itself when that is on
// the volume. Any other goes in the volume's root, else in the first of the
// temporary directory, the home directory and the current directory that is
// on the root's file system (same device) and where the user may create it.
std::vector<std::string> temporary_directories(const Volume& v, bool swap) {
  std::string tmp = temp_directory();
  if (swap && volume_holds(v, tmp)) return {tmp};
  std::vector<std::string> dirs = {v.root};
  FileStatus root;
  if (syscalls().stat(v.root.c_str(), &root) != 0) return dirs;
  std::vector<std::string> others = {tmp};
  if (const auto& home = host().config().home; home && !home->empty() && (*home)[0] == '/') {
    others.push_back(*home);
  }
  std::string cwd;
  if (syscalls().realpath(".", &cwd) == 0) others.push_back(cwd);
  for (const std::string& dir : others) {
    FileStatus st;
    if (std::find(dirs.begin(), dirs.end(), dir) != dirs.end()) continue;
    if (syscalls().stat(dir.c_str(), &st) == 0 && st.is_directory() && st.device == root.device) {
      dirs.push_back(dir);
    }
  }
  return dirs;
}

Result<ScratchFile> create_scratch(const Volume& v, bool swap) {
  ScratchFile file;
  if (v.simulated) {
    file.fd = syscalls().memfd_create("zeb-sim");
    if (file.fd < 0) return Status::from_errno(errno, "memfd_create");
    return file;
  }
  int16_t first_error = 0;
  std::string first_dir;
  for (const std::string& dir : temporary_directories(v, swap)) {
    // A swap file is not O_DSYNC: its contents never outlive the process,
    // and on ext4 reserving the blocks of an O_DSYNC file waits for a
    // journal commit.
    file.fd = create_nameless(dir, swap ? 0 : O_DSYNC);
    if (file.fd >= 0) {
      file.directory = dir;
      return file;
    }
    // Another user's hand in the private directory is this volume's error.
    int16_t error = file.fd == kNotOurs ? err::kSecurityViolation : error_from_errno(errno);
    bool refused = file.fd != kNotOurs && refused_here(errno);
    // The first refusal is the volume's error, unless something other than
    // a refusal ends the search.
    if (first_error == 0 || !refused) {
      first_error = error;
      first_dir = dir;
    }
    if (!refused) break;
  }
  return Status::error(first_error, "cannot create a temporary file in " + first_dir);
}

}  // namespace zeb::platform
