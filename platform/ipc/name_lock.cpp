// Process names and who holds them (see name_lock.h).
#include "platform/ipc/name_lock.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

void close_fd(int* fd) {
  // A lock file or socket that ends: close has nothing to lose.
  if (*fd >= 0) syscalls().close(*fd);
  *fd = -1;
}

std::string lock_file(const std::string& base) { return "." + base + ".lock"; }

// The socket directory's own lock (flock on the file ".sweep"): held while a
// name is decided, each time only for a few file-system calls. So a sweep,
// which must lock every name's lock file to learn whether it is free, never
// makes a process that takes another name at the same moment see its lock
// held, and no spawn checks a name while another one's child is not yet
// made.
// The descriptor of the lock, which the caller closes to give it back.
Result<int> lock_directory(const SocketDirectory& dir) {
  int fd = syscalls().openat(dir.fd, ".sweep", O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
  if (fd < 0 || syscalls().lock(fd) != 0) {
    const Status error = Status::from_errno(errno);
    close_fd(&fd);
    return error;
  }
  return fd;
}

// Removes the socket and lock file of named processes that ended without
// giving their name back (killed, say): a name whose lock nobody holds is
// free. Runs under the directory's lock, so the lock files it takes for a
// moment are nobody else's business, and a lock file it removes is one
// nobody has open to take.
void sweep_stale_names(const SocketDirectory& dir) {
  std::vector<std::string> names;
  if (syscalls().list_directory(dir.file("").c_str(), &names) != 0) return;
  for (const std::string& file : names) {
    if (file.size() < 7 || file[0] != '.' || file.compare(file.size() - 5, 5, ".lock") != 0) {
      continue;
    }
    int fd = syscalls().openat(dir.fd, file.c_str(), O_RDWR | O_NOFOLLOW, 0);
    if (fd < 0) continue;
    if (syscalls().try_lock(fd) == 0) {
      // A stale name: its socket and lock file are removed as far as
      // possible (what stays is swept again next time).
      syscalls().unlinkat(dir.fd, file.substr(1, file.size() - 6).c_str(), 0);
      syscalls().unlinkat(dir.fd, file.c_str(), 0);
    }
    syscalls().close(fd);
  }
}

// True when a process holds the lock of the name base (under the
// directory's lock).
Result<bool> lock_held(const SocketDirectory& dir, const std::string& base) {
  int fd = syscalls().openat(dir.fd, lock_file(base).c_str(), O_RDWR | O_NOFOLLOW, 0);
  if (fd < 0) {
    if (errno != ENOENT) return Status::from_errno(errno);
    return false;
  }
  const bool held = syscalls().try_lock(fd) != 0;
  const int e = errno;
  // A lock taken only to look is given back by the close.
  syscalls().close(fd);
  if (held && e != EWOULDBLOCK) return Status::from_errno(e);
  return held;
}

// The name this process holds, owned by the host: a test's host gives its
// name back when it goes.
struct NameHold {
  long pid = 0;      // the process that took it
  std::string base;  // the name without "$"
  SocketDirectory dir;
  int lock_fd = -1;     // holds the name
  bool socket = false;  // the socket file is this process's

  NameHold() = default;
  NameHold(const NameHold&) = delete;
  NameHold& operator=(const NameHold&) = delete;
  ~NameHold() { give_back(); }

  bool held() const { return lock_fd >= 0; }

  void remove_socket() {
    // The socket is this process's while it holds the name: nobody else
    // binds the name, and a sweep leaves a held name alone.
    if (socket && pid == syscalls().getpid()) syscalls().unlinkat(dir.fd, base.c_str(), 0);
    socket = false;
  }

  // Gives the name back whole. A copy of the process made by fork holds
  // the same lock and removes nothing: the name is still its parent's.
  void give_back() {
    if (!held()) return;
    if (pid == syscalls().getpid()) {
      remove_socket();
      // The lock file goes under the directory's lock, so that nobody
      // locks a file that is about to go; without it, the file stays for
      // the next sweep.
      Result<int> directory = lock_directory(dir);
      if (directory.ok()) syscalls().unlinkat(dir.fd, lock_file(base).c_str(), 0);
      close_fd(&lock_fd);
      if (directory.ok()) close_fd(&*directory);
    }
    close_fd(&lock_fd);
    dir.close();
    socket = false;
    base.clear();
  }
};

}  // namespace

Result<int> take_process_name(const std::string& name) {
  const std::string base = name.substr(1);
  NameHold& h = host().state<NameHold>();
  const long pid = syscalls().getpid();
  // A name held by the process this one was forked from, or another name
  // than the configuration's now, is not this process's to keep.
  if (h.held() && (h.pid != pid || h.base != base)) h.give_back();
  Status error;
  int directory = -1;
  if (!h.held()) {
    if (error = open_socket_directory(socket_directory(), true, &h.dir); !error.ok()) return error;
    Result<int> locked = lock_directory(h.dir);
    if (!locked.ok()) {
      h.dir.close();
      return locked.status();
    }
    directory = *locked;
    sweep_stale_names(h.dir);
    h.lock_fd =
        syscalls().openat(h.dir.fd, lock_file(base).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW, 0600);
    bool in_use = false;
    if (h.lock_fd < 0 || syscalls().try_lock(h.lock_fd) != 0) {
      in_use = h.lock_fd >= 0 && errno == EWOULDBLOCK;
      if (!in_use) error = Status::from_errno(errno);
    } else {
      // An older process of this user was started with the name and has not
      // taken it yet (a spawn's child on its way): the name is its.
      in_use = name_carried_elsewhere(name, true);
    }
    if (in_use) error = Status::error(err::kFileInUse, "the process name " + name + " is in use");
    if (!error.ok()) {
      close_fd(&h.lock_fd);
      close_fd(&directory);
      h.dir.close();
      return error;
    }
    h.pid = pid;
    h.base = base;
    // A program that returns from main gives its name back as STOP does.
    // Registered once for the process: the exit is the process's, whatever
    // host is in force.
    static const bool registered = std::atexit([] { release_name_at_exit(); }) == 0;
    (void)registered;
  }
  // A socket file left by a process that died is replaced; bind reports a
  // name that is still taken. Bound through the directory's descriptor, so
  // the socket lands in the directory that was checked.
  syscalls().unlinkat(h.dir.fd, base.c_str(), 0);
  int fd = syscalls().unix_socket(SOCK_SEQPACKET | SOCK_NONBLOCK);
  if (fd < 0 || syscalls().bind_unix(fd, h.dir.file(base).c_str()) != 0) {
    error = Status::from_errno(errno);
  } else {
    h.socket = true;
    // The queue of connections is as long as the host allows (the kernel
    // cuts the length asked for to its own limit, net.core.somaxconn):
    // openers beyond it wait in their connect.
    if (syscalls().listen(fd, INT_MAX) != 0) error = Status::from_errno(errno);
  }
  close_fd(&directory);
  if (!error.ok()) {
    close_fd(&fd);
    // The name is given back whole: nothing of it stays.
    h.give_back();
    return error;
  }
  return fd;
}

void remove_name_socket() {
  if (NameHold* h = host().find_state<NameHold>()) h->remove_socket();
}

void release_name_at_exit() {
  if (NameHold* h = host().find_state<NameHold>()) h->give_back();
}

NameReservation::~NameReservation() { close_fd(&lock_fd_); }

Status NameReservation::hold(const std::string& name) {
  if (Status opened = open_socket_directory(socket_directory(), true, &directory_); !opened.ok()) {
    return opened;
  }
  Result<int> locked = lock_directory(directory_);
  if (!locked.ok()) return locked.status();
  lock_fd_ = *locked;
  Result<bool> held = lock_held(directory_, name.substr(1));
  if (!held.ok()) return held.status();
  if (*held || process_name() == name || name_carried_elsewhere(name, false)) {
    return Status::error(err::kFileInUse, "the process name " + name + " is in use");
  }
  return Status();
}

}  // namespace zeb::platform
