// Who talks to $RECEIVE: this process's name, process handles, the private
// channel from a library parent, and the per-user directory where named
// processes listen. Internal to the platform.
#pragma once

#include <cstdint>
#include <string>

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

// The per-user directory of named processes' sockets: ZEB_SOCKET_DIR, else
// /tmp/zeb-UID.
std::string socket_directory();

// The longest name a file of the socket directory has, "/" included: a
// lock file "/.NAME.lock" of a five-letter name.
constexpr size_t kLongestSocketName = 12;

// Reads a directory for socket_directory(): creates it (mode 0700) when
// missing and checks it is a directory of this user with mode 0700. Returns
// 0; 13, before anything is made, for a relative directory or one too long
// for its sockets; 48 when it is not safe; or the error. A refusal leaves a
// note naming the directory (failure_note()).
int16_t check_socket_directory(const std::string& dir, bool create);

// Defined by the process room (processes/), which numbers the processors:
// the cpu-and-pin word of a host process id.
int16_t cpupin_of(long pid);

}  // namespace zeb::platform
