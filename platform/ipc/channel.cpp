// Who talks to $RECEIVE: process handles, the private channel from a library
// parent, and the per-user directory where named processes listen.
#include "platform/ipc/channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/connection.h"
#include "platform/names/name_rules.h"

namespace zeb::platform {
namespace {

// The channel to the parent and the mother's handle, owned by the host.
// The channel is inherited, not opened by the host: it stays open when a
// host goes, since the process's own host may have adopted it as well.
struct ChannelState {
  int channel = -2;     // -2: ZEB_RECEIVE_FD not looked at yet; -1: no channel
  bool broken = false;  // the parent's channel was there but cannot carry a message
  bool mother_known = false;
  int16_t mother[10] = {};
};

ChannelState& channel_state() { return host().state<ChannelState>(); }

// The start time (clock ticks since boot) and owner of a process; 0 when
// they cannot be read.
void process_identity(long pid, uint64_t* start, uint32_t* uid) {
  *start = 0;
  *uid = 0;
  std::string dir = "/proc/" + std::to_string(pid);
  FileStatus st;
  if (syscalls().stat(dir.c_str(), &st) == 0) *uid = st.uid;
  std::string text;
  if (syscalls().read_file((dir + "/stat").c_str(), &text) != 0) return;
  // The command name in parentheses may hold anything; the fields after the
  // last ")" start with field 3 (the state). The start time is field 22.
  size_t close = text.rfind(')');
  if (close == std::string::npos) return;
  const char* p = text.c_str() + close;
  ++p;
  for (int field = 3; field < 22 && *p != '\0'; ++field) {
    while (*p == ' ') ++p;
    while (*p != ' ' && *p != '\0') ++p;
  }
  *start = std::strtoull(p, nullptr, 10);
}

// Whether a process has ended: it is gone, or a zombie its parent has not
// reaped yet.
bool process_ended(long pid) {
  std::string text;
  if (syscalls().read_file(("/proc/" + std::to_string(pid) + "/stat").c_str(), &text) != 0) {
    return errno == ENOENT || errno == ESRCH;
  }
  // The state is the first field after the command name in parentheses.
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() &&
         (text[close + 2] == 'Z' || text[close + 2] == 'X');
}

// The descriptor named by ZEB_RECEIVE_FD, when it is the far end of a
// private channel made by this process's parent: a Unix packet socket whose
// peer is the parent process. Anything else (a variable inherited past a
// program that is not a library parent, a descriptor since reused) is not a
// channel, and the program counts as started from a shell.
//
// Two kinds of descriptor are the parent's but carry no conversation, and
// are reported as broken (the start-up then ends with 201 at once, as when
// the parent hangs up): a listening socket the parent made, and the far end
// of a channel whose parent was killed before this process looked (the
// process has been handed to another parent, the channel's other end has
// hung up, and the process that made it is gone).
int adopt_channel(bool* broken) {
  *broken = false;
  const char* text = host().config().receive_fd ? host().config().receive_fd->c_str() : nullptr;
  if (text == nullptr || *text == '\0') return -1;
  char* end = nullptr;
  long fd = std::strtol(text, &end, 10);
  if (*end != '\0' || fd <= 2 || fd > 65535) return -1;
  int domain = 0, type = 0;
  long pid = 0, uid = 0;
  if (syscalls().socket_kind(static_cast<int>(fd), &domain, &type) != 0 || domain != AF_UNIX ||
      type != SOCK_SEQPACKET ||
      syscalls().peer_credentials(static_cast<int>(fd), &pid, &uid) != 0) {
    return -1;
  }
  if (pid != syscalls().getppid()) {
    pollfd look = {static_cast<int>(fd), POLLIN, 0};
    *broken = pid > 0 && syscalls().poll(&look, 1, 0) == 1 && (look.revents & POLLHUP) != 0 &&
              process_ended(pid);
    return -1;
  }
  if (syscalls().socket_listening(static_cast<int>(fd)) == 1) {
    *broken = true;
    return -1;
  }
  // The channel is this process's alone: its own children do not inherit it.
  // Should this fail, a child that inherits the channel still cannot
  // use it: the peer is checked against the parent (above).
  syscalls().set_cloexec(static_cast<int>(fd), true);
  return static_cast<int>(fd);
}

}  // namespace

void null_handle(int16_t* handle) {
  for (int i = 0; i < 10; ++i) handle[i] = -1;
}

void process_handle_of(long pid, int16_t* handle) {
  uint64_t start = 0;
  uint32_t uid = 0;
  process_identity(pid, &start, &uid);
  handle[0] = 1;
  handle[1] = cpupin_of(pid);
  handle[2] = static_cast<int16_t>((static_cast<uint64_t>(pid) >> 16) & 0xFFFF);
  handle[3] = static_cast<int16_t>(static_cast<uint64_t>(pid) & 0xFFFF);
  for (int i = 0; i < 4; ++i) {
    handle[4 + i] = static_cast<int16_t>((start >> (48 - 16 * i)) & 0xFFFF);
  }
  handle[8] = static_cast<int16_t>(uid & 0xFFFF);
  handle[9] = 0;
}

std::string process_name_from(std::string name) {
  if (!name.empty() && name[0] != '$') name.insert(name.begin(), '$');
  return is_dollar_name(name, 6) ? upper(name) : std::string();
}

std::string process_name() {
  const std::optional<std::string>& env = host().config().process_name;
  return env ? process_name_from(*env) : std::string();
}

int private_channel() {
  ChannelState& s = channel_state();
  if (s.channel == -2) s.channel = adopt_channel(&s.broken);
  return s.channel;
}

bool parent_channel_broken() {
  private_channel();
  return channel_state().broken;
}

void drop_private_channel() {
  ChannelState& s = channel_state();
  // The channel is dropped; nothing written is lost by its close.
  if (s.channel >= 0) syscalls().close(s.channel);
  s.channel = -1;
}

void mother_handle(int16_t* handle) {
  ChannelState& s = channel_state();
  if (!s.mother_known) {
    long pid = syscalls().getppid(), uid = 0;
    int channel = private_channel();
    // Without its credentials the mother is taken to be the parent.
    if (channel >= 0) syscalls().peer_credentials(channel, &pid, &uid);
    process_handle_of(pid, s.mother);
    s.mother_known = true;
  }
  std::memcpy(handle, s.mother, sizeof s.mother);
}

std::string socket_directory() {
  const std::optional<std::string>& configured = host().config().socket_dir;
  if (configured && !configured->empty()) return *configured;
  return "/tmp/zeb-" + std::to_string(syscalls().geteuid());
}

int16_t check_socket_directory(const std::string& dir, bool create) {
  // A relative directory would be another one in every working directory,
  // and a socket path longer than the host takes could never be bound:
  // both are refused before anything is made.
  if (dir.empty() || dir[0] != '/') {
    note_failure("the socket directory " + dir + " (ZEB_SOCKET_DIR) is not an absolute path");
    return err::kBadName;
  }
  if (dir.size() + kLongestSocketName > kMaxSocketPath) {
    note_failure("the socket directory " + dir + " (ZEB_SOCKET_DIR) is too long for a socket");
    return err::kBadName;
  }
  if (create && syscalls().mkdir(dir.c_str(), 0700) == 0) {
    // The umask may have taken bits away; the directory is made private.
    if (syscalls().chmod(dir.c_str(), 0700) != 0) return error_from_errno(errno);
  } else if (create && errno != EEXIST) {
    return error_from_errno(errno);
  }
  int fd = syscalls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
  if (fd < 0) {
    if (errno != ELOOP && errno != ENOTDIR) return error_from_errno(errno);
    note_failure("the socket directory " + dir + " is not a directory");
    return err::kSecurityViolation;
  }
  FileStatus st;
  int16_t error = 0;
  if (syscalls().fstat(fd, &st) != 0) {
    error = error_from_errno(errno);
  } else if (!st.is_directory() || static_cast<long>(st.uid) != syscalls().geteuid() ||
             (st.mode & 07777) != 0700) {
    // Another user's directory, or one that others can reach: its sockets
    // could belong to anybody.
    note_failure("the socket directory " + dir + " is not this user's own with mode 0700");
    error = err::kSecurityViolation;
  }
  // Only looked at: the close has nothing to lose.
  syscalls().close(fd);
  return error;
}

}  // namespace zeb::platform
