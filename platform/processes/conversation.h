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

#include "platform/host/status.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/messages.h"

namespace zeb::platform {

// The parent's side of a start-up conversation: "open", the start-up
// message, then (only when the child answered the start-up message with 70,
// "continue") every ASSIGN and every PARAM message, then "close". What the
// child answered and whether the channel held are two results: the error
// number of every reply the child gave is appended to *replies in order,
// whatever it is; the status is the channel's, ok when every message got
// its reply, else why one did not (40 no reply within timeout_ms, 201 the
// child has gone, 308 a record that is no reply), with what was answered
// until then in *replies.
struct StartupConversation {
  Message startup;
  std::vector<Message> assigns;
  std::vector<Message> params;
};
Status run_startup_conversation(const Connection& connection, const StartupConversation& talk,
                                std::vector<int16_t>* replies, int timeout_ms = -1);

// A child process started by start_child.
struct Child {
  int pid = -1;
  Connection channel;  // the parent's end of the private channel (fd -1 without one)
};

// Starts argv[0] (a host path) with argv, the host's configuration plus
// the NAME=VALUE entries of extra_env (an entry replaces a variable of the
// same name), and, when with_channel is true, a private channel whose other
// end the child finds through ZEB_RECEIVE_FD. The child gets the standard
// descriptors and no other of this process's. *child is set only when the
// child was started.
Status start_child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                   bool with_channel, Child* child);

// Waits for the child to end and closes the parent's end of its channel.
// Returns the exit status, or 128 + the signal that ended it, or -1.
int wait_child(Child* child);

}  // namespace zeb::platform
