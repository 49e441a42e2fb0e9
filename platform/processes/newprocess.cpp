// Process creation and process identity on Linux (see newprocess.h and the
// "Processes" section of platform/README.md).
#include <zeb/platform/newprocess.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/procinfo.h>
#include "platform/files/receive_internal.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/name_rules.h"
#include "platform/rooms.h"

namespace err = zeb::err;
using zeb::present;

namespace zeb::platform {
namespace {

// A child made by NEWPROCESS that has not been reaped yet.
struct ChildEntry {
  long pid = 0;
  int pidfd = -1;        // -1 where the host gives no pidfd
  int channel = -1;      // this process's end of the child's private channel
  bool watched = false;  // a thread waits for its end
};

// The children, shared with the threads that reap them. Never destroyed, so
// a reaper that wakes while the program exits finds it intact.
struct Children {
  std::mutex lock;
  std::vector<ChildEntry> entries;
};
Children& children() {
  static Children* c = new Children;
  return *c;
}

// Waits for one child to end, reaps it and closes what was kept for it. The
// thread uses the seam entries as they stood when the child was made.
void forget(long pid, const std::function<int(int)>& close);

void watch(long pid, int pidfd, std::function<int(int, long, bool)> wait_exit,
           std::function<int(int)> close) {
  wait_exit(pidfd, pid, true);
  forget(pid, close);
}

// Takes an ended child out of the table and closes what was kept for it.
void forget(long pid, const std::function<int(int)>& close) {
  Children& c = children();
  std::lock_guard<std::mutex> guard(c.lock);
  for (auto it = c.entries.begin(); it != c.entries.end(); ++it) {
    if (it->pid != pid) continue;
    if (it->channel >= 0) close(it->channel);
    if (it->pidfd >= 0) close(it->pidfd);
    c.entries.erase(it);
    break;
  }
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
  for (long pid : ended) forget(pid, syscalls().close);
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
  return host_path_of_internal(program, path);
}

// Why spawn failed, as a creation error word.
int16_t creation_error(int e) {
  switch (e) {
    case EAGAIN:
    case ENOMEM:
      return zeb::create_error_word(zeb::kCreateOutOfProcesses, error_from_errno(e));
    case ENOENT:
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

// This process's creator's pid, fixed at the first use (0: not known).
long creator_pid() {
  static const long pid = [] {
    long parent = syscalls().getppid();
    return parent > 1 ? parent : 0L;
  }();
  return pid;
}

// Process handles (layout in platform/README.md and receive.h).
void make_handle(long pid, int16_t* handle) { process_handle_of(pid, handle); }

// The living process a handle names.
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

}  // namespace

std::string node_name() {
  std::string host;
  if (syscalls().read_file("/proc/sys/kernel/hostname", &host) != 0) host.clear();
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

}  // namespace zeb::platform

using namespace zeb::platform;

int16_t NEWPROCESS(uint32_t mask, const char* program, int16_t priority, int16_t /*memory_pages*/,
                   int16_t /*processor*/, int16_t* process_id, int16_t* error, const char* name,
                   const char* /*hometerm*/) {
  auto result = [&](int16_t word) {
    if (present(mask, 6) && error != nullptr) *error = word;
    return word;
  };
  if (!zeb::mask_fits(mask, 8)) {
    return result(zeb::create_error_word(zeb::kCreateProgramFile, err::kInvalidOperation));
  }
  if (!present(mask, 1) || program == nullptr) {
    return result(zeb::create_error_word(zeb::kCreateProgramFile, err::kMissingParameter));
  }
  std::string path;
  if (int16_t detail = program_path(program, &path); detail != 0) {
    return result(zeb::create_error_word(zeb::kCreateProgramFile, detail));
  }
  std::string own_name;
  if (present(mask, 7) && name != nullptr) {
    std::string text = trimmed(name, 6);
    own_name = process_name_from(text);
    if (own_name.empty() || text[0] != '$') {
      return result(zeb::create_error_word(zeb::kCreateNameError, err::kBadName));
    }
    if (find_named_process(own_name) != 0) {
      return result(zeb::create_error_word(zeb::kCreateNameError, err::kFileInUse));
    }
  }

  const Syscalls& sys = syscalls();
  int pair[2];
  if (sys.socketpair(pair) != 0) {
    return result(zeb::create_error_word(zeb::kCreateOutOfProcesses, last_error()));
  }
  // The environment: this process's, less its name and its own channel.
  std::vector<std::string> env;
  for (std::string& e : sys.environment()) {
    if (is_variable(e.c_str(), "ZEB_PROCESS_NAME") || is_variable(e.c_str(), "ZEB_RECEIVE_FD"))
      continue;
    env.push_back(std::move(e));
  }
  if (!own_name.empty()) env.push_back("ZEB_PROCESS_NAME=" + own_name);
  env.push_back("ZEB_RECEIVE_FD=" + std::to_string(pair[1]));
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {path.data(), nullptr};

  const long pid = sys.spawn(path.c_str(), argv, envp.data(), pair[1],
                             nice_increment(present(mask, 2) ? priority : -1));
  const int spawn_errno = errno;
  sys.close(pair[1]);
  if (pid < 0) {
    sys.close(pair[0]);
    return result(creation_error(spawn_errno));
  }
  ChildEntry entry;
  entry.pid = pid;
  entry.pidfd = sys.pidfd_open(pid);
  entry.channel = pair[0];
  reap_unwatched();
  entry.watched = true;
  add_child(entry);
  try {
    std::thread(watch, pid, entry.pidfd, sys.wait_exit, sys.close).detach();
  } catch (const std::system_error&) {
    // No thread to be had (the host's process limit counts threads too):
    // the child is reaped by a later NEWPROCESS once it has ended.
    Children& c = children();
    std::lock_guard<std::mutex> guard(c.lock);
    for (ChildEntry& e : c.entries) e.watched = e.watched && e.pid != pid;
  }

  if (present(mask, 5) && process_id != nullptr) {
    process_identifier_of(pid, process_id);
    if (!own_name.empty()) {
      char* id = reinterpret_cast<char*>(process_id);
      std::memset(id, ' ', 6);
      std::memcpy(id, own_name.data(), own_name.size());
    }
  }
  return result(0);
}

void MOM(int16_t* process_id) {
  long pid = creator_pid();
  if (pid != 0 && process_alive(pid)) {
    process_identifier_of(pid, process_id);
  } else {
    std::memset(process_id, 0, 8);
  }
}

void MYTERM(char* name) {
  std::memset(name, ' ', 24);
  std::memcpy(name, kHomeTerminalName.data(), kHomeTerminalName.size());
}

int16_t LOOKUPPROCESSNAME(int16_t* ppd) {
  if (ppd == nullptr) return err::kMissingParameter;
  long pid = find_named_process(trimmed(reinterpret_cast<const char*>(ppd), 6));
  if (pid == 0) return err::kNoSuchDevice;
  int16_t id[4];
  process_identifier_of(pid, id);
  ppd[3] = id[3];
  ppd[4] = 0;
  long parent = pid == static_cast<long>(syscalls().getpid()) ? creator_pid() : parent_of(pid);
  if (parent > 1 && process_alive(parent)) {
    process_identifier_of(parent, ppd + 5);
  } else {
    std::memset(ppd + 5, 0, 8);
  }
  return 0;
}

void PROCESSHANDLE_GETMINE_(int16_t* handle) {
  make_handle(static_cast<long>(syscalls().getpid()), handle);
}

int16_t PROCESSHANDLE_DECOMPOSE_(uint32_t mask, const int16_t* handle, int16_t* cpu, int16_t* pin,
                                 int32_t* node, char* nodename, int16_t nodename_max,
                                 int16_t* nodename_len, char* procname, int16_t procname_max,
                                 int16_t* procname_len, int64_t* sequence) {
  if (!zeb::mask_fits(mask, 11)) return err::kInvalidOperation;
  if (!present(mask, 1) || handle == nullptr) return err::kMissingParameter;
  long pid = 0;
  if (!handle_pid(handle, &pid)) return err::kOutOfBounds;
  const uint16_t word = static_cast<uint16_t>(handle[1]);
  if (present(mask, 2) && cpu != nullptr) *cpu = static_cast<int16_t>(word >> 8);
  if (present(mask, 3) && pin != nullptr) *pin = static_cast<int16_t>(word & 0xFF);
  if (present(mask, 4) && node != nullptr) *node = MYSYSTEMNUMBER();
  auto copy_out = [&](const std::string& text, char* buffer, int16_t max, int16_t* len) {
    if (buffer == nullptr) return true;
    if (static_cast<size_t>(std::max<int16_t>(max, 0)) < text.size()) return false;
    std::memcpy(buffer, text.data(), text.size());
    if (len != nullptr) *len = static_cast<int16_t>(text.size());
    return true;
  };
  if (present(mask, 5) && !copy_out(node_name(), nodename, present(mask, 6) ? nodename_max : 0,
                                    present(mask, 7) ? nodename_len : nullptr)) {
    return err::kOutOfBounds;
  }
  if (present(mask, 8)) {
    int16_t id[4];
    process_identifier_of(pid, id);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(id);
    std::string name = (b[0] & 0x80) != 0 ? std::string() : trimmed(reinterpret_cast<char*>(id), 6);
    if (!copy_out(name, procname, present(mask, 9) ? procname_max : 0,
                  present(mask, 10) ? procname_len : nullptr)) {
      return err::kOutOfBounds;
    }
  }
  if (present(mask, 11) && sequence != nullptr) {
    int64_t s = 0;
    for (int i = 4; i < 8; ++i) s = (s << 16) | static_cast<uint16_t>(handle[i]);
    *sequence = s;
  }
  return 0;
}

void TIMESTAMP(int16_t* interval_clock) {
  const int64_t hundredths = PROCESSOR_CLOCK() / 10000;
  for (int i = 0; i < 3; ++i) {
    interval_clock[i] = static_cast<int16_t>((hundredths >> (32 - 16 * i)) & 0xFFFF);
  }
}

int16_t NODENAME_TO_NODENUMBER_(uint32_t mask, const char* name, int16_t length, int32_t* node) {
  if (!zeb::mask_fits(mask, 3)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || name == nullptr ||
      node == nullptr || length < 0) {
    return err::kMissingParameter;
  }
  std::string text(name, static_cast<size_t>(length));
  if (upper(text) != node_name()) return 18;
  *node = MYSYSTEMNUMBER();
  return 0;
}
