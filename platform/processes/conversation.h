// The sending side of $RECEIVE: building the messages of the start-up
// conversation, reaching another process's queue (the private channel to a
// child, or a named process through the per-user socket directory), sending
// a message and collecting its reply, and starting a child that a parent can
// talk to. Used by the library's process spawning and by tests; the
// receiving side is in receive.h.
//
// Every message here is laid out big-endian, byte for byte as the receiver
// reads it; see platform/README.md for the framing on the channels.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb::platform {

using Message = std::vector<char>;

// Message codes of the start-up conversation.
constexpr int16_t kStartupCode = -1;
constexpr int16_t kAssignCode = -2;
constexpr int16_t kParamCode = -3;
constexpr int16_t kOpenCode = -103;
constexpr int16_t kCloseCode = -104;

// The largest message a start-up read takes, and the longest parameter text
// that fits in it with the NUL byte after it.
constexpr int kStartupReadCount = 596;
constexpr int kMaxParamText = kStartupReadCount - 66 - 1;

// The "open" system message (32 bytes: code -103, access, exclusion, nowait
// depth, sync depth, options, all 0, and a null primary handle) and the
// "close" system message (4 bytes: code -104, tape disposition 0).
Message open_message();
Message close_message();

// The start-up message: code -1, the 16 bytes of default volume and
// subvolume, the IN and OUT names in internal form (24 bytes each), then the
// parameter text, one NUL byte, and one more NUL byte when that makes the
// length odd. defaults is 16 bytes, in_name and out_name 24 bytes each.
Message startup_message(const char* defaults, const char* in_name, const char* out_name,
                        std::string_view text);

// The ASSIGN message (108 bytes): code -2, the logical unit (program part
// empty, file part the logical name: length byte at 34, the name from 35,
// blank padded to 31 characters), the field mask (0x80000000: the physical
// name is given), the physical name in internal form at 70, then extents,
// file code, exclusion, access, record and block size, all 0. The logical
// name is at most 31 characters.
Message assign_message(std::string_view logical_name, const char* physical_name);

// The PARAM message: code -3, the count, then each parameter as name length
// byte, name, value length byte, value. Names and values are at most 255
// bytes each.
Message param_message(const std::vector<std::pair<std::string, std::string>>& params);

// A connection to another process's $RECEIVE, owned by the caller: close it
// with close_connection.
struct Connection {
  int fd = -1;
};

// Makes a private channel for a child: the parent's end in *parent (kept,
// close-on-exec) and the end the child inherits in *child. Returns 0 or the
// error.
int16_t make_private_channel(Connection* parent, int* child);

// Connects to the $RECEIVE of the process named name ("$NAME") of this
// user. Returns 0; 14 when no such process listens; 48 when the socket
// directory is not this user's own with mode 0700; or the error.
int16_t connect_named_process(std::string_view name, Connection* connection);

void close_connection(Connection* connection);

// Sends one message (a system message when system is true) and waits up to
// timeout_ms milliseconds (-1: no limit) for the reply. The reply's error
// number goes to *reply_error and up to reply_max bytes of its data to
// reply_data (count in *reply_len). Returns 0 when a reply came; 40 on time
// out; 201 when the receiver is gone; 22 for a message longer than 32767
// bytes.
int16_t send_message(const Connection& connection, bool system, const Message& message,
                     int16_t* reply_error, int timeout_ms = -1, void* reply_data = nullptr,
                     int16_t reply_max = 0, int16_t* reply_len = nullptr);

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

// The per-user directory of named processes' sockets (see README).
std::string socket_directory();

}  // namespace zeb::platform
