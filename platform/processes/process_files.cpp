// Processes as files: OPEN and FILE_OPEN_ of a process (see the "Process
// files" section of platform/README.md). The file table (fs.cpp) keeps the
// connection; the messages WRITEX and WRITEREADX send over it are ipc's
// (platform/ipc/connection.h).
#include <poll.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/receive_queue.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

std::string trimmed(const char* text, size_t size) {
  std::string s(text, size);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A connection to a process: the private channel when pid is a child of
// this process (named_child: found among the children, never by a search
// of the host's processes; *child is then pid), else the socket that name
// listens on, a wait for room in its queue of connections bounded by
// deadline.
int16_t connect_process(long pid, const std::string& name, Deadline deadline, int* fd,
                        long* child = nullptr) {
  if (child != nullptr) *child = 0;
  if (pid != 0) {
    *fd = dup_child_channel(pid);
    if (*fd >= 0) {
      if (child != nullptr) *child = pid;
      return 0;
    }
  }
  if (name.empty()) return err::kNoSuchDevice;
  Result<Connection> connection = connect_named(name, deadline.remaining_ms());
  if (!connection.ok()) return connection.code();
  *fd = connection->fd;
  return 0;
}

// Sends "open" and takes a file number for the connection. A process that
// does not answer "open" within what is left of the open's deadline is no
// library process (a program that never reads its $RECEIVE) or a hung one:
// the open fails with 40 rather than wait for ever.
int16_t open_connection(int fd, const std::string& name, Deadline deadline, int16_t* filenum) {
  Request open;
  const Message message = open_message();
  open.message = message;
  open.system = true;
  open.timeout_ms = deadline.remaining_ms();
  Result<Reply> reply = exchange(Connection{fd}, open);
  int16_t error = reply.ok() ? reply->error : reply.code();
  if (error == 0) {
    Result<int16_t> added = add_process_file(fd, name);
    if (added.ok()) *filenum = *added;
    error = added.code();
  }
  // Never added to the table: the open's error is the one reported.
  if (error != 0) syscalls().close(fd);
  return error;
}

}  // namespace

bool is_process_name(const std::string& volume) {
  return !process_name_from(volume).empty() && volume[0] == '$';
}

Result<int16_t> open_process_by_name(const std::string& name) {
  const std::string process = process_name_from(name);
  if (process.empty()) return Status::error(err::kBadName, "process name");
  // One deadline for the whole open: the wait for room in the process's
  // queue of connections and the wait for the reply to "open" share the
  // reply limit, so an open never takes longer than it.
  const Deadline deadline = Deadline::reply_limit();
  int fd = -1;
  if (int16_t error = connect_process(named_child(process), process, deadline, &fd); error != 0) {
    return Status::error(error, "connect " + process);
  }
  int16_t filenum = zeb::kNotOpen;
  if (int16_t error = open_connection(fd, process, deadline, &filenum); error != 0) {
    return Status::error(error, "open " + process);
  }
  return filenum;
}

Result<int16_t> open_process(const char* name) {
  int16_t filenum = zeb::kNotOpen;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(name);
  const bool blank_rest = trimmed(name + 8, 16).empty();
  int16_t error = 0;
  if ((bytes[0] & 0x80) != 0 && blank_rest) {
    // An unnamed process by its identifier: only a child of this process
    // can be reached.
    int16_t id[4];
    std::memcpy(id, name, 8);
    long pid = pid_of_identifier(id);
    const Deadline deadline = Deadline::reply_limit();
    int fd = -1;
    error = connect_process(pid, "", deadline, &fd);
    if (error == 0) error = open_connection(fd, "", deadline, &filenum);
    error = record_open_error(error);
  } else if (const std::string first = trimmed(name, 8); blank_rest && first.size() <= 6 &&
                                                         find_volume(first) == nullptr &&
                                                         is_process_name(first)) {
    Result<int16_t> opened = open_process_by_name(first);
    error = record_open_error(opened.code());
    if (opened.ok()) filenum = *opened;
  } else {
    char external[32];
    int16_t length = FNAMECOLLAPSE(name, external);
    error = FILE_OPEN_(zeb::mask({1, 2, 3}), external, length, &filenum);
  }
  if (error != 0) return Status::error(error, "open process");
  return filenum;
}

ProcessFileHandle& ProcessFileHandle::operator=(ProcessFileHandle&& other) noexcept {
  if (this != &other) {
    this->~ProcessFileHandle();
    filenum_ = other.release();
  }
  return *this;
}

ProcessFileHandle::~ProcessFileHandle() {
  // A close cannot fail in a way the owner could act on: the connection
  // ends whatever the process answers.
  if (filenum_ >= 0) FILE_CLOSE_(zeb::mask({1}), filenum_);
}

Result<ProcessFileHandle> ProcessFileHandle::open(const char* name24) {
  Result<int16_t> filenum = open_process(name24);
  if (!filenum.ok()) return filenum.status();
  return ProcessFileHandle(*filenum);
}

Status ProcessFileHandle::send(std::span<const char> message) {
  const int fd = host_fd(filenum_);
  if (fd < 0) return Status::error(err::kNotOpenFile, "process file");
  Request request;
  request.message = message;
  Result<Reply> reply = exchange(Connection{fd}, request);
  // The process's reply error is the message's, and the file's last error.
  const int16_t error = reply.ok() ? reply->error : reply.code();
  set_last_error(filenum_, error);
  return Status::error(error, "message to a process");
}

Deadline Deadline::after_ms(int ms) {
  return Deadline(syscalls().monotonic_ns() + static_cast<int64_t>(ms) * 1000000);
}

Deadline Deadline::reply_limit() { return after_ms(reply_limit_ms()); }

int Deadline::remaining_ms() const {
  const int64_t left = at_ns_ - syscalls().monotonic_ns();
  if (left <= 0) return 0;
  // Rounded up, so that a wait never ends before the deadline.
  return static_cast<int>(std::min<int64_t>((left + 999999) / 1000000, 1 << 30));
}

ChildChannel::~ChildChannel() {
  // The connection ends; what the child still had to say is not waited for.
  if (fd_ >= 0) syscalls().close(fd_);
}

Result<ChildChannel> ChildChannel::connect(long pid, Deadline deadline) {
  const int fd = dup_child_channel(pid);
  if (fd < 0) return Status::error(err::kPathDown, "child's channel");
  return ChildChannel(fd, deadline);
}

Result<ChildReply> ChildChannel::exchange(bool system, std::span<const char> message) {
  if (fd_ < 0) return Status::error(err::kNotOpenFile, "child's channel");
  Request request;
  request.message = message;
  request.system = system;
  request.timeout_ms = deadline_.remaining_ms();
  Result<Reply> reply = platform::exchange(Connection{fd_}, request);
  if (!reply.ok()) return Status::error(reply.code(), "message to a child");
  return ChildReply{reply->error};
}

Result<ChildReply> ChildChannel::open() { return exchange(true, open_message()); }

Result<ChildReply> ChildChannel::send(std::span<const char> message) {
  return exchange(false, message);
}

Result<ChildReply> ChildChannel::send_all(std::span<const std::span<const char>> messages,
                                          const std::function<bool(int16_t)>& accepts,
                                          bool then_close) {
  if (fd_ < 0) return Status::error(err::kNotOpenFile, "child's channel");
  const Connection connection{fd_};
  const Message close = close_message();
  std::vector<Outgoing> out;
  out.reserve(messages.size() + 1);
  for (const std::span<const char>& m : messages) out.push_back({m, false});
  if (then_close) out.push_back({close, true});
  size_t next = 0;          // the next of out to send
  size_t on_their_way = 0;  // sent, and their replies not read yet
  size_t answered = 0;      // replies read
  while (true) {
    // As many as the channel takes, up to kMessagesOnTheirWay on their way,
    // sent in batches: more go only once half of those on their way have
    // been answered (or all, when the channel took fewer), so that one call
    // sends many.
    while (next < out.size() && on_their_way <= kMessagesOnTheirWay / 2) {
      const size_t room = std::min(out.size() - next, kMessagesOnTheirWay - on_their_way);
      Result<size_t> sent =
          post_messages(connection, std::span<const Outgoing>(out).subspan(next, room));
      int16_t error = sent.code();
      if (error == err::kTimedOut && on_their_way == 0) {
        // No room, and nothing of ours in the way: wait for room as for a
        // reply, within what is left of the deadline.
        pollfd wait = {fd_, POLLOUT, 0};
        const int ready = syscalls().poll(&wait, 1, deadline_.remaining_ms());
        error = ready < 0 ? error_from_errno(errno) : ready == 0 ? err::kTimedOut : int16_t{0};
        if (error == 0) continue;
      }
      if (error == err::kTimedOut && on_their_way > 0) break;  // a reply makes room
      if (error != 0) return Status::error(error, "message to a child");
      next += *sent;
      on_their_way += *sent;
      if (*sent < room) break;  // the channel is full: replies make room
    }
    if (on_their_way == 0) break;
    // The reply to the oldest on its way, and with it those after it that
    // are there already, read with one call: "close"'s comes last.
    for (Result<Reply>& got : next_replies(connection, on_their_way, deadline_.remaining_ms())) {
      if (!got.ok()) return Status::error(got.code(), "message to a child");
      const int16_t reply = got->error;
      --on_their_way;
      if (++answered == out.size() && then_close) {
        // The connection ends with "close", whatever the answer.
        syscalls().close(fd_);
        fd_ = -1;
        return ChildReply{reply};
      }
      if (!accepts(reply)) {
        // The child's answer ends the conversation: what is still on its
        // way is not waited for, and the channel is done with.
        syscalls().close(fd_);
        fd_ = -1;
        return ChildReply{reply};
      }
    }
  }
  return ChildReply{0};
}

Result<ChildReply> ChildChannel::close() {
  Result<ChildReply> answer = exchange(true, close_message());
  // The connection ends whatever the answer.
  if (fd_ >= 0) syscalls().close(fd_);
  fd_ = -1;
  return answer;
}

namespace {

// The processes that took an exchange and let its deadline run out, by
// process handle (a pid reused by another process is another handle). Such
// a process is hung: asking it again would cost every caller the whole
// limit, so while it lives it gets no more exchanges, and they give 40 at
// once. A state of the host.
struct Unanswering {
  std::vector<std::array<int16_t, 10>> handles;
};

// The handle of the process at the far end of a connection: the child
// itself for a child's private channel (whose peer credentials would name
// this process, which made the pair), else the peer a socket names.
std::array<int16_t, 10> peer_handle(int fd, long child) {
  std::array<int16_t, 10> handle;
  long pid = child, uid = 0;
  if (pid == 0 && (syscalls().peer_credentials(fd, &pid, &uid) != 0 || pid <= 0)) pid = 0;
  if (pid == 0) {
    null_handle(handle.data());
  } else {
    process_handle_of(pid, handle.data());
  }
  return handle;
}

long handle_pid_of(const std::array<int16_t, 10>& handle) {
  return (static_cast<long>(static_cast<uint16_t>(handle[2])) << 16) |
         static_cast<uint16_t>(handle[3]);
}

}  // namespace

Status exchange_with_process(std::string_view name, std::span<const char> message,
                             std::span<char> reply, int16_t* reply_len, int16_t* reply_error,
                             Deadline deadline) {
  *reply_len = 0;
  *reply_error = 0;
  const std::string process = process_name_from(std::string(name));
  if (process.empty()) return Status::error(err::kBadName, "process name");
  int fd = -1;
  long child = 0;
  if (int16_t error = connect_process(named_child(process), process, deadline, &fd, &child);
      error != 0) {
    return Status::error(error, "connect " + process);
  }
  Connection connection{fd};
  std::vector<std::array<int16_t, 10>>& hung = host().state<Unanswering>().handles;
  const std::array<int16_t, 10> peer = peer_handle(fd, child);
  const bool known = peer[0] == 1;
  if (known && std::find(hung.begin(), hung.end(), peer) != hung.end()) {
    close_connection(&connection);
    return Status::error(err::kTimedOut, process + " did not answer before");
  }
  // One exchange of the three, within what is left of the deadline: the
  // transport's error, else the reply's error in *reply_error.
  auto ask = [&](bool system, std::span<const char> m, std::span<char> data) -> int16_t {
    Request request;
    request.message = m;
    request.system = system;
    request.reply_to = data;
    request.timeout_ms = deadline.remaining_ms();
    Result<Reply> got = platform::exchange(connection, request);
    if (!got.ok()) return got.code();
    *reply_error = got->error;
    *reply_len = got->length;
    return 0;
  };
  int16_t error = ask(true, open_message(), {});
  bool asked = false;
  if (error == 0 && *reply_error == 0) {
    asked = true;
    error = ask(false, message, reply.first(std::min<size_t>(reply.size(), kMaxMessage)));
    if (error == 0) {
      // The reply is in, and the close's answer changes nothing of it; but
      // a process that lets the close run out of time is as hung as one
      // that does so on the message.
      Request close;
      const Message close_bytes = close_message();
      close.message = close_bytes;
      close.system = true;
      close.timeout_ms = deadline.remaining_ms();
      Result<Reply> closed = platform::exchange(connection, close);
      if (closed.code() == err::kTimedOut && known) hung.push_back(peer);
    }
  }
  close_connection(&connection);
  if (error == err::kTimedOut && known) hung.push_back(peer);
  if (error == err::kPathDown && asked && known && process_lives_on(handle_pid_of(peer))) {
    // It took the message and hung up on it, and it has not ended: it
    // refused to answer. Only a monitor that has gone has nothing to say.
    std::array<int16_t, 10> now;
    process_handle_of(handle_pid_of(peer), now.data());
    if (now == peer)
      return Status::error(err::kMonitorRefused, process + " hung up on the message");
  }
  return Status::error(error, "message to " + process);
}

ReceiveQueueHandle& ReceiveQueueHandle::operator=(ReceiveQueueHandle&& other) noexcept {
  if (this != &other) {
    this->~ReceiveQueueHandle();
    filenum_ = other.filenum_;
    other.filenum_ = -1;
  }
  return *this;
}

ReceiveQueueHandle::~ReceiveQueueHandle() {
  // Closing the queue cannot fail in a way the owner could act on.
  if (filenum_ >= 0) FILE_CLOSE_(zeb::mask({1}), filenum_);
}

Result<ReceiveQueueHandle> ReceiveQueueHandle::open(int16_t nowait_depth) {
  // What failed is passed on as the open said it.
  OpenOptions open;
  open.nowait_depth = nowait_depth;
  Result<int16_t> filenum = open_file(kReceiveName, open);
  if (!filenum.ok()) return filenum.status();
  return ReceiveQueueHandle(*filenum);
}

}  // namespace zeb::platform
