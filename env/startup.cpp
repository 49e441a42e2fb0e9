// The environment's half of start-up and shut-down: the environment record,
// the intake, the IN, OUT and home-terminal files and the configuration
// file's name; at the end the closing lines, the files and the stop.
#include <cstring>
#include <string>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/platform.h>
#include "env/startup.h"
#include "platform/ipc/messages.h"
#include "platform/processes/processes.h"

namespace err = zeb::err;
using zeb::mask;
using zeb::present;

namespace {

// Opens the file whose internal name is at name24 (collapsed to external
// form first) into *fnum.
int16_t open_internal(const char* name24, int16_t* fnum) {
  char external[64];
  int16_t length = UTIL_FNAMECOLLAPSE(name24, external);
  return FILE_OPEN_(mask({1, 2, 3}), external, length, fnum);
}

}  // namespace

int16_t ENV_STARTUP(uint32_t mask_word, EnvRecord** env, void* pool, uint16_t flags,
                    const char* lconf) {
  if (!zeb::mask_fits(mask_word, 4)) return err::kInvalidOperation;
  if (!present(mask_word, 1) || !present(mask_word, 2) || !present(mask_word, 3) ||
      env == nullptr || pool == nullptr) {
    return err::kMissingParameter;
  }
  if (!present(mask_word, 4) || lconf == nullptr) lconf = "=lconf";
  void* memory = nullptr;
  int16_t error = MEM_ALLOC(pool, &memory, static_cast<int32_t>(sizeof(EnvRecord)));
  if (error != 0) return error;
  auto* record = static_cast<EnvRecord*>(memory);
  *env = record;
  std::memset(record, ' ', sizeof *record);
  record->start_time = UTIL_CIVILTIME();
  zeb::env_set_pool(record, pool);
  record->assign_list = zeb::kEmptyList;
  record->param_list = zeb::kEmptyList;
  record->startup_len = 0;
  record->flags = flags;
  record->in_fnum = zeb::kNotOpen;
  record->out_fnum = zeb::kNotOpen;
  record->term_fnum = zeb::kNotOpen;
  if ((flags & zeb::kFlagStartupProtocol) != 0) {
    error = ENV_INITIALIZER_(mask({1, 2, 3, 4}), ENV_STARTUPPROC_, ENV_ASSIGNPROC_, ENV_PARAMPROC_,
                             record);
    if (error != 0) return error;
  }
  if ((flags & zeb::kFlagOpenIn) != 0) {
    error = open_internal(record->startup_msg + zeb::platform::kStartupInOffset, &record->in_fnum);
    if (error != 0) return error;
  }
  if ((flags & zeb::kFlagOpenOut) != 0) {
    error =
        open_internal(record->startup_msg + zeb::platform::kStartupOutOffset, &record->out_fnum);
    if (error != 0) return error;
  }
  if ((flags & zeb::kFlagOpenHomeTerm) != 0) {
    const std::string name = zeb::platform::home_terminal_name();
    error = FILE_OPEN_(mask({1, 2, 3}), name.data(), static_cast<int16_t>(name.size()),
                       &record->term_fnum);
    if (error != 0) return error;
  }
  // An unresolved name leaves lconf_name blank; start-up goes on.
  ENV_FNAME(mask({1, 2, 4}), record, lconf, nullptr, record->lconf_name);
  if ((flags & zeb::kFlagLogStarted) != 0) ENV_LOG(mask({1, 2}), record, "\\p\\ started.");
  return 0;
}

void ENV_SHUTDOWN(uint32_t mask_word, EnvRecord* env, int16_t code) {
  if (!present(mask_word, 1) || env == nullptr) ABEND();
  int64_t elapsed = UTIL_CIVILTIME() - env->start_time;
  int64_t cpu = MYPROCESSTIME();
  if (present(mask_word, 2) && code != 0) ABEND();
  if ((env->flags & zeb::kFlagLogStopped) != 0) {
    ENV_LOG(mask({1, 2, 3}), env, "Total CPU time: \\tj8.22\\", &cpu);
    ENV_LOG(mask({1, 2, 3}), env, "Elapsed time:   \\tj8.22\\", &elapsed);
    ENV_LOG(mask({1, 2}), env, "\\p\\ Stopped.");
  }
  // Like the core utilities, a run whose lines could not all be written ends
  // abnormally, with one line on standard error that says so.
  if (zeb::lost_write().error != 0) {
    zeb::report_lost_write();
    ABEND();
  }
  for (int16_t fnum : {env->in_fnum, env->out_fnum, env->term_fnum}) {
    if (fnum >= 0) FILE_CLOSE_(mask({1}), fnum);
  }
  STOP();
}
