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
// of the host's processes), else the socket that name listens on.
int16_t connect_process(long pid, const std::string& name, int* fd) {
  if (pid != 0) {
    *fd = dup_child_channel(pid);
    if (*fd >= 0) return 0;
  }
  if (name.empty()) return err::kNoSuchDevice;
  Connection connection;
  int16_t error = connect_named_process(name, &connection);
  *fd = connection.fd;
  return error;
}

// Sends "open" and takes a file number for the connection. A process that
// does not answer "open" within the reply limit is no library process (a
// program that never reads its $RECEIVE) or a hung one: the open fails with
// 40 rather than wait for ever.
int16_t open_connection(int fd, const std::string& name, int16_t* filenum) {
  Connection connection{fd};
  int16_t reply = 0;
  int16_t error = send_message(connection, true, open_message(), &reply, reply_limit_ms());
  if (error == 0) error = reply;
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

int16_t open_process_by_name(const std::string& name, int16_t* filenum) {
  const std::string process = process_name_from(name);
  if (process.empty()) return err::kBadName;
  int fd = -1;
  if (int16_t error = connect_process(named_child(process), process, &fd); error != 0) {
    return error;
  }
  return open_connection(fd, process, filenum);
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
    int fd = -1;
    error = connect_process(pid, "", &fd);
    if (error == 0) error = open_connection(fd, "", &filenum);
    error = record_open_error(error);
  } else if (const std::string first = trimmed(name, 8); blank_rest && first.size() <= 6 &&
                                                         find_volume(first) == nullptr &&
                                                         is_process_name(first)) {
    error = record_open_error(open_process_by_name(first, &filenum));
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
  int16_t reply = 0;
  int16_t error = process_message(fd, message.data(), static_cast<int16_t>(message.size()), nullptr,
                                  0, nullptr, &reply);
  // The process's reply error is the message's, and the file's last error.
  if (error == 0) error = reply;
  set_last_error(filenum_, error);
  return Status::error(error, "message to a process");
}

ChildChannel::~ChildChannel() {
  // A child that failed to answer is not waited for again; one that did is
  // closed as FILE_CLOSE_ would close it, whatever it answers.
  if (fd_ >= 0 && answered_) close().ignore();
  if (fd_ >= 0) syscalls().close(fd_);
}

Result<ChildChannel> ChildChannel::open(long pid) {
  ChildChannel channel;
  channel.fd_ = dup_child_channel(pid);
  if (channel.fd_ < 0) return Status::error(err::kPathDown, "child's channel");
  int16_t reply = 0;
  int16_t error =
      send_message(Connection{channel.fd_}, true, open_message(), &reply, reply_limit_ms());
  if (error != 0) channel.answered_ = false;
  if (error == 0) error = reply;
  if (error != 0) return Status::error(error, "open child");
  return channel;
}

Status ChildChannel::send(std::span<const char> message) {
  if (fd_ < 0 || !answered_) return Status::error(err::kNotOpenFile, "child's channel");
  int16_t reply = 0;
  int16_t error = send_message(Connection{fd_}, false, Message(message.begin(), message.end()),
                               &reply, reply_limit_ms());
  if (error != 0) answered_ = false;
  return Status::error(error != 0 ? error : reply, "message to a child");
}

Status ChildChannel::send_all(std::span<const std::span<const char>> messages,
                              const std::function<int16_t(int16_t)>& judge, bool then_close) {
  if (fd_ < 0 || !answered_) return Status::error(err::kNotOpenFile, "child's channel");
  const Connection connection{fd_};
  const int limit = reply_limit_ms();
  const Message close = close_message();
  std::vector<Outgoing> out;
  out.reserve(messages.size() + 1);
  for (const std::span<const char>& m : messages) out.push_back({m, false});
  if (then_close) out.push_back({close, true});
  size_t next = 0;          // the next of out to send
  size_t on_their_way = 0;  // sent, and their replies not read yet
  bool close_sent = false;
  int16_t verdict = 0, closed = 0;
  while (true) {
    // As many as the channel takes, up to kMessagesOnTheirWay on their way,
    // sent in batches: more go only once half of those on their way have
    // been answered (or all, when the channel took fewer), so that one call
    // sends many. Once a reply has ended the conversation, only "close" is
    // still sent.
    if (verdict != 0 && then_close && !close_sent) next = std::max(next, messages.size());
    const size_t end = verdict == 0 || then_close ? out.size() : next;
    while (next < end && on_their_way <= kMessagesOnTheirWay / 2) {
      const size_t room = std::min(end - next, kMessagesOnTheirWay - on_their_way);
      size_t posted = 0;
      int16_t error =
          post_messages(connection, std::span<const Outgoing>(out).subspan(next, room), &posted);
      if (error == err::kTimedOut && on_their_way == 0) {
        // No room, and nothing of ours in the way: wait for room as for a
        // reply, within the limit.
        pollfd wait = {fd_, POLLOUT, 0};
        const int ready = syscalls().poll(&wait, 1, limit);
        error = ready < 0 ? error_from_errno(errno) : ready == 0 ? err::kTimedOut : int16_t{0};
        if (error == 0) continue;
      }
      if (error == err::kTimedOut && on_their_way > 0) break;  // a reply makes room
      if (error != 0) {
        answered_ = false;
        return Status::error(verdict != 0 ? verdict : judge(error), "message to a child");
      }
      if (next + posted > messages.size()) close_sent = true;
      next += posted;
      on_their_way += posted;
      if (posted < room) break;  // the channel is full: replies make room
    }
    if (on_their_way == 0) break;
    // The reply to the oldest on its way: "close"'s comes last. A channel
    // that gave no reply in time or has gone is not waited for again.
    const bool of_close = close_sent && on_their_way == 1;
    int16_t reply = 0;
    const int16_t error = await_reply(connection, &reply, limit, nullptr, 0, nullptr, true);
    --on_their_way;
    if (error != 0) {
      answered_ = false;
      return Status::error(verdict != 0 ? verdict : judge(error), "message to a child");
    }
    if (of_close) {
      closed = reply;
    } else if (verdict == 0) {
      verdict = judge(reply);
    }
  }
  if (then_close) {
    // The connection ends with "close", whatever the answer.
    syscalls().close(fd_);
    fd_ = -1;
  }
  if (verdict != 0) return Status::error(verdict, "message to a child");
  return Status::error(then_close ? judge(closed) : int16_t{0}, "close child");
}

Status ChildChannel::close() {
  if (fd_ < 0) return Status::error(err::kNotOpenFile, "child's channel");
  int16_t error = 0, reply = 0;
  if (answered_) {
    error = send_message(Connection{fd_}, true, close_message(), &reply, reply_limit_ms());
    if (error == 0) error = reply;
  }
  // The connection ends whatever the answer.
  syscalls().close(fd_);
  fd_ = -1;
  return Status::error(error, "close child");
}

namespace {

// The processes that took an exchange and let its reply limit run out, by
// process handle (a pid reused by another process is another handle). Such
// a process is hung: asking it again would cost every caller the whole
// limit, so while it lives it gets no more exchanges, and they give 40 at
// once. A state of the host.
struct Unanswering {
  std::vector<std::array<int16_t, 10>> handles;
};

std::array<int16_t, 10> peer_handle(int fd) {
  std::array<int16_t, 10> handle;
  long pid = 0, uid = 0;
  if (syscalls().peer_credentials(fd, &pid, &uid) != 0 || pid <= 0) {
    null_handle(handle.data());
  } else {
    process_handle_of(pid, handle.data());
  }
  return handle;
}

}  // namespace

Status exchange_with_process(std::string_view name, std::span<const char> message,
                             std::span<char> reply, int16_t* reply_len, int16_t* reply_error) {
  *reply_len = 0;
  *reply_error = 0;
  const std::string process = process_name_from(std::string(name));
  if (process.empty()) return Status::error(err::kBadName, "process name");
  int fd = -1;
  if (int16_t error = connect_process(named_child(process), process, &fd); error != 0) {
    return Status::error(error, "connect " + process);
  }
  Connection connection{fd};
  std::vector<std::array<int16_t, 10>>& hung = host().state<Unanswering>().handles;
  const std::array<int16_t, 10> peer = peer_handle(fd);
  const bool known = peer[0] == 1;
  if (known && std::find(hung.begin(), hung.end(), peer) != hung.end()) {
    close_connection(&connection);
    return Status::error(err::kTimedOut, process + " did not answer before");
  }
  int16_t error = send_message(connection, true, open_message(), reply_error, reply_limit_ms());
  if (error == 0 && *reply_error == 0) {
    error = send_message(
        connection, false, Message(message.begin(), message.end()), reply_error, reply_limit_ms(),
        reply.data(), static_cast<int16_t>(std::min<size_t>(reply.size(), kMaxMessage)), reply_len);
    if (error == 0) {
      // The reply is in; the close's answer changes nothing of it, and a
      // process that does not answer the close is left at its limit.
      int16_t closed = 0;
      (void)send_message(connection, true, close_message(), &closed, reply_limit_ms());
    }
  }
  close_connection(&connection);
  if (error == err::kTimedOut && known) hung.push_back(peer);
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

Result<ReceiveQueueHandle> ReceiveQueueHandle::open(int16_t nowait_depth, int16_t receive_depth,
                                                    int16_t options) {
  int16_t filenum = zeb::kNotOpen;
  int16_t error = FILE_OPEN_(zeb::mask({1, 2, 3, 6, 7, 8}), "$RECEIVE", 8, &filenum, 0, 0,
                             nowait_depth, receive_depth, options);
  if (error != 0) return Status::error(error, "open $RECEIVE");
  return ReceiveQueueHandle(filenum);
}

}  // namespace zeb::platform
