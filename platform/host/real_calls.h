// The host's own calls, shared by the two files that build the seam's table
// (syscalls.cpp: files, directories, memory, identity; syscalls_processes.cpp:
// processes, sockets, signals, clocks and terminals). Internal to the host
// room: nothing else includes it.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/host/syscalls.h"

namespace zeb::platform::real {

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
inline int above_standard(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int e = errno;
  ::close(fd);
  errno = e;
  return moved;
}

// Sets the table's entries for processes, sockets, signals, clocks and
// terminals (syscalls_processes.cpp).
void add_process_entries(Syscalls& s);

}  // namespace zeb::platform::real
