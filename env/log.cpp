// The environment's log path: one line per call, expanded by the format
// engine and written to the OUT file and/or the home terminal.
#include <algorithm>
#include <cstdint>
#include <string>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "env/environment.h"
#include "env/startup.h"
#include "format/format_core.h"
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"

namespace err = zeb::err;
using zeb::mask;
using zeb::platform::Status;

namespace {

constexpr int16_t kLineLength = 160;
// The arguments a log line reads; the engine's two other slots stay empty.
constexpr size_t kLogArgs = 12;

// The first lost write of the process, in the host's state so that a host
// of a test's own starts with none.
struct LostWriteState {
  zeb::LostWrite lost;
};

zeb::LostWrite& lost() { return zeb::platform::host().state<LostWriteState>().lost; }

// Writes the line and reads the file's last error. A file that is not open
// (-2: start-up did not open it) answers 16 from the inquiry itself.
int16_t write_line(int16_t fnum, const char* buffer, int16_t length) {
  int16_t error = zeb::platform::write_file(fnum, buffer, length).code();
  if (error != 0 && lost().error == 0) lost() = {error, fnum};
  return error;
}

// DISPLAY: the OUT file first; the home terminal unless it is that same file.
int16_t display(const EnvRecord* env, const char* buffer, int16_t length) {
  if ((env->flags & zeb::kFlagLogToOut) != 0) {
    int16_t error = write_line(env->out_fnum, buffer, length);
    if (error != 0) return error;
  }
  if ((env->flags & zeb::kFlagLogToTerm) != 0) {
    if ((env->flags & zeb::kFlagLogToOut) != 0 &&
        UTIL_SAMEFILE(env->out_fnum, env->term_fnum) == 0) {
      return 0;
    }
    return write_line(env->term_fnum, buffer, length);
  }
  return 0;
}

}  // namespace

const zeb::LostWrite& zeb::lost_write() { return lost(); }

void zeb::report_lost_write() {
  const LostWrite& first = lost();
  if (first.error == 0) return;
  // A file that is gone, or a name too long to show, leaves the name out.
  zeb::platform::Result<zeb::platform::FileInfo> info = zeb::platform::file_info(first.fnum);
  std::string name = info.ok() && info->name.size() <= 48 ? info->name : std::string();
  char text[kLineLength];
  const size_t length = zeb::format::format_into(text, "error \\e\\", {&first.error});
  zeb::platform::write_error_line(zeb::platform::program_name() + ": write error on " + name +
                                  ": " + std::string(text, length));
}

namespace {

// The line writer of both write_log and ENV_WRITELOG (which hands on a
// negative length for the write to refuse, as a lost line).
int16_t write_log_line(EnvRecord& env, const char* buffer, int16_t length) {
  int16_t error = display(&env, buffer, length);
  if (error != 0 && (env.flags & zeb::kFlagAbendOnLogError) != 0) {
    zeb::report_lost_write();
    ABEND();
  }
  return error;
}

}  // namespace

int16_t ENV_WRITELOG(EnvRecord* env, const char* buffer, int16_t length) {
  if (env == nullptr) return err::kMissingParameter;
  return write_log_line(*env, buffer, length);
}

namespace zeb::env {

Status write_log(EnvRecord& env, std::span<const char> line) {
  const auto length = static_cast<int16_t>(std::min<size_t>(line.size(), INT16_MAX));
  return Status::error(write_log_line(env, line.data(), length));
}

Status log(EnvRecord& env, const char* format, std::span<const void* const> args) {
  char line[kLineLength];
  size_t prefix = 0;
  if ((env.flags & kFlagLogPrefix) != 0) prefix = format::format_into(line, "\\t2.18\\ \\p6\\ ");
  const size_t length = format::format_into(std::span<char>(line).subspan(prefix), format,
                                            args.first(std::min(args.size(), kLogArgs)));
  return write_log(env, std::span<const char>(line, prefix + length));
}

}  // namespace zeb::env
