// Process names and who holds them. A name is held through its lock file
// ".NAME.lock" in the socket directory (flock), from the moment a process
// takes it (its first open of $RECEIVE) until the process ends; the socket
// NAME beside it is there while the process's $RECEIVE is open. The
// directory's own lock (".sweep") orders everything that decides who gets a
// name: a process taking its name, a spawn checking that its child's name
// is free, and the sweep of the names of processes that were killed.
// Internal to the platform.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/status.h"
#include "platform/ipc/channel.h"

namespace zeb::platform {

// Takes the process name ("$NAME") for this process, when it does not hold
// it already, and listens on its socket: the result is the listening socket
// (non-blocking), which the caller closes. The name is in use (12) when
// another process holds its lock, or when an older living process of this
// user carries the name (it was started with it first and has not taken it
// yet). Errors: 12, the socket directory's (13, 48), or the error; the note
// says what was in the way.
Result<int> take_process_name(const std::string& name);

// The caller closed the listening socket: its file goes; the name stays
// held.
void remove_name_socket();

// The process ends (STOP, ABEND): the socket and the lock file go. Only the
// process that took the name removes them (not a copy of it made by fork).
void release_name_at_exit();

// A spawn's hold on the name of the child it is about to make: from the
// check that the name is free until the reservation goes (after the child
// runs, its environment carrying the name), every other spawn and every
// process taking a name in the same directory waits. So of spawns racing
// for one name exactly one makes its child.
class NameReservation {
 public:
  NameReservation() = default;
  ~NameReservation();
  NameReservation(const NameReservation&) = delete;
  NameReservation& operator=(const NameReservation&) = delete;
  // Checks the name ("$NAME") and holds the directory's lock: success when
  // it is free; 12 when a process holds it or a living process of this user
  // carries it (this one included); the socket directory's errors (13, 48);
  // or the error. The note says what was in the way.
  Status hold(const std::string& name);

 private:
  SocketDirectory directory_;
  int lock_fd_ = -1;
};

}  // namespace zeb::platform
