// $RECEIVE: the process's message queue, fed by the private channel from a
// library parent, by the connections of other processes to a named
// process's socket, and by the conversation the platform plays for a
// program started from a shell. One message is read and answered at a time.
//
// The queue belongs to the host (host().state). The file table opens and
// closes it under a file number; the typed calls below serve the reads,
// waits and replies, and the procedures of receive.h are adapters over them
// that also keep the file's last error. Internal to the platform.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"
#include "platform/ipc/messages.h"

namespace zeb::platform {

// The reserved name of the queue, as FILE_OPEN_ upper-cases it.
inline constexpr std::string_view kReceiveName = "$RECEIVE";

// Called by FILE_OPEN_ and FILE_CLOSE_ for "$RECEIVE" under file number
// filenum. Returns 0 or the error of the open (12 when it is already open).
Status receive_open(int16_t filenum, int16_t nowait_depth);
void receive_close(int16_t filenum);
// Removes a named process's socket as the process ends (STOP, ABEND).
// Touches nothing that the exit may already have destroyed: only the
// socket's path, and only when the host in force has a queue.
void receive_at_exit();

// True when the queue is open under file number filenum; the file number
// of the open queue, or -1.
bool receive_holds(int16_t filenum);
int16_t receive_filenum();

// A message handed to a read.
struct Delivery {
  bool pending = false;  // a nowait read was started; AWAITIO completes it
  bool system = false;   // a system message (the procedures report 6)
  int16_t count = 0;     // bytes stored in the read's buffer
};

// Starts a read of the next message into buffer. A waited queue waits for
// the message; a nowait queue returns at once with pending set. Errors: 2
// when a message awaits its reply, 28 when a read is outstanding, or the
// error that ended the wait (201 when the parent went away in the middle
// of its conversation).
Result<Delivery> receive_read(std::span<char> buffer);

// Completes the outstanding read of a nowait queue, waiting up to limit
// hundredths of a second (-1: no limit). Errors: 26 when no read is
// outstanding; 40 when the time ran out (a limit of 0 only looks and leaves
// the read outstanding, any other cancels it); or the error that ended the
// wait. The buffer of the read: receive_buffer().
Result<Delivery> receive_await(int32_t limit);
void* receive_buffer();

// Answers the message last read with data (cut to the reply length its
// sender accepts) and error. Returns the bytes sent; 2 when no message
// awaits a reply; 201 when the sender is gone.
Result<int16_t> receive_reply(std::span<const char> data, int16_t error);

// The receive information of the message last read (layout in receive.h);
// 2 when no message has been read.
Result<std::array<int16_t, 17>> receive_info();

// The errors the process replied to the shell-started conversation, in
// order (what a parent would have received).
std::vector<int16_t>& shell_replies();

// One message of the conversation a shell-started program receives.
struct ShellMessage {
  bool system = false;
  Message bytes;
};

// Defined by the process room (processes/shellstart.cpp), which knows the
// command line, the volumes and the ZEB_ variables: the conversation the
// platform plays for a program started from a shell: "open", the start-up
// message, the ASSIGNs, the PARAMs and "close". Bad variables are reported
// on standard error and left out. 21 when the command line is too long for
// a start-up message (nothing is built then).
Result<std::vector<ShellMessage>> shell_conversation();

}  // namespace zeb::platform
