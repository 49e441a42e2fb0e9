// Who talks to $RECEIVE: process handles, the private channel from a library
// parent, and the per-user directory where named processes listen.
#include "platform/ipc/channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/config.h"
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
  if (syscalls().read_system_file((dir + "/stat").c_str(), &text) != 0) return;
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
  if (syscalls().read_system_file(("/proc/" + std::to_string(pid) + "/stat").c_str(), &text) != 0) {
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

namespace {

std::string descriptor_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Who owns a file, for a note: "name (uid N)", or "uid N" without an entry.
std::string owner_text(uint32_t uid) {
  std::string user, group;
  if (syscalls().user_names(uid, &user, &group) == 0) {
    return user + " (uid " + std::to_string(uid) + ")";
  }
  return "uid " + std::to_string(uid);
}

bool is_link(const FileStatus& st) { return (st.mode & 0170000u) == 0120000u; }

void split_path(const std::string& path, std::deque<std::string>* parts, bool front) {
  std::deque<std::string> found;
  size_t at = 0;
  while (at <= path.size()) {
    size_t slash = path.find('/', at);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(at, slash - at);
    if (!part.empty() && part != ".") found.push_back(std::move(part));
    at = slash + 1;
  }
  parts->insert(front ? parts->begin() : parts->end(), found.begin(), found.end());
}

// What walking a directory's path found.
struct Walked {
  int fd = -1;           // the directory's last component (O_PATH), when not refused
  FileStatus status;     // of what stands at the last component
  bool created = false;  // made by this walk
  std::string refusal;   // why it was refused ("" when not)
  bool foreign = false;  // refused because another user owns what was met
};

// The kernel's own limit of links in one path.
constexpr int kMostLinks = 40;

// Walks path (absolute) from "/" a component at a time, each opened with
// O_PATH | O_NOFOLLOW, so that no link is followed unseen: a link that root
// or this user owns is followed by its text, read from the very link that
// was looked at; one that another user owns could be turned elsewhere at
// any moment, and is refused. The last component is never followed: it must
// be what is used. With create a missing last component is made a
// directory (mode 0700). Returns success (refusals included: see *w) or the
// error, its note the path.
Status walk_directory(const std::string& path, bool create, Walked* w) {
  const Syscalls& sys = syscalls();
  const long euid = sys.geteuid();
  std::deque<std::string> parts;
  split_path(path, &parts, false);
  int at = sys.open("/", O_PATH | O_DIRECTORY, 0);
  if (at < 0) return Status::from_errno(errno, path);
  int links = 0;
  Status error;
  while (!parts.empty()) {
    const std::string part = parts.front();
    parts.pop_front();
    const bool last = parts.empty();
    int next = sys.openat(at, part.c_str(), O_PATH | O_NOFOLLOW, 0);
    if (next < 0 && errno == ENOENT && last && create) {
      // Another process of this user may make it at the same moment.
      if (sys.mkdir((descriptor_path(at) + "/" + part).c_str(), 0700) == 0) {
        w->created = true;
      } else if (errno != EEXIST) {
        error = Status::from_errno(errno, path);
        break;
      }
      next = sys.openat(at, part.c_str(), O_PATH | O_NOFOLLOW, 0);
    }
    if (next < 0) {
      error = Status::from_errno(errno, path);
      break;
    }
    FileStatus st;
    if (sys.fstat(next, &st) != 0) {
      error = Status::from_errno(errno, path);
      sys.close(next);
      break;
    }
    if (is_link(st) && !last) {
      std::string target;
      if (st.uid != 0 && static_cast<long>(st.uid) != euid) {
        w->refusal = "is reached through the symbolic link " + part + ", which " +
                     owner_text(st.uid) + " owns";
        w->foreign = true;
      } else if (++links > kMostLinks) {
        error = Status::from_errno(ELOOP, path);
      } else if (sys.readlinkat(next, "", &target) != 0) {
        error = Status::from_errno(errno, path);
      } else if (!target.empty() && target[0] == '/') {
        sys.close(at);
        at = sys.open("/", O_PATH | O_DIRECTORY, 0);
        if (at < 0) error = Status::from_errno(errno, path);
      }
      sys.close(next);
      if (!error.ok() || !w->refusal.empty()) break;
      split_path(target, &parts, true);
      continue;
    }
    if (!st.is_directory() && !last) {
      error = Status::from_errno(ENOTDIR, path);
      sys.close(next);
      break;
    }
    sys.close(at);
    at = next;
    if (last) w->status = st;
  }
  if (!error.ok() || !w->refusal.empty()) {
    sys.close(at);
    return error;
  }
  if (parts.empty() && w->status.mode == 0 && sys.fstat(at, &w->status) != 0) {
    // The path named "/" itself.
    error = Status::from_errno(errno, path);
    sys.close(at);
    return error;
  }
  w->fd = at;
  return Status();
}

}  // namespace

void SocketDirectory::close() {
  // An O_PATH descriptor: nothing to lose.
  if (fd >= 0) syscalls().close(fd);
  fd = -1;
}

std::string SocketDirectory::file(const std::string& name) const {
  return descriptor_path(fd) + "/" + name;
}

std::string socket_directory() {
  const Configuration& config = host().config();
  if (config.socket_dir && !config.socket_dir->empty()) return *config.socket_dir;
  const std::string euid = std::to_string(syscalls().geteuid());
  // The directory the system makes for the user at log-in is private from
  // the start, so nobody can take the name of the default first. Without
  // XDG_RUNTIME_DIR (cron, sudo) the system's place of it is tried, so that
  // the user's processes all meet in one directory.
  std::vector<std::string> runtime;
  if (config.runtime_dir && !config.runtime_dir->empty()) runtime.push_back(*config.runtime_dir);
  runtime.push_back("/run/user/" + euid);
  for (const std::string& dir : runtime) {
    if (dir[0] != '/' || dir.size() + 4 + kLongestSocketName > kMaxSocketPath) continue;
    Walked w;
    if (!walk_directory(dir, false, &w).ok() || !w.refusal.empty()) continue;
    syscalls().close(w.fd);
    if (!is_link(w.status) && w.status.is_directory() &&
        static_cast<long>(w.status.uid) == syscalls().geteuid() && (w.status.mode & 077) == 0) {
      return dir + (dir.back() == '/' ? "zeb" : "/zeb");
    }
  }
  return "/tmp/zeb-" + euid;
}

Status open_socket_directory(const std::string& dir, bool create, SocketDirectory* out) {
  out->close();
  out->path = dir;
  out->foreign = false;
  // A relative directory would be another one in every working directory,
  // and a socket path longer than the host takes could not be named by
  // other programs: both are refused before anything is made.
  if (dir.empty() || dir[0] != '/') {
    return Status::error(
        err::kBadName, "the socket directory " + dir + " (ZEB_SOCKET_DIR) is not an absolute path");
  }
  if (dir.size() + kLongestSocketName > kMaxSocketPath) {
    return Status::error(err::kBadName, "the socket directory " + dir +
                                            " (ZEB_SOCKET_DIR) is too long for a socket");
  }
  Walked w;
  if (Status walked = walk_directory(dir, create, &w); !walked.ok()) return walked;
  const long euid = syscalls().geteuid();
  const FileStatus& st = w.status;
  std::string refusal = w.refusal;
  bool foreign = w.foreign;
  if (refusal.empty()) {
    foreign = static_cast<long>(st.uid) != euid;
    if (is_link(st)) {
      refusal = "is a symbolic link, owned by " + owner_text(st.uid);
    } else if (!st.is_directory()) {
      refusal = "is not a directory (its owner is " + owner_text(st.uid) + ")";
    } else if (foreign) {
      refusal = "belongs to " + owner_text(st.uid) + ", not to this user";
    } else if (w.created && syscalls().chmod(descriptor_path(w.fd).c_str(), 0700) != 0) {
      // The umask may have taken bits away: the directory is made private.
      const Status error = Status::from_errno(errno);
      syscalls().close(w.fd);
      return error;
    } else if (!w.created && (st.mode & 07777) != 0700) {
      // One that others can reach: its sockets could be anybody's.
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", st.mode & 07777);
      refusal = std::string("has mode ") + mode + ", not 0700";
    }
  }
  if (!refusal.empty()) {
    if (w.fd >= 0) syscalls().close(w.fd);
    out->foreign = foreign;
    return Status::error(err::kSecurityViolation,
                         "the socket directory " + dir + " " + refusal +
                             (foreign ? "; set ZEB_SOCKET_DIR to a directory of your own" : ""));
  }
  out->fd = w.fd;
  return Status();
}

Status check_socket_directory(const std::string& dir, bool create) {
  SocketDirectory opened;
  return open_socket_directory(dir, create, &opened);
}

uint64_t process_start_time(long pid) {
  uint64_t start = 0;
  uint32_t uid = 0;
  process_identity(pid, &start, &uid);
  return start;
}

}  // namespace zeb::platform
