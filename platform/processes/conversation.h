// The parent's side of the start-up conversation, and children that a
// parent can talk to. Used by tests; the connections are ipc's
// (platform/ipc/connection.h), the messages the codec's
// (platform/ipc/messages.h), and the receiving side is receive.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ipc/connection.h"
#include "platform/ipc/messages.h"

namespace zeb::platform {

// The parent's side of a start-up conversation: "open", the start-up
// message, then (only when the child answered the start-up message with 70,
// "continue") every ASSIGN and every PARAM message, then "close". The error
// of every reply is appended to *replies in order. Returns 0 when the
// conversation ran to its end, else the error of the send that failed (what
// was answered until then is in *replies).
struct StartupConversation {
  Message startup;
  std::vector<Message> assigns;
  std::vector<Message> params;
};
int16_t run_startup_conversation(const Connection& connection, const StartupConversation& talk,
                                 std::vector<int16_t>* replies, int timeout_ms = -1);

// A child process started by start_child.
struct Child {
  int pid = -1;
  Connection channel;  // the parent's end of the private channel (fd -1 without one)
};

// Starts argv[0] (a host path) with argv, this process's environment plus
// the NAME=VALUE entries of extra_env (an entry replaces a variable of the
// same name), and, when with_channel is true, a private channel whose other
// end the child finds through ZEB_RECEIVE_FD. The child gets the standard
// descriptors and no other of this process's. Returns 0 or the error.
int16_t start_child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                    bool with_channel, Child* child);

// Waits for the child to end and closes the parent's end of its channel.
// Returns the exit status, or 128 + the signal that ended it, or -1.
int wait_child(Child* child);

}  // namespace zeb::platform
