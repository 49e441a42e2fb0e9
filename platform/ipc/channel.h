// Who talks to $RECEIVE: this process's name, process handles, the private
// channel from a library parent, and the per-user directory where named
// processes listen. Internal to the platform.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/status.h"

namespace zeb::platform {

struct Configuration;

// This process's name ("$" and up to five letters or digits) from
// ZEB_PROCESS_NAME, or empty for an unnamed process.
std::string process_name();

// The process name a ZEB_PROCESS_NAME value gives ("$" added when missing,
// upper case), or empty when it is not "$", a letter and up to four more
// letters or digits.
std::string process_name_from(std::string value);

// Process handles (layout in receive.h): the handle of a host process, and
// the null handle (all -1).
void process_handle_of(long pid, int16_t* handle);
void null_handle(int16_t* handle);

// The mother's handle: the process at the other end of the private channel
// when there is one, else the parent process (for a shell-started program,
// the shell). Fixed at its first use.
void mother_handle(int16_t* handle);

// The private channel from a library parent, adopted from ZEB_RECEIVE_FD
// at its first use; -1 when there is none.
int private_channel();
// True when ZEB_RECEIVE_FD names a descriptor of the parent that cannot
// carry the conversation (a listening socket; the channel of a parent
// killed before this process adopted it): the start-up is then over with
// 201, as when the parent hangs up.
bool parent_channel_broken();
// Forgets the private channel after its far end hung up.
void drop_private_channel();

// The per-user directory of named processes' sockets: ZEB_SOCKET_DIR when
// set; else "zeb" in the user's private run-time directory (XDG_RUNTIME_DIR,
// else /run/user/EUID) when that is a directory of this user that nobody
// else may enter; else /tmp/zeb-EUID.
std::string socket_directory();

// The longest name a file of the socket directory has, "/" included: a
// lock file "/.NAME.lock" of a five-letter name.
constexpr size_t kLongestSocketName = 12;

// The socket directory, checked once and then used only through its
// descriptor, so that nothing done to its path afterwards (a link flipped,
// a directory renamed) moves a socket or a lock file elsewhere.
struct SocketDirectory {
  int fd = -1;       // the directory (O_PATH); -1 when not open
  std::string path;  // as it was named, for notes
  // Set with a refusal when the directory, or what stands in its place, is
  // another user's: none of this user's processes can listen there.
  bool foreign = false;

  SocketDirectory() = default;
  ~SocketDirectory() { close(); }
  SocketDirectory(const SocketDirectory&) = delete;
  SocketDirectory& operator=(const SocketDirectory&) = delete;
  void close();
  // The path of the file name in this directory through the descriptor
  // (/proc/self/fd/N/name): binding or connecting a socket by it reaches
  // this directory whatever its path names by then.
  std::string file(const std::string& name) const;
};

// Opens the socket directory dir. The path is walked a component at a time
// without following links by the kernel: a link that root or this user owns
// is followed (its text read once, from the link that was looked at), one
// that another user owns is refused, and the directory itself must not be
// a link. With create the directory is made (mode 0700) when missing. It
// must then be a directory of this user with mode exactly 0700. Returns 0
// with *out open; 13, before anything is made, for a relative directory or
// one too long for its sockets; 11 when it is missing (and not to be made);
// 48 when it is not safe (the note names it, its owner, and, when the owner
// is another user, how to choose another directory; out->foreign is set
// then); or the error.
Status open_socket_directory(const std::string& dir, bool create, SocketDirectory* out);

// open_socket_directory, the directory closed again: only its answer.
Status check_socket_directory(const std::string& dir, bool create);

// The start time of a process (clock ticks since boot); 0 when unknown.
uint64_t process_start_time(long pid);

// Defined by the process room (processes/): whether another living process
// of this user (its effective user) carries the process name ("$NAME") in
// its environment; with older_only, only one that started before this
// process (at the same tick: with a lower pid) and is not one of its
// ancestors (which may only have passed the name on to it).
bool name_carried_elsewhere(const std::string& name, bool older_only);

// Defined by the process room (processes/), which numbers the processors:
// the cpu-and-pin word of a host process id.
int16_t cpupin_of(long pid);

}  // namespace zeb::platform
