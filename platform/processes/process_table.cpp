// Process and user identity from the host: /proc for processes, the user
// database (getpwuid_r, getgrgid_r) for users.
#include "platform/processes/processes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/names/file_names.h"
#include "platform/names/name_rules.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

using zeb::platform::kSystemNumber;

// The number of processor slots, read once for a host: processors do not
// come and go under a running process.
struct SlotsState {
  int slots = 0;  // 0: not read yet
};

int processor_slots() {
  SlotsState& s = zeb::platform::host().state<SlotsState>();
  if (s.slots == 0) {
    int32_t status = REMOTEPROCESSORSTATUS(-1);
    int n = static_cast<int>((static_cast<uint32_t>(status) >> 16) & 0xFFFF);
    s.slots = n < 1 ? 1 : n > 16 ? 16 : n;
  }
  return s.slots;
}

int16_t word_of(long pid) {
  long cpu = (pid / 256) % processor_slots();
  return static_cast<int16_t>((cpu << 8) | (pid % 256));
}

// Reads a whole (small) file of /proc; empty when it cannot be read.
std::string read_proc(const std::string& path) {
  std::string text;
  if (zeb::platform::syscalls().read_system_file(path.c_str(), &text) != 0) text.clear();
  return text;
}

long own_pid() { return zeb::platform::syscalls().getpid(); }

// The name of another process, from its environment (readable for the
// processes of the same user); empty when unnamed or unreadable.
std::string name_of(long pid) {
  std::string env = read_proc("/proc/" + std::to_string(pid) + "/environ");
  static constexpr char kKey[] = "ZEB_PROCESS_NAME=";
  size_t pos = 0;
  while (pos < env.size()) {
    size_t end = env.find('\0', pos);
    if (end == std::string::npos) end = env.size();
    if (env.compare(pos, sizeof kKey - 1, kKey) == 0) {
      return zeb::platform::process_name_from(
          env.substr(pos + sizeof kKey - 1, end - pos - (sizeof kKey - 1)));
    }
    pos = end + 1;
  }
  return {};
}

// The state letter of a process from /proc/<pid>/stat; 0 when it is gone.
char state_of(long pid) {
  std::string stat = read_proc("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

bool alive(long pid) {
  char state = state_of(pid);
  return state != 0 && state != 'Z' && state != 'X';
}

bool zombie(long pid) { return !alive(pid); }

// Real and effective uid of another process from /proc/<pid>/status.
bool uids_of(long pid, long* real, long* effective) {
  std::string status = read_proc("/proc/" + std::to_string(pid) + "/status");
  size_t pos = status.find("\nUid:");
  if (pos == std::string::npos) return false;
  char* end = nullptr;
  *real = std::strtol(status.c_str() + pos + 5, &end, 10);
  *effective = std::strtol(end, nullptr, 10);
  return true;
}

// The living process that answers to word: this process when the word is
// its own, else the lowest pid that maps to it; 0 when there is none.
long find_process(int16_t word) {
  if (word == word_of(own_pid())) return own_pid();
  uint16_t w = static_cast<uint16_t>(word);
  if ((w >> 8) >= static_cast<unsigned>(processor_slots())) return 0;
  std::vector<std::string> entries;
  if (zeb::platform::syscalls().list_directory("/proc", &entries) != 0) return 0;
  long best = 0;
  for (const std::string& entry : entries) {
    char* end = nullptr;
    long pid = std::strtol(entry.c_str(), &end, 10);
    if (pid <= 0 || end == entry.c_str() || *end != '\0') continue;
    if (word_of(pid) == word && (best == 0 || pid < best)) best = pid;
  }
  return best;
}

// One part of an internal name from host text: upper case, letters and
// digits only, starting with a letter, at most 8 characters, blank-filled.
void name_part(const std::string& text, char* part) {
  std::string s = zeb::platform::name_from_host(text, 'Z');
  std::memset(part, ' ', 8);
  std::memcpy(part, s.data(), s.size() < 8 ? s.size() : 8);
}

void internal_name_of_program(long pid, char* name24) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string exe;
  if (zeb::platform::syscalls().readlink(link.c_str(), &exe) != 0 || exe.empty()) exe = "PROGRAM";
  // A program on a configured volume is named as any file of that volume.
  if (zeb::platform::internal_name_of_path(exe, name24)) return;
  size_t slash = exe.rfind('/');
  std::string file = slash == std::string::npos ? exe : exe.substr(slash + 1);
  std::string dir =
      slash == std::string::npos || slash == 0 ? std::string("ROOT") : exe.substr(0, slash);
  size_t dslash = dir.rfind('/');
  if (dslash != std::string::npos) dir = dir.substr(dslash + 1);
  std::memcpy(name24, "$ZHOST  ", 8);
  name_part(dir, name24 + 8);
  name_part(file, name24 + 16);
}

}  // namespace

namespace zeb::platform {

namespace err = zeb::err;

std::string program_name_part(const std::string& text) {
  char part[8];
  name_part(text, part);
  std::string s(part, 8);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

void process_identifier_of(long pid, int16_t* process_id) {
  process_identifier_named(pid, pid == own_pid() ? process_name() : name_of(pid), process_id);
}

void process_identifier_named(long pid, const std::string& name, int16_t* process_id) {
  unsigned char id[8];
  if (!name.empty()) {
    std::memset(id, ' ', 6);
    std::memcpy(id, name.data(), name.size() < 6 ? name.size() : 6);
  } else {
    // Unnamed: the host pid in bytes 2-5 (big-endian) tells apart processes
    // that share a cpu-and-pin word.
    id[0] = 0x80;
    id[1] = static_cast<unsigned char>(kSystemNumber);
    for (int i = 0; i < 4; ++i) id[2 + i] = static_cast<unsigned char>(pid >> (24 - 8 * i));
  }
  int16_t word = word_of(pid);
  std::memcpy(id + 6, &word, 2);
  std::memcpy(process_id, id, 8);
}

long pid_of_identifier(const int16_t* process_id) {
  const unsigned char* id = reinterpret_cast<const unsigned char*>(process_id);
  if ((id[0] & 0x80) != 0) {
    long pid = 0;
    for (int i = 0; i < 4; ++i) pid = (pid << 8) | id[2 + i];
    if (pid <= 0 || !alive(pid)) return 0;
    int16_t word;
    std::memcpy(&word, id + 6, 2);
    return word_of(pid) == word ? pid : 0;
  }
  std::string name(reinterpret_cast<const char*>(id), 6);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return find_named_process(name);
}

namespace {

// Whether a living process other than this one runs as this user (its
// effective user is this process's) and carries the name in its
// environment. Only this user's processes count: root can read every
// user's environment, and any user can set ZEB_PROCESS_NAME. The owner of
// /proc/PID is looked at first, since it is cheap; the effective uid then
// decides.
bool carries_name(long pid, const std::string& name) {
  const long euid = syscalls().geteuid();
  zeb::platform::FileStatus st;
  if (syscalls().stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0) return false;
  long real = 0, effective = -1;
  return (static_cast<long>(st.uid) == euid || st.uid == 0) && !zombie(pid) &&
         name_of(pid) == name && uids_of(pid, &real, &effective) && effective == euid;
}

// The pids of /proc other than this process's.
std::vector<long> other_pids() {
  std::vector<std::string> entries;
  std::vector<long> pids;
  if (syscalls().list_directory("/proc", &entries) != 0) return pids;
  for (const std::string& entry : entries) {
    char* end = nullptr;
    long pid = std::strtol(entry.c_str(), &end, 10);
    if (pid > 0 && end != entry.c_str() && *end == '\0' && pid != own_pid()) pids.push_back(pid);
  }
  return pids;
}

}  // namespace

long find_named_process(const std::string& text) {
  std::string name = process_name_from(text);
  if (name.empty()) return 0;
  if (process_name() == name) return own_pid();
  long best = 0;
  for (long pid : other_pids()) {
    if ((best == 0 || pid < best) && carries_name(pid, name)) best = pid;
  }
  return best;
}

bool name_carried_elsewhere(const std::string& text, bool older_only) {
  std::string name = process_name_from(text);
  if (name.empty()) return false;
  const long own = own_pid();
  const uint64_t own_start = older_only ? process_start_time(own) : 0;
  // This process's ancestors are older and may carry the name only because
  // this process inherited it from them (a shell that exported it): they
  // do not keep it from the name.
  const long parent = older_only ? parent_of(own) : 1;
  // Without this process's own start or parent nothing is known to be
  // older: the name's lock alone decides then.
  if (older_only && (own_start == 0 || parent == 0)) return false;
  std::vector<long> ancestors;
  for (long p = parent; p > 1 && ancestors.size() < 64; p = parent_of(p)) ancestors.push_back(p);
  for (long pid : other_pids()) {
    if (!carries_name(pid, name)) continue;
    if (!older_only) return true;
    if (std::find(ancestors.begin(), ancestors.end(), pid) != ancestors.end()) continue;
    const uint64_t start = process_start_time(pid);
    if (start != 0 && (start < own_start || (start == own_start && pid < own))) return true;
  }
  return false;
}

bool process_alive(long pid) { return alive(pid); }

bool process_lives_on(long pid) {
  // The kernel's flags of the process, the ninth field of its stat line:
  // PF_EXITING is set as it starts to end, before its descriptors close.
  constexpr unsigned long kExiting = 0x4;
  std::string stat = read_proc("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos || at + 2 >= stat.size()) return false;
  const char state = stat[at + 2];
  if (state == 'Z' || state == 'X') return false;
  // After ") S": ppid, pgrp, session, tty, tpgid, then the flags.
  at += 3;
  for (int field = 0; field < 5 && at != std::string::npos; ++field) at = stat.find(' ', at + 1);
  if (at == std::string::npos) return false;
  return (std::strtoul(stat.c_str() + at + 1, nullptr, 10) & kExiting) == 0;
}

long parent_of(long pid) {
  std::string stat = read_proc("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  if (close == std::string::npos || close + 4 >= stat.size()) return 0;
  // After the command name: " S ppid ..."
  return std::strtol(stat.c_str() + close + 4, nullptr, 10);
}

int16_t cpupin_of(long pid) { return word_of(pid); }

Result<ProcessPair> named_pair(const std::string& name) {
  long pid = find_named_process(name);
  if (pid == 0) return Status::error(err::kNotFound, "no process " + name);
  ProcessPair pair;
  pair.name = name;
  process_handle_of(pid, pair.primary.data());
  return pair;
}

Result<ProcessPair> own_pair() {
  ProcessPair pair;
  pair.name = process_name();
  if (pair.name.empty()) return Status::error(7, "an unnamed process is no pair");
  process_handle_of(own_pid(), pair.primary.data());
  return pair;
}

bool null_or_own_handle(const int16_t* handle) {
  int16_t null[10], own[10];
  null_handle(null);
  process_handle_of(own_pid(), own);
  return std::equal(null, null + 10, handle) || std::equal(own, own + 10, handle);
}

int16_t own_cpupin() { return word_of(own_pid()); }

long process_of_cpupin(int16_t word) { return find_process(word); }

Result<ProcessUsers> process_users(long pid) {
  ProcessUsers users;
  if (pid == own_pid()) {
    users.real = syscalls().getuid();
    users.effective = syscalls().geteuid();
  } else if (!uids_of(pid, &users.real, &users.effective)) {
    return Status::error(err::kNotFound, "process ended");
  }
  return users;
}

std::array<char, 24> program_internal_name(long pid) {
  std::array<char, 24> name;
  internal_name_of_program(pid, name.data());
  return name;
}

Result<std::array<char, 16>> user_group_names(long uid) {
  std::string user, group;
  if (syscalls().user_names(uid, &user, &group) != 0) {
    return Status::error(err::kNotFound, "user " + std::to_string(uid));
  }
  std::array<char, 16> names;
  names.fill(' ');
  std::memcpy(names.data(), group.data(), group.size() < 8 ? group.size() : 8);
  std::memcpy(names.data() + 8, user.data(), user.size() < 8 ? user.size() : 8);
  return names;
}

}  // namespace zeb::platform
