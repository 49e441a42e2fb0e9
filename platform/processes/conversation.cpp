// The sending side of $RECEIVE: messages, connections, the parent's side of
// the start-up conversation and children that a parent can talk to.
#include "platform/processes/conversation.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <zeb/platform/errors.h>
#include "platform/files/receive_internal.h"
#include "platform/host/syscalls.h"
#include "platform/rooms.h"

namespace zeb::platform {
namespace {

void put16(Message* m, int16_t value) {
  m->push_back(static_cast<char>((static_cast<uint16_t>(value) >> 8) & 0xFF));
  m->push_back(static_cast<char>(static_cast<uint16_t>(value) & 0xFF));
}

// Grows the message and copies into the new room (an insert of a range here
// draws a false bounds warning from GCC 12 at -O3).
void put_bytes(Message* m, const char* data, size_t length) {
  const size_t at = m->size();
  m->resize(at + length);
  if (length != 0) std::memcpy(m->data() + at, data, length);
}

}  // namespace

Message open_message() {
  Message m;
  put16(&m, kOpenCode);
  for (int i = 0; i < 5; ++i) put16(&m, 0);    // access, exclusion, nowait, sync depth, options
  for (int i = 0; i < 10; ++i) put16(&m, -1);  // no primary opener
  return m;
}

Message close_message() {
  Message m;
  put16(&m, kCloseCode);
  put16(&m, 0);
  return m;
}

Message startup_message(const char* defaults, const char* in_name, const char* out_name,
                        std::string_view text) {
  Message m;
  put16(&m, kStartupCode);
  put_bytes(&m, defaults, 16);
  put_bytes(&m, in_name, 24);
  put_bytes(&m, out_name, 24);
  put_bytes(&m, text.data(), text.size());
  m.push_back('\0');
  if (m.size() % 2 != 0) m.push_back('\0');
  return m;
}

Message assign_message(std::string_view logical_name, const char* physical_name) {
  Message m;
  put16(&m, kAssignCode);
  m.push_back(0);  // program part of the logical unit: none
  m.insert(m.end(), 31, ' ');
  size_t n = std::min<size_t>(logical_name.size(), 31);
  m.push_back(static_cast<char>(n));
  put_bytes(&m, logical_name.data(), n);
  m.insert(m.end(), 31 - n, ' ');
  put16(&m, static_cast<int16_t>(0x8000));  // field mask: the physical name is given
  put16(&m, 0);
  put_bytes(&m, physical_name, 24);
  for (int i = 0; i < 7; ++i) put16(&m, 0);  // extents, file code, exclusion, access, sizes
  return m;
}

Message param_message(const std::vector<std::pair<std::string, std::string>>& params) {
  Message m;
  put16(&m, kParamCode);
  put16(&m, static_cast<int16_t>(params.size()));
  for (const auto& [name, value] : params) {
    size_t n = std::min<size_t>(name.size(), 255), v = std::min<size_t>(value.size(), 255);
    m.push_back(static_cast<char>(n));
    put_bytes(&m, name.data(), n);
    m.push_back(static_cast<char>(v));
    put_bytes(&m, value.data(), v);
  }
  return m;
}

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
  std::string dir = socket_directory();
  int16_t error = check_socket_directory(dir, false);
  if (error == err::kNotFound) return err::kNoSuchDevice;
  if (error != 0) return error;
  std::string path = dir + "/" + wanted.substr(1);
  if (path.size() > kMaxSocketPath) return err::kBadName;
  int fd = syscalls().unix_socket(SOCK_SEQPACKET);
  if (fd < 0) return error_from_errno(errno);
  if (syscalls().connect_unix(fd, path.c_str()) != 0) {
    error =
        (errno == ENOENT || errno == ECONNREFUSED) ? err::kNoSuchDevice : error_from_errno(errno);
    syscalls().close(fd);
    return error;
  }
  connection->fd = fd;
  return 0;
}

void close_connection(Connection* connection) {
  if (connection->fd >= 0) syscalls().close(connection->fd);
  connection->fd = -1;
}

int16_t send_message(const Connection& connection, bool system, const Message& message,
                     int16_t* reply_error, int timeout_ms, void* reply_data, int16_t reply_max,
                     int16_t* reply_len) {
  if (message.size() > static_cast<size_t>(kMaxMessage)) return err::kOutOfBounds;
  if (connection.fd < 0) return err::kNotOpenFile;
  int16_t accept = std::max<int16_t>(reply_max, 0);
  Message frame;
  frame.push_back(system ? kFrameSystem : kFrameData);
  frame.push_back(0);
  put16(&frame, accept);
  frame.insert(frame.end(), message.begin(), message.end());
  if (syscalls().send(connection.fd, frame.data(), frame.size(), true) < 0) {
    return (errno == EPIPE || errno == ECONNRESET || errno == ENOTCONN) ? err::kPathDown
                                                                        : error_from_errno(errno);
  }
  pollfd wait = {connection.fd, POLLIN, 0};
  int ready = syscalls().poll(&wait, 1, timeout_ms);
  if (ready < 0) return error_from_errno(errno);
  if (ready == 0) return err::kTimedOut;
  char reply[kReplyHeader + kMaxMessage];
  long n = syscalls().recv(connection.fd, reply, sizeof reply, true);
  if (n < kReplyHeader) return err::kPathDown;
  n = std::min<long>(n, static_cast<long>(sizeof reply));
  *reply_error = static_cast<int16_t>((static_cast<unsigned char>(reply[0]) << 8) |
                                      static_cast<unsigned char>(reply[1]));
  size_t length = std::min<size_t>(static_cast<size_t>(n - kReplyHeader), accept);
  if (reply_data != nullptr && length > 0) std::memcpy(reply_data, reply + kReplyHeader, length);
  if (reply_len != nullptr) *reply_len = static_cast<int16_t>(length);
  return 0;
}

int16_t run_startup_conversation(const Connection& connection, const StartupConversation& talk,
                                 std::vector<int16_t>* replies, int timeout_ms) {
  auto send = [&](bool system, const Message& m) -> int16_t {
    int16_t reply = 0;
    int16_t error = send_message(connection, system, m, &reply, timeout_ms);
    if (error == 0) replies->push_back(reply);
    return error;
  };
  int16_t error = send(true, open_message());
  if (error != 0) return error;
  error = send(false, talk.startup);
  if (error != 0) return error;
  // A child that does not ask for more (reply 70, "continue") gets no
  // ASSIGN and no PARAM.
  if (replies->back() == 70) {
    for (const Message& m : talk.assigns) {
      if ((error = send(false, m)) != 0) return error;
    }
    for (const Message& m : talk.params) {
      if ((error = send(false, m)) != 0) return error;
    }
  }
  return send(true, close_message());
}

int16_t start_child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                    bool with_channel, Child* child) {
  if (argv.empty()) return err::kMissingParameter;
  Child result;
  int child_end = -1;
  if (with_channel) {
    int16_t error = make_private_channel(&result.channel, &child_end);
    if (error != 0) return error;
  }
  // The environment: ours, less what extra_env and the channel replace.
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> names;
  for (const std::string& e : extra_env) names.push_back(name_of(e));
  names.push_back("ZEB_RECEIVE_FD");
  std::vector<std::string> env;
  for (const std::string& entry : syscalls().environment()) {
    if (std::find(names.begin(), names.end(), name_of(entry)) == names.end()) env.push_back(entry);
  }
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  if (with_channel) env.push_back("ZEB_RECEIVE_FD=" + std::to_string(child_end));
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  long pid = syscalls().spawn(args[0], args.data(), envp.data(), child_end, 0);
  int16_t error = pid < 0 ? error_from_errno(errno) : 0;
  if (child_end >= 0) syscalls().close(child_end);
  if (error != 0) {
    close_connection(&result.channel);
    return error;
  }
  result.pid = static_cast<int>(pid);
  *child = result;
  return 0;
}

int wait_child(Child* child) {
  close_connection(&child->channel);
  if (child->pid <= 0) return -1;
  int status = -1;
  long rc = syscalls().waitpid(child->pid, &status, false);
  child->pid = -1;
  return rc < 0 ? -1 : status;
}

}  // namespace zeb::platform
