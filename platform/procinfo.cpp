// The procedures of procinfo.h: adapters over the process room's typed
// calls (platform/processes/processes.h).
#include <zeb/platform/procinfo.h>

#include <cstring>
#include <string>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/newprocess.h>
#include "platform/host/syscalls.h"
#include "platform/processes/processes.h"

namespace zp = zeb::platform;
using zeb::present;

namespace {
constexpr int16_t kNoSuchSystem = 18;
}  // namespace

int16_t MYPID() { return zp::own_cpupin(); }

int16_t MYSYSTEMNUMBER() { return zp::kSystemNumber; }

int16_t PROCESSINFO(uint32_t mask, int16_t cpupin, int16_t* process_id, int16_t* creator_id,
                    int16_t* process_accessor_id, int16_t* priority, char* program_file,
                    char* home_terminal, int16_t sysnum, int64_t* process_time) {
  if (!present(mask, 1)) return zeb::err::kMissingParameter;
  if (present(mask, 8) && sysnum != -1 && sysnum != zp::kSystemNumber) return kNoSuchSystem;
  const long pid = zp::process_of_cpupin(cpupin);
  if (pid == 0) return zeb::err::kNotFound;
  const bool self = pid == static_cast<long>(zp::syscalls().getpid());

  if (present(mask, 2) && process_id != nullptr) zp::process_identifier_of(pid, process_id);
  const bool want_creator = present(mask, 3) && creator_id != nullptr;
  const bool want_accessor = present(mask, 4) && process_accessor_id != nullptr;
  if (want_creator || want_accessor) {
    zp::Result<zp::ProcessUsers> users = zp::process_users(pid);
    if (!users.ok()) return users.code();
    if (want_creator) *creator_id = static_cast<int16_t>(users->real);
    if (want_accessor) *process_accessor_id = static_cast<int16_t>(users->effective);
  }
  if (present(mask, 5) && priority != nullptr) *priority = zeb::kOwnPriority;
  if (present(mask, 6) && program_file != nullptr) {
    std::memcpy(program_file, zp::program_internal_name(pid).data(), 24);
  }
  if (present(mask, 7) && home_terminal != nullptr) {
    const std::string name = zp::home_terminal_name();
    std::memset(home_terminal, ' ', 24);
    std::memcpy(home_terminal, name.data(), name.size());
  }
  if (present(mask, 9) && process_time != nullptr) *process_time = self ? MYPROCESSTIME() : 0;
  return 0;
}

int16_t USERIDTOUSERNAME(int16_t* buffer) {
  if (buffer == nullptr) return zeb::err::kMissingParameter;
  zp::Result<std::array<char, 16>> names = zp::user_group_names(static_cast<uint16_t>(buffer[0]));
  if (!names.ok()) return names.code();
  std::memcpy(buffer, names->data(), names->size());
  return 0;
}
