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

int16_t make_private_channel(Connection* parent, int* child) {
  int fds[2];
  if (syscalls().socketpair(fds) != 0) return error_from_errno(errno);
  parent->fd = fds[0];
  *child = fds[1];
  return 0;
}

int16_t connect_named_process(std::string_view name, Connection* connection) {
  std::string wanted = process_name_from(std::string(name));
  if (wanted.empty()) return err::kBadName;
  SocketDirectory dir;
  int16_t error = open_socket_directory(socket_directory(), false, &dir);
  // No process of this user listens in a directory that is missing, or
  // that another user has taken (the note says which and whose): the
  // process is not there. So a squatted directory costs named processes
  // their sockets, and nothing else (a spawn's look for its monitor).
  if (error == err::kNotFound || (error == err::kSecurityViolation && dir.foreign)) {
    return err::kNoSuchDevice;
  }
  if (error != 0) return error;
  // Never blocking: a process whose queue of connections is full (one that
  // does not accept them) would hold a blocking connect for ever. It is
  // there and does not answer: 40, at once.
  int fd = syscalls().unix_socket(SOCK_SEQPACKET | SOCK_NONBLOCK);
  if (fd < 0) return error_from_errno(errno);
  // Through the directory's descriptor: the socket reached is the one in
  // the directory that was checked.
  if (syscalls().connect_unix(fd, dir.file(wanted.substr(1)).c_str()) != 0) {
    error = (errno == ENOENT || errno == ECONNREFUSED)  ? err::kNoSuchDevice
            : (errno == EAGAIN || errno == EWOULDBLOCK) ? err::kTimedOut
                                                        : error_from_errno(errno);
    // Never connected: the connect's error is the one reported.
    syscalls().close(fd);
    return error;
  }
  connection->fd = fd;
  return 0;
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

int16_t post_messages(const Connection& connection, std::span<const Outgoing> messages,
                      size_t* posted) {
  *posted = 0;
  if (connection.fd < 0) return err::kNotOpenFile;
  constexpr size_t kMost = 64;
  const size_t count = std::min(messages.size(), kMost);
  size_t bytes = 0;
  for (size_t i = 0; i < count; ++i) {
    if (messages[i].message.size() > static_cast<size_t>(kMaxMessage)) return err::kOutOfBounds;
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
  if (n < 0) return send_error(errno);
  *posted = static_cast<size_t>(n);
  return 0;
}

int16_t post_message(const Connection& connection, bool system, std::span<const char> message,
                     bool wait, int16_t reply_max) {
  if (message.size() > static_cast<size_t>(kMaxMessage)) return err::kOutOfBounds;
  if (connection.fd < 0) return err::kNotOpenFile;
  char frame[kFrameHeader + kMaxMessage];
  const uint16_t accept = static_cast<uint16_t>(std::max<int16_t>(reply_max, 0));
  frame[0] = system ? kFrameSystem : kFrameData;
  frame[1] = 0;
  frame[2] = static_cast<char>(accept >> 8);
  frame[3] = static_cast<char>(accept & 0xFF);
  if (!message.empty()) std::memcpy(frame + kFrameHeader, message.data(), message.size());
  if (syscalls().send(connection.fd, frame, kFrameHeader + message.size(), wait) < 0) {
    // A connection to a named process does not block (connect_named_process):
    // a receiver whose queue is full takes no more, as good as no answer.
    return send_error(errno);
  }
  return 0;
}

int16_t await_reply(const Connection& connection, int16_t* reply_error, int timeout_ms,
                    void* reply_data, int16_t reply_max, int16_t* reply_len, bool look_first) {
  if (connection.fd < 0) return err::kNotOpenFile;
  const int16_t accept = std::max<int16_t>(reply_max, 0);
  pollfd wait = {connection.fd, POLLIN, 0};
  char reply[kReplyHeader + kMaxMessage];
  long n = 0;
  bool read = false;
  // With look_first, a reply that is there already (one of several on
  // their way) is taken without a poll, and a read of 0 bytes asks poll
  // then whether it was a hang-up.
  if (look_first) {
    // The receiver answers each of the messages on their way within a few
    // microseconds: the processor is yielded a few times while the reply
    // is not there yet (to the receiver, when it waits for this one),
    // before this thread goes to sleep in poll and has to be woken for
    // each reply.
    constexpr int kYields = 32;
    for (int tries = 0;; ++tries) {
      n = syscalls().recv(connection.fd, reply, sizeof reply, false);
      read = n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
      if (read || tries == kYields) break;
      syscalls().yield_processor();
    }
    if (n == 0 && syscalls().poll(&wait, 1, 0) < 0) wait.revents = 0;
  }
  if (!read) {
    int ready = syscalls().poll(&wait, 1, timeout_ms);
    if (ready < 0) return error_from_errno(errno);
    if (ready == 0) return err::kTimedOut;
    n = syscalls().recv(connection.fd, reply, sizeof reply, true);
  }
  // A record too short to be a reply (an empty one included, when poll saw
  // no hang-up) comes from a receiver that is there and does not speak
  // this protocol; no record at all, from one that has gone.
  if ((n == 0 && (wait.revents & POLLHUP) == 0) || (n > 0 && n < kReplyHeader)) {
    return err::kBadMessage;
  }
  if (n < kReplyHeader) return err::kPathDown;
  n = std::min<long>(n, static_cast<long>(sizeof reply));
  *reply_error = static_cast<int16_t>((static_cast<unsigned char>(reply[0]) << 8) |
                                      static_cast<unsigned char>(reply[1]));
  size_t length = std::min<size_t>(static_cast<size_t>(n - kReplyHeader), accept);
  if (reply_data != nullptr && length > 0) std::memcpy(reply_data, reply + kReplyHeader, length);
  if (reply_len != nullptr) *reply_len = static_cast<int16_t>(length);
  return 0;
}

int16_t send_message(const Connection& connection, bool system, const Message& message,
                     int16_t* reply_error, int timeout_ms, void* reply_data, int16_t reply_max,
                     int16_t* reply_len) {
  if (int16_t error = post_message(connection, system, message, true, reply_max); error != 0) {
    return error;
  }
  return await_reply(connection, reply_error, timeout_ms, reply_data, reply_max, reply_len);
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

int16_t process_message(int fd, const void* buffer, int16_t write_count, void* reply,
                        int16_t reply_max, int16_t* reply_len, int16_t* reply_error,
                        int timeout_ms) {
  Connection connection{fd};
  const char* bytes = static_cast<const char*>(buffer);
  Message message(bytes, bytes + write_count);
  return send_message(connection, false, message, reply_error, timeout_ms, reply, reply_max,
                      reply_len);
}

void close_process(int fd) {
  Connection connection{fd};
  int16_t reply = 0;
  // The connection ends whatever the answer: a process that has gone or
  // does not answer in time has nothing to say, and a close cannot fail
  // for it.
  (void)send_message(connection, true, close_message(), &reply, reply_limit_ms());
  close_connection(&connection);
}

}  // namespace zeb::platform
