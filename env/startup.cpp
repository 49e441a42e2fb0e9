// The environment's half of start-up and shut-down: the environment record,
// the intake, the IN, OUT and home-terminal files and the configuration
// file's name; at the end the closing lines, the files and the stop.
#include <algorithm>
#include <cstring>
#include <string>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/keyfile.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "env/environment.h"
#include "env/startup.h"
#include "format/format_core.h"
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "platform/ipc/messages.h"
#include "platform/processes/processes.h"

using zeb::mask;

namespace zeb::env {
namespace {

// Opens the file whose internal name is at name24 (collapsed to external
// form first): its file number, or the open's status.
zeb::platform::Result<int16_t> open_internal(const char* name24) {
  return zeb::platform::open_file(zeb::platform::collapse_name(name24));
}

// A configuration file that is there but cannot serve (not a key-sequenced
// file: corrupt, cut short, of another program, a directory, a FIFO) is told
// once, now, with its name: otherwise the program would only see error 2 at
// its first look-up, with no hint of the file. No file at all is the usual
// case and is not told. The line goes to standard error, so that the
// program's own output stays as it is.
void check_configuration(const char* name48) {
  size_t length = 0;
  while (length < 48 && name48[length] != ' ' && name48[length] != '\0') ++length;
  if (length == 0) return;
  const std::string name(name48, length);
  namespace zp = zeb::platform;
  int16_t error = 0;
  zp::Result<int16_t> opened = zp::open_file(name, {zeb::kAccessRead});
  if (!opened.ok()) {
    error = opened.code();
    if (error == zeb::err::kNotFound || error == zeb::err::kNoSuchDevice) return;
  } else {
    const std::string key(static_cast<size_t>(zeb::kLconfKeySize), ' ');
    error =
        zp::position_by_key(*opened, key.data(), std::nullopt, zeb::kPositionApproximate).code();
    // Only looked at: the close has nothing to lose.
    zp::close_file(*opened).ignore();
  }
  if (error == 0) return;
  char text[160];
  const size_t n = zeb::format::format_into(text, "error \\e\\", {&error});
  zp::write_error_line(zp::program_name() + ": configuration file " + name +
                       " cannot be read: " + std::string(text, n));
}

}  // namespace
}  // namespace zeb::env

namespace zeb::env {

Status start(EnvRecord** env, void* pool, uint16_t flags, const char* lconf) {
  if (lconf == nullptr) lconf = "=lconf";
  void* memory = nullptr;
  int16_t error = MEM_ALLOC(pool, &memory, static_cast<int32_t>(sizeof(EnvRecord)));
  // A bare number from the pool: no note (see runtime::start).
  if (error != 0) return Status::error(error);
  auto* record = static_cast<EnvRecord*>(memory);
  *env = record;
  std::memset(record, ' ', sizeof *record);
  record->start_time = UTIL_CIVILTIME();
  env_set_pool(record, pool);
  record->assign_list = kEmptyList;
  record->param_list = kEmptyList;
  record->startup_len = 0;
  record->flags = flags;
  record->in_fnum = kNotOpen;
  record->out_fnum = kNotOpen;
  record->term_fnum = kNotOpen;
  if ((flags & kFlagStartupProtocol) != 0) {
    Status status = run_intake({ENV_STARTUPPROC_, ENV_ASSIGNPROC_, ENV_PARAMPROC_, record});
    if (!status.ok()) return status;
  }
  if ((flags & kFlagOpenIn) != 0) {
    Result<int16_t> in = open_internal(record->startup_msg + zeb::platform::kStartupInOffset);
    if (!in.ok()) return in.status();
    record->in_fnum = *in;
  }
  if ((flags & kFlagOpenOut) != 0) {
    Result<int16_t> out = open_internal(record->startup_msg + zeb::platform::kStartupOutOffset);
    if (!out.ok()) return out.status();
    record->out_fnum = *out;
  }
  if ((flags & kFlagOpenHomeTerm) != 0) {
    // The home terminal's name is the platform's fixed name for the
    // process's own terminal: asking for it cannot fail, so the only error
    // of this step is the open's, and it never returns 0 for a failure.
    const std::string name = zeb::platform::home_terminal_name();
    record->term_fnum = zeb::kNotOpen;
    zeb::platform::Result<int16_t> opened = zeb::platform::open_file(name);
    if (!opened.ok()) return opened.status();
    record->term_fnum = *opened;
  }
  // An unresolved name leaves lconf_name blank; start-up goes on.
  if (Result<ResolvedName> name = resolve_name(*record, lconf); name.ok()) {
    std::memcpy(record->lconf_name, name->external.data(),
                std::min(sizeof record->lconf_name, static_cast<size_t>(name->external_length)));
    check_configuration(record->lconf_name);
  }
  if ((flags & kFlagLogStarted) != 0) {
    // A line that cannot be written is kept as the lost write; shut-down
    // reports it and ends the run abnormally.
    log(*record, "\\p\\ started.").ignore();
  }
  return Status();
}

void shut_down(EnvRecord* env, int16_t code) {
  if (env == nullptr) ABEND();
  int64_t elapsed = UTIL_CIVILTIME() - env->start_time;
  int64_t cpu = MYPROCESSTIME();
  if (code != 0) ABEND();
  if ((env->flags & kFlagLogStopped) != 0) {
    // Lines that cannot be written are kept as the lost write, reported below.
    log(*env, "Total CPU time: \\tj8.22\\", {&cpu}).ignore();
    log(*env, "Elapsed time:   \\tj8.22\\", {&elapsed}).ignore();
    log(*env, "\\p\\ Stopped.").ignore();
  }
  // Like the core utilities, a run whose lines could not all be written ends
  // abnormally, with one line on standard error that says so.
  if (lost_write().error != 0) {
    report_lost_write();
    ABEND();
  }
  for (int16_t fnum : {env->in_fnum, env->out_fnum, env->term_fnum}) {
    // The process stops next: a file that will not close has nothing left
    // to lose that the lost-write check above did not report.
    if (fnum >= 0) zeb::platform::close_file(fnum).ignore();
  }
  STOP();
}

}  // namespace zeb::env
