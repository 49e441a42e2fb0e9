// Process creation on Linux, and the children this process made (see
// newprocess.h and the "Processes" section of platform/README.md).
#include <zeb/platform/newprocess.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/procinfo.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/name_lock.h"
#include "platform/names/file_names.h"
#include "platform/names/name_rules.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

// A child made by NEWPROCESS that has not been reaped yet.
struct ChildEntry {
  long pid = 0;
  int pidfd = -1;        // -1 where the host gives no pidfd
  int channel = -1;      // this process's end of the child's private channel
  std::string name;      // the process name it was given; empty when unnamed
  bool watched = false;  // a thread waits for its end
};

// The children of one host, shared with the threads that reap them: a
// watcher holds the table as long as it runs, so one that wakes after its
// host went (a test's host, or the process's at exit) finds the table
// intact and cleans up only its own entry.
struct Children {
  std::mutex lock;
  std::condition_variable forgotten;  // an entry has gone from the table
  std::vector<ChildEntry> entries;
};

// The host's state: its table of children. A host that goes forgets its
// children; their watchers reap them and close what was kept for them.
struct ChildrenState {
  std::shared_ptr<Children> table = std::make_shared<Children>();
};

std::shared_ptr<Children> children_table() { return host().state<ChildrenState>().table; }
Children& children() { return *host().state<ChildrenState>().table; }

void forget(Children& c, long pid, const std::function<int(int)>& close);

// Waits for one child to end, reaps it and closes what was kept for it. The
// thread uses the seam entries as they stood when the child was made.
void watch(std::shared_ptr<Children> table, long pid, int pidfd,
           std::function<int(int, long, bool)> wait_exit, std::function<int(int)> close) {
  // However the wait ends, the child is forgotten: it cannot be waited
  // for again.
  wait_exit(pidfd, pid, true);
  forget(*table, pid, close);
}

// Takes an ended child out of the table and closes what was kept for it.
void forget(Children& c, long pid, const std::function<int(int)>& close) {
  std::lock_guard<std::mutex> guard(c.lock);
  for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
    if (it->pid != pid) continue;
    // What was kept for a child that has ended: nothing to lose.
    if (it->channel >= 0) close(it->channel);
    if (it->pidfd >= 0) close(it->pidfd);
    c.entries.erase(it);
    break;
  }
  c.forgotten.notify_all();
}

void add_child(const ChildEntry& entry) {
  Children& c = children();
  std::lock_guard<std::mutex> guard(c.lock);
  c.entries.push_back(entry);
}

// Reaps the children without a watcher that have ended.
void reap_unwatched() {
  std::vector<long> ended;
  {
    Children& c = children();
    std::lock_guard<std::mutex> guard(c.lock);
    for (const ChildEntry& e : c.entries) {
      if (!e.watched && syscalls().wait_exit(e.pidfd, e.pid, false) != 1) ended.push_back(e.pid);
    }
  }
  for (long pid : ended) forget(children(), pid, syscalls().close);
}

std::string trimmed(const char* text, size_t size) {
  std::string s(text, size);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// The directories searched for $ZHOST.SUBVOL.FILE: this program's own, then
// those of PATH, in that order.
std::vector<std::string> program_directories() {
  std::vector<std::string> dirs;
  std::string exe;
  if (syscalls().readlink("/proc/self/exe", &exe) == 0) {
    size_t slash = exe.rfind('/');
    if (slash != std::string::npos) dirs.push_back(slash == 0 ? "/" : exe.substr(0, slash));
  }
  std::string list = host().config().path.value_or("");
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string dir = list.substr(start, end - start);
    if (!dir.empty() && dir[0] == '/' && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) {
      dirs.push_back(dir);
    }
    start = end + 1;
  }
  return dirs;
}

std::string base_name(const std::string& dir) {
  std::string d = dir;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  size_t slash = d.rfind('/');
  return slash == std::string::npos ? d : d.substr(slash + 1);
}

// The host path of $ZHOST.SUBVOL.FILE: the first directory (as above) whose
// name gives SUBVOL holding a file whose name gives FILE; within a directory
// the file spelled FILE in lower case wins, then the first in name order.
int16_t zhost_path(const std::string& subvol, const std::string& file, std::string* path) {
  for (const std::string& dir : program_directories()) {
    std::string base = base_name(dir);
    if (program_name_part(base == "/" || base.empty() ? "ROOT" : base) != subvol) continue;
    std::vector<std::string> names;
    if (syscalls().list_directory(dir.c_str(), &names) != 0) continue;
    std::sort(names.begin(), names.end());
    auto exact = std::find(names.begin(), names.end(), lower(file));
    auto found = exact != names.end()
                     ? exact
                     : std::find_if(names.begin(), names.end(), [&](const std::string& n) {
                         return program_name_part(n) == file;
                       });
    if (found == names.end()) continue;
    FileStatus status;
    std::string candidate = (dir == "/" ? "" : dir) + "/" + *found;
    if (syscalls().stat(candidate.c_str(), &status) != 0 || !status.is_regular()) continue;
    *path = candidate;
    return 0;
  }
  return err::kNotFound;
}

// The host path of a program file's internal name; 0 or the detail of the
// program-file error.
int16_t program_path(const char* program, std::string* path) {
  std::string volume = trimmed(program, 8);
  if (volume == "$ZHOST") {
    std::string subvol = trimmed(program + 8, 8), file = trimmed(program + 16, 8);
    if (subvol.empty() || file.empty()) return err::kBadName;
    return zhost_path(subvol, file, path);
  }
  Result<std::string> found = host_path_of_internal(program);
  if (found.ok()) *path = std::move(*found);
  return found.code();
}

// Why spawn failed, as a creation error word. path is the program file.
int16_t creation_error(int e, const std::string& path) {
  switch (e) {
    case ENOENT: {
      // The program file is there, and exec still found no file: what is
      // missing is the interpreter its "#!" line names (or the loader an
      // executable asks for), a file the program needs to run.
      FileStatus status;
      if (syscalls().stat(path.c_str(), &status) == 0) {
        return zeb::create_error_word(zeb::kCreateLibraryFile, err::kNotFound);
      }
      return zeb::create_error_word(zeb::kCreateProgramFile, err::kNotFound);
    }
    case EAGAIN:
    case ENOMEM:
      return zeb::create_error_word(zeb::kCreateOutOfProcesses, error_from_errno(e));
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return zeb::create_error_word(zeb::kCreateProgramFile, error_from_errno(e));
    case EACCES:
    case EPERM:
      // No execute permission: the file is no program for this user.
      return zeb::create_error_word(zeb::kCreateNotProgram, err::kSecurityViolation);
    case EMFILE:
    case ENFILE:
      return zeb::create_error_word(zeb::kCreateOutOfProcesses, err::kNoControlBlock);
    default:  // ENOEXEC, ELIBBAD, EISDIR, ETXTBSY, ...
      return zeb::create_error_word(zeb::kCreateNotProgram, error_from_errno(e));
  }
}

// The nice increment for a priority (see NEWPROCESS in newprocess.h).
int nice_increment(int16_t priority) {
  if (priority <= 0) return 0;
  int p = std::min<int>(priority, 199);
  int below = zeb::kOwnPriority - p;
  return below >= 0 ? (below + 4) / 5 : -((-below) / 5);
}

bool is_variable(const char* entry, const char* name) {
  size_t n = std::strlen(name);
  return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
}

}  // namespace

std::string node_name() {
  std::string host;
  if (syscalls().read_system_file("/proc/sys/kernel/hostname", &host) != 0) host.clear();
  // The host name up to its first dot, made a name by the platform's rule
  // for host text.
  std::string name = name_from_host(host.substr(0, host.find_first_of(".\n")), 'N');
  std::string node = "\\";
  node.append(name, 0, 7);
  return node;
}

int dup_child_channel(long pid) {
  Children& c = children();
  std::lock_guard<std::mutex> guard(c.lock);
  for (const ChildEntry& e : c.entries) {
    if (e.pid == pid && e.channel >= 0) return syscalls().dup(e.channel);
  }
  errno = ESRCH;
  return -1;
}

long named_child(const std::string& name) {
  if (name.empty()) return 0;
  long pid = 0;
  {
    Children& c = children();
    std::lock_guard<std::mutex> guard(c.lock);
    for (const ChildEntry& e : c.entries) {
      if (e.name == name) {
        pid = e.pid;
        break;
      }
    }
  }
  // A child that has ended but is not reaped yet answers no more: it is
  // not there, as when the process table is searched.
  return pid != 0 && process_alive(pid) ? pid : 0;
}

void end_child(long pid) {
  std::shared_ptr<Children> table = children_table();
  Children& c = *table;
  std::unique_lock<std::mutex> guard(c.lock);
  auto entry = [&c, pid] {
    return std::find_if(c.entries.begin(), c.entries.end(),
                        [pid](const ChildEntry& e) { return e.pid == pid; });
  };
  auto it = entry();
  if (it == c.entries.end()) return;
  // Not reaped yet, so the pid is still this child's. A child that has
  // just ended needs no signal: the failure is harmless.
  (void)syscalls().kill_child(it->pidfd, it->pid);
  if (!it->watched) {
    // Nobody else reaps it: this thread does, as the watcher would.
    const int pidfd = it->pidfd;
    guard.unlock();
    syscalls().wait_exit(pidfd, pid, true);
    forget(c, pid, syscalls().close);
    return;
  }
  // Its watcher reaps it and forgets it; SIGKILL cannot be caught, so this
  // wait ends as soon as the host has ended the child.
  c.forgotten.wait(guard, [&] { return entry() == c.entries.end(); });
}

namespace {
// The creator as the host first saw it: a creator that ends leaves its
// children to init, and the process still names the one that made it.
struct CreatorState {
  bool known = false;
  long pid = 0;
};
}  // namespace

long creator_pid() {
  CreatorState& s = host().state<CreatorState>();
  if (!s.known) {
    long parent = syscalls().getppid();
    s.pid = parent > 1 ? parent : 0L;
    s.known = true;
  }
  return s.pid;
}

std::optional<std::array<int16_t, 4>> creator_identifier() {
  long pid = creator_pid();
  if (pid == 0 || !process_alive(pid)) return std::nullopt;
  std::array<int16_t, 4> id;
  process_identifier_of(pid, id.data());
  return id;
}

Result<NamedProcess> lookup_process_name(const std::string& name) {
  long pid = find_named_process(trimmed(name.data(), std::min<size_t>(name.size(), 6)));
  if (pid == 0) return Status::error(err::kNoSuchDevice, "no process " + name);
  NamedProcess found;
  int16_t id[4];
  process_identifier_of(pid, id);
  found.cpupin = id[3];
  long parent = pid == static_cast<long>(syscalls().getpid()) ? creator_pid() : parent_of(pid);
  if (parent > 1 && process_alive(parent)) process_identifier_of(parent, found.parent.data());
  return found;
}

Result<HandleParts> decompose_handle(const int16_t* handle) {
  HandleParts parts;
  if (!handle_pid(handle, &parts.pid)) return Status::error(err::kOutOfBounds, "process handle");
  const uint16_t word = static_cast<uint16_t>(handle[1]);
  parts.cpu = static_cast<int16_t>(word >> 8);
  parts.pin = static_cast<int16_t>(word & 0xFF);
  int16_t id[4];
  process_identifier_of(parts.pid, id);
  if ((reinterpret_cast<const unsigned char*>(id)[0] & 0x80) == 0) {
    parts.process_name = trimmed(reinterpret_cast<const char*>(id), 6);
  }
  for (int i = 4; i < 8; ++i)
    parts.sequence = (parts.sequence << 16) | static_cast<uint16_t>(handle[i]);
  return parts;
}

Result<int32_t> node_number(std::string_view name) {
  if (upper(name) != node_name()) return Status::error(18, "no node " + std::string(name));
  return int32_t{kSystemNumber};
}

bool handle_pid(const int16_t* handle, long* pid) {
  if (handle[0] != 1) return false;
  long p = (static_cast<long>(static_cast<uint16_t>(handle[2])) << 16) |
           static_cast<uint16_t>(handle[3]);
  if (p <= 0 || !process_alive(p)) return false;
  int16_t id[4];
  process_identifier_of(p, id);
  if (id[3] != handle[1]) return false;
  *pid = p;
  return true;
}

Result<Created> create_process(const CreateRequest& request) {
  auto failed = [](int16_t kind, int16_t detail) {
    return Status::error(zeb::create_error_word(kind, detail), "create process");
  };
  if (request.program == nullptr) return failed(zeb::kCreateProgramFile, err::kMissingParameter);
  std::string path;
  if (int16_t detail = program_path(request.program, &path); detail != 0) {
    return failed(zeb::kCreateProgramFile, detail);
  }
  std::string own_name;
  NameReservation reservation;  // a named child's name, held until the child runs
  if (request.name != nullptr) {
    std::string text = trimmed(request.name, 6);
    own_name = process_name_from(text);
    if (own_name.empty() || text[0] != '$') return failed(zeb::kCreateNameError, err::kBadName);
    if (Status held = reservation.hold(own_name); !held.ok()) {
      // The creation's word, with the note of what was in the way.
      return Status::error(zeb::create_error_word(zeb::kCreateNameError, held.code()), held.what());
    }
  }

  const Syscalls& sys = syscalls();
  int pair[2];
  if (sys.socketpair(pair) != 0) {
    // No channel for the new process: this process is out of descriptors
    // (34) or memory for the link (30, 31), and no process was asked for.
    // That is a file-system error of this process, not the host refusing
    // a process: the plain error, never a creation error word.
    return Status::from_errno(errno, "no channel for a new process");
  }
  // The descriptor the child's pidfd will take, held until the child runs:
  // under a descriptor limit the creation fails before a child exists,
  // rather than leave one that cannot be watched or talked to.
  const int reserved = sys.dup(pair[0]);
  if (reserved < 0) {
    const int16_t error = error_from_errno(errno);
    sys.close(pair[0]);
    sys.close(pair[1]);
    return failed(zeb::kCreateOutOfProcesses, error);
  }
  // The environment: the host's configuration (every variable this
  // process's library read when its host was built, with the changes made
  // to it since), less the name and the channel, which are this process's
  // own. Not the live environment: a child must see what its parent's
  // library sees (the socket directory, the volumes, the reply limit), and
  // a test's host reaches the children it makes.
  std::vector<std::string> env;
  for (const std::string& e : host().config().entries) {
    if (is_variable(e.c_str(), "ZEB_PROCESS_NAME") || is_variable(e.c_str(), "ZEB_RECEIVE_FD"))
      continue;
    env.push_back(e);
  }
  if (!own_name.empty()) env.push_back("ZEB_PROCESS_NAME=" + own_name);
  env.push_back("ZEB_RECEIVE_FD=" + std::to_string(pair[1]));
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {path.data(), nullptr};

  const long pid =
      sys.spawn(path.c_str(), argv, envp.data(), pair[1], nice_increment(request.priority));
  const int spawn_errno = errno;
  // The child has its own copy of its end; ours is closed whatever
  // happens, and so is the reserved descriptor, now free for the pidfd.
  sys.close(pair[1]);
  sys.close(reserved);
  if (pid < 0) {
    // No child: the spawn's error is the one reported.
    sys.close(pair[0]);
    return Status::error(creation_error(spawn_errno, path), "spawn " + path);
  }
  ChildEntry entry;
  entry.pid = pid;
  entry.pidfd = sys.pidfd_open(pid);
  entry.channel = pair[0];
  entry.name = own_name;
  reap_unwatched();
  entry.watched = true;
  add_child(entry);
  if (sys.start_thread([table = children_table(), pid, pidfd = entry.pidfd,
                        wait_exit = sys.wait_exit,
                        close = sys.close] { watch(table, pid, pidfd, wait_exit, close); }) != 0) {
    // No thread to be had (the host's process limit counts threads too):
    // the child is reaped by a later NEWPROCESS once it has ended.
    Children& c = children();
    std::lock_guard<std::mutex> guard(c.lock);
    for (ChildEntry& e : c.entries) e.watched = e.watched && e.pid != pid;
  }

  Created created;
  created.pid = pid;
  // The child's name is the one it was given: its environment need not be
  // read back.
  process_identifier_named(pid, own_name, created.id.data());
  return created;
}

}  // namespace zeb::platform
