// Internal interface of $RECEIVE between the platform's own source files
// (the file table, the queue, the sending side and the shell-started
// conversation). Not part of the library's public interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/processes/conversation.h"

namespace zeb::platform {

// Framing on the channels. Each message is one record of a SOCK_SEQPACKET
// socket: a 4-byte header (kind, 0, the largest reply accepted as a
// big-endian 16-bit count), then the message. Each reply is one record: the
// error number (big-endian 16 bits), then the reply data.
constexpr int kFrameHeader = 4;
constexpr char kFrameData = 1;
constexpr char kFrameSystem = 2;
constexpr int kReplyHeader = 2;
constexpr int kMaxMessage = 32767;
// The longest path of a Unix socket, its terminating NUL not counted.
constexpr size_t kMaxSocketPath = 107;

// The reserved name of the queue, as FILE_OPEN_ upper-cases it.
inline constexpr std::string_view kReceiveName = "$RECEIVE";

// Called by FILE_OPEN_ and FILE_CLOSE_ for "$RECEIVE" under file number
// filenum. Returns 0 or the error of the open (12 when it is already open).
int16_t receive_open(int16_t filenum, int16_t nowait_depth);
void receive_close(int16_t filenum);
// Removes a named process's socket as the process ends (STOP, ABEND).
void receive_at_exit();

// Defined by the file table: sets the last error of an open file number;
// false when the number is not open.
bool set_last_error(int16_t filenum, int16_t error);

// One message of the conversation a shell-started program receives.
struct ShellMessage {
  bool system = false;
  Message bytes;
};

// The conversation the platform plays for a program started from a shell:
// "open", the start-up message, the ASSIGNs, the PARAMs and "close", built
// from the command line, the standard streams and the ZEB_ variables. Bad
// variables are reported on standard error and left out. Returns 0, or 21
// when the command line is too long for a start-up message (nothing is
// built then).
int16_t shell_conversation(std::vector<ShellMessage>* messages);

// The errors the process replied to the shell-started conversation, in
// order (what a parent would have received).
std::vector<int16_t>& shell_replies();

// The command-line arguments after the program's name, from
// /proc/self/cmdline.
std::vector<std::string> command_arguments();

// Process handles (layout in receive.h).
void process_handle_of(long pid, int16_t* handle);
void null_handle(int16_t* handle);
// The mother's handle: the process at the other end of the private channel
// when there is one, else the parent process (for a shell-started program,
// the shell). Fixed at its first use.
void mother_handle(int16_t* handle);

// The private channel from a library parent, adopted from ZEB_RECEIVE_FD
// at its first use; -1 when there is none.
int private_channel();
// Forgets the private channel after its far end hung up.
void drop_private_channel();

// The cpu-and-pin word of a host process id (procinfo.cpp).
int16_t cpupin_of(long pid);

// Reads a directory for socket_directory(): creates it (mode 0700) when
// missing and checks it is a directory of this user with mode 0700. Returns
// 0, 48 when it is not safe, or the error.
int16_t check_socket_directory(const std::string& dir, bool create);

}  // namespace zeb::platform
