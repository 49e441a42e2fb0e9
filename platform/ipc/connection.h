// Connections between processes: the framing on the channels, the private
// channel a parent makes for a child, connecting to a named process's
// $RECEIVE, and one message with its reply. Internal to the platform; the
// messages themselves are built by the codec (messages.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"
#include "platform/ipc/messages.h"

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

// A connection to another process's $RECEIVE, owned by the caller: close it
// with close_connection.
struct Connection {
  int fd = -1;
};

// A private channel for a child: the parent's end (kept, close-on-exec) and
// the descriptor of the end the child inherits.
struct PrivateChannel {
  Connection parent;
  int child = -1;
};
Result<PrivateChannel> make_private_channel();

// Connects to the $RECEIVE of the process named name ("$NAME") of this
// user, without blocking (the connection stays non-blocking) except while
// the process's queue of connections is full: the connect then waits its
// turn, up to timeout_ms milliseconds (-1: no limit). Errors: 14 when no
// such process listens (the socket directory missing, or another user's,
// included: none of this user's processes can listen there); 40 when the
// time ran out with the queue still full; 48 when this user's socket
// directory is not safe (mode not 0700, a link); 13 when it is relative or
// too long; or the error.
Result<Connection> connect_named(std::string_view name, int timeout_ms);

void close_connection(Connection* connection);

// What one reply carries: the receiver's error number, and how many bytes
// of its data were kept.
struct Reply {
  int16_t error = 0;
  int16_t length = 0;
};

// One message and where its reply goes.
struct Request {
  std::span<const char> message;
  bool system = false;       // a system message
  std::span<char> reply_to;  // the reply's data, up to this size (at most 32767), goes here
  int timeout_ms = -1;       // the longest wait for the reply; -1: no limit
};

// Sends one message and waits for its reply. The reply is the result
// whatever its error number; the Status is the transport's: 40 when no
// reply came in time; 201 when the receiver is gone; 308 for a record too
// short to be a reply; 22 for a message longer than 32767 bytes. A receiver
// that refused the connection before it read anything (out of descriptors,
// another user) leaves its refusal as the reply, even when it had already
// closed its end when the message went.
Result<Reply> exchange(const Connection& connection, const Request& request);

// Waits up to timeout_ms (-1: no limit) for the next reply of a message on
// its way, its data to reply_to; results as exchange's.
Result<Reply> next_reply(const Connection& connection, std::span<char> reply_to, int timeout_ms);

// Takes the reply to the oldest of several messages on their way (none of
// whose replies carries data) without a poll first when it is there, else
// waits for it like next_reply; and takes with it, in the same call, the
// replies after it that are there already: at most most (up to 64) in
// all. The replies in order, never none; when a record that is no reply,
// or the receiver's hang-up, ended them, the last is that error (as
// next_reply gives it).
std::vector<Result<Reply>> next_replies(const Connection& connection, size_t most, int timeout_ms);

// Several messages posted in order with one call, never blocking, each
// accepting a reply without data, for a sender that keeps several on their
// way and reads the replies after, in order (the channel keeps records in
// order): as many as the channel takes now, at least one, up to 64 (how
// many is the result). Errors: 40 when not even the first fits now; 201
// when the receiver is gone; 22 for a message longer than 32767 bytes.
struct Outgoing {
  std::span<const char> message;
  bool system = false;
};
Result<size_t> post_messages(const Connection& connection, std::span<const Outgoing> messages);

// How long a sender waits for the reply to "open", to "close" and to each
// message of a conversation that starts a process, in milliseconds:
// ZEB_REPLY_LIMIT in hundredths of a second (1 to 8640000), else 30 s.
int reply_limit_ms();

// A process file's connection (a descriptor the file table keeps) ends:
// "close", its reply waited for up to reply_limit_ms(), and the descriptor.
void close_process(int fd);

// Defined by the process room (processes/process_files.cpp), which knows the
// host's processes and this process's children; declared here for the file
// table, which opens a process when FILE_OPEN_ is given its name. Whether a
// name ("$NAME") is a process name; opening a process by name (its private
// channel when it is a child of this process, else its named socket),
// "open" included, under a new file number.
bool is_process_name(const std::string& name);
Result<int16_t> open_process_by_name(const std::string& name);

}  // namespace zeb::platform
