// Connections between processes (see connection.h).
#include "platform/ipc/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"

namespace zeb::platform {

Result<PrivateChannel> make_private_channel() {
  int fds[2];
  if (syscalls().socketpair(fds) != 0) return Status::from_errno(errno, "private channel");
  return PrivateChannel{Connection{fds[0]}, fds[1]};
}

Result<Connection> connect_named(std::string_view name, int timeout_ms) {
  std::string wanted = process_name_from(std::string(name));
  if (wanted.empty()) return Status::error(err::kBadName, "process name");
  SocketDirectory dir;
  Status opened = open_socket_directory(socket_directory(), false, &dir);
  // No process of this user listens in a directory that is missing, or
  // that another user has taken (the note says which and whose): the
  // process is not there. So a squatted directory costs named processes
  // their sockets, and nothing else (a spawn's look for its monitor).
  if (opened.code() == err::kNotFound) return Status::error(err::kNoSuchDevice, wanted);
  if (opened.code() == err::kSecurityViolation && dir.foreign) {
    return Status::error(err::kNoSuchDevice, opened.what());
  }
  if (!opened.ok()) return opened;
  int16_t error = 0;
  // The connection never blocks once made. While the process's queue of
  // connections is full (it is busy accepting others), the connect waits
  // its turn within the limit; a process that does not accept at all is
  // there and does not answer: 40 when the limit passes.
  int fd = syscalls().unix_socket(SOCK_SEQPACKET | SOCK_NONBLOCK);
  if (fd < 0) return Status::from_errno(errno, "socket");
  // Through the directory's descriptor: the socket reached is the one in
  // the directory that was checked.
  if (syscalls().connect_unix_waiting(fd, dir.file(wanted.substr(1)).c_str(), timeout_ms) != 0) {
    error = (errno == ENOENT || errno == ECONNREFUSED)  ? err::kNoSuchDevice
            : (errno == EAGAIN || errno == EWOULDBLOCK) ? err::kTimedOut
                                                        : error_from_errno(errno);
    // Never connected: the connect's error is the one reported.
    syscalls().close(fd);
    return Status::error(error, "connect " + wanted);
  }
  return Connection{fd};
}

void close_connection(Connection* connection) {
  // The connection ends whatever close says; every message was
  // answered or reported.
  if (connection->fd >= 0) syscalls().close(connection->fd);
  connection->fd = -1;
}

namespace {

// A failed send in the library's numbers: a receiver that takes nothing now
// is as good as no answer (40), one that has gone is 201.
int16_t send_error(int e) {
  if (e == EAGAIN || e == EWOULDBLOCK) return err::kTimedOut;
  return (e == EPIPE || e == ECONNRESET || e == ENOTCONN) ? err::kPathDown : error_from_errno(e);
}

}  // namespace

Result<size_t> post_messages(const Connection& connection, std::span<const Outgoing> messages) {
  if (connection.fd < 0) return Status::error(err::kNotOpenFile, "send");
  constexpr size_t kMost = 64;
  const size_t count = std::min(messages.size(), kMost);
  size_t bytes = 0;
  for (size_t i = 0; i < count; ++i) {
    if (messages[i].message.size() > static_cast<size_t>(kMaxMessage)) {
      return Status::error(err::kOutOfBounds, "message");
    }
    bytes += kFrameHeader + messages[i].message.size();
  }
  std::vector<char> frames(bytes);
  std::span<const char> records[kMost];
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    char* frame = frames.data() + at;
    frame[0] = messages[i].system ? kFrameSystem : kFrameData;
    frame[1] = frame[2] = frame[3] = 0;
    const std::span<const char> m = messages[i].message;
    if (!m.empty()) std::memcpy(frame + kFrameHeader, m.data(), m.size());
    records[i] = std::span<const char>(frame, kFrameHeader + m.size());
    at += records[i].size();
  }
  const long n = syscalls().send_records(connection.fd, records, count);
  if (n < 0) return Status::error(send_error(errno), "send");
  return static_cast<size_t>(n);
}

namespace {

// Sends one message whose reply may carry up to reply_max bytes, waiting
// for room when the channel has none now. Returns 0 or the error.
int16_t post_message(const Connection& connection, bool system, std::span<const char> message,
                     int16_t reply_max) {
  if (message.size() > static_cast<size_t>(kMaxMessage)) return err::kOutOfBounds;
  if (connection.fd < 0) return err::kNotOpenFile;
  char frame[kFrameHeader + kMaxMessage];
  const uint16_t accept = static_cast<uint16_t>(std::max<int16_t>(reply_max, 0));
  frame[0] = system ? kFrameSystem : kFrameData;
  frame[1] = 0;
  frame[2] = static_cast<char>(accept >> 8);
  frame[3] = static_cast<char>(accept & 0xFF);
  if (!message.empty()) std::memcpy(frame + kFrameHeader, message.data(), message.size());
  if (syscalls().send(connection.fd, frame, kFrameHeader + message.size(), true) < 0) {
    // A connection to a named process does not block (connect_named): a
    // receiver whose queue is full takes no more, as good as no answer.
    return send_error(errno);
  }
  return 0;
}

}  // namespace

namespace {

// Reads one record. A receiver that closed its end with a message of ours
// unread leaves a reset that the first read reports, ahead of the records
// it sent before it closed (a refusal): those are read after it.
long receive_record(int fd, char* record, size_t size, bool wait) {
  long n = syscalls().recv(fd, record, size, wait);
  if (n < 0 && errno == ECONNRESET) n = syscalls().recv(fd, record, size, false);
  return n;
}

}  // namespace

Result<Reply> next_reply(const Connection& connection, std::span<char> reply_to, int timeout_ms) {
  if (connection.fd < 0) return Status::error(err::kNotOpenFile, "reply");
  pollfd wait = {connection.fd, POLLIN, 0};
  char reply[kReplyHeader + kMaxMessage];
  int ready = syscalls().poll(&wait, 1, timeout_ms);
  if (ready < 0) return Status::from_errno(errno, "reply");
  if (ready == 0) return Status::error(err::kTimedOut, "reply");
  long n = receive_record(connection.fd, reply, sizeof reply, true);
  // A record too short to be a reply (an empty one included, when poll saw
  // no hang-up) comes from a receiver that is there and does not speak
  // this protocol; no record at all, from one that has gone.
  if ((n == 0 && (wait.revents & POLLHUP) == 0) || (n > 0 && n < kReplyHeader)) {
    return Status::error(err::kBadMessage, "reply");
  }
  if (n < kReplyHeader) return Status::error(err::kPathDown, "reply");
  n = std::min<long>(n, static_cast<long>(sizeof reply));
  Reply got;
  got.error = static_cast<int16_t>((static_cast<unsigned char>(reply[0]) << 8) |
                                   static_cast<unsigned char>(reply[1]));
  const size_t length = std::min<size_t>(static_cast<size_t>(n - kReplyHeader),
                                         std::min<size_t>(reply_to.size(), kMaxMessage));
  if (length > 0) std::memcpy(reply_to.data(), reply + kReplyHeader, length);
  got.length = static_cast<int16_t>(length);
  return got;
}

namespace {

// Places for replies read with one call: a reply without data is its
// error number alone, and a longer record is cut (its length still says
// what it was).
constexpr size_t kMostReplies = 64;

Result<Reply> reply_of(int fd, const char* record, size_t length, short revents) {
  if (length >= static_cast<size_t>(kReplyHeader)) {
    return Reply{static_cast<int16_t>((static_cast<unsigned char>(record[0]) << 8) |
                                      static_cast<unsigned char>(record[1])),
                 0};
  }
  // An empty record is told from a hang-up by poll, as next_reply does.
  if (length == 0 && revents == 0) {
    pollfd look = {fd, POLLIN, 0};
    if (syscalls().poll(&look, 1, 0) == 1) revents = look.revents;
  }
  if (length == 0 && (revents & POLLHUP) != 0) return Status::error(err::kPathDown, "reply");
  return Status::error(err::kBadMessage, "reply");
}

}  // namespace

std::vector<Result<Reply>> next_replies(const Connection& connection, size_t most, int timeout_ms) {
  std::vector<Result<Reply>> got;
  if (connection.fd < 0) {
    got.push_back(Status::error(err::kNotOpenFile, "reply"));
    return got;
  }
  most = std::clamp<size_t>(most, 1, kMostReplies);
  char places[kMostReplies][kReplyHeader];
  std::span<char> records[kMostReplies];
  for (size_t i = 0; i < most; ++i) records[i] = places[i];
  size_t lengths[kMostReplies];
  auto take = [&] {
    long n = syscalls().receive_records(connection.fd, records, most, lengths);
    // A receiver that closed with a message of ours unread leaves a reset
    // ahead of the replies it sent before: those are read after it.
    if (n < 0 && errno == ECONNRESET) {
      n = syscalls().receive_records(connection.fd, records, most, lengths);
    }
    return n;
  };
  // Replies that are there are taken without a poll first. The receiver
  // answers a batch at a time, so a sender that finds none sleeps until
  // they come rather than yield the processor in a loop (on a busy host a
  // yield gives the processor away for a whole time slice).
  long n = take();
  short revents = 0;
  const int64_t end = syscalls().monotonic_ns() + static_cast<int64_t>(timeout_ms) * 1000000;
  while (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    pollfd wait = {connection.fd, POLLIN, 0};
    int left = timeout_ms;
    if (timeout_ms > 0) {
      // Rounded up, so that the wait never ends before its time.
      left = static_cast<int>(
          std::max<int64_t>(0, (end - syscalls().monotonic_ns() + 999999) / 1000000));
    }
    const int ready = syscalls().poll(&wait, 1, left);
    if (ready <= 0) {
      got.push_back(ready < 0 ? Status::from_errno(errno, "reply")
                              : Status::error(err::kTimedOut, "reply"));
      return got;
    }
    revents = wait.revents;
    n = take();
  }
  if (n < 0) {
    got.push_back(Status::error(err::kPathDown, "reply"));
    return got;
  }
  for (long i = 0; i < n; ++i) {
    got.push_back(reply_of(connection.fd, places[i], lengths[i], i == 0 ? revents : 0));
    if (!got.back().ok()) break;
  }
  return got;
}

Result<Reply> exchange(const Connection& connection, const Request& request) {
  const int16_t accept =
      static_cast<int16_t>(std::min<size_t>(request.reply_to.size(), kMaxMessage));
  const int16_t error = post_message(connection, request.system, request.message, accept);
  if (error == err::kPathDown) {
    // Gone, or refused before its message was read: a refusal is a record
    // the receiver sent before it closed its end.
    char reply[kReplyHeader];
    if (receive_record(connection.fd, reply, sizeof reply, false) >= kReplyHeader) {
      return Reply{static_cast<int16_t>((static_cast<unsigned char>(reply[0]) << 8) |
                                        static_cast<unsigned char>(reply[1])),
                   0};
    }
  }
  if (error != 0) return Status::error(error, "send");
  return next_reply(connection, request.reply_to, request.timeout_ms);
}

int reply_limit_ms() {
  // Hundredths of a second, as AWAITIO counts them. A value that is no
  // number in range (empty, negative, text after the digits) is the default:
  // a mistyped limit must not make every open wait for ever or fail at once.
  constexpr long kDefault = 3000, kMost = 8640000;  // 30 s; a day
  const std::optional<std::string>& text = host().config().reply_limit;
  long hundredths = kDefault;
  if (text && !text->empty() && text->size() <= 7 &&
      text->find_first_not_of("0123456789") == std::string::npos) {
    long value = std::stol(*text);
    if (value >= 1 && value <= kMost) hundredths = value;
  }
  return static_cast<int>(hundredths * 10);
}

void close_process(int fd) {
  Connection connection{fd};
  const Message close = close_message();
  Request request;
  request.message = close;
  request.system = true;
  request.timeout_ms = reply_limit_ms();
  // The connection ends whatever the answer: a process that has gone or
  // does not answer in time has nothing to say, and a close cannot fail
  // for it.
  exchange(connection, request).status().ignore();
  close_connection(&connection);
}

}  // namespace zeb::platform
