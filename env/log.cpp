// The environment's log path: one line per call, expanded by the format
// engine and written to the OUT file and/or the home terminal.
#include <string>

#include <zeb/env/env.h>
#include <zeb/format/format.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/platform.h>
#include "env/startup.h"
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"

namespace err = zeb::err;
using zeb::mask;
using zeb::present;

namespace {

constexpr int16_t kLineLength = 160;

zeb::LostWrite g_lost;

// Writes the line and reads the file's last error. A file that is not open
// (-2: start-up did not open it) answers 16 from the inquiry itself.
int16_t write_line(int16_t fnum, const char* buffer, int16_t length) {
  int16_t error = zeb::platform::write_file(fnum, buffer, length).code();
  if (error != 0 && g_lost.error == 0) g_lost = {error, fnum};
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

int16_t ENV_WRITELOG(EnvRecord* env, const char* buffer, int16_t length) {
  if (env == nullptr) return err::kMissingParameter;
  int16_t error = display(env, buffer, length);
  if (error != 0 && (env->flags & zeb::kFlagAbendOnLogError) != 0) {
    zeb::report_lost_write();
    ABEND();
  }
  return error;
}

const zeb::LostWrite& zeb::lost_write() { return g_lost; }

void zeb::report_lost_write() {
  if (g_lost.error == 0) return;
  // A file that is gone, or a name too long to show, leaves the name out.
  zeb::platform::Result<zeb::platform::FileInfo> info = zeb::platform::file_info(g_lost.fnum);
  std::string name = info.ok() && info->name.size() <= 48 ? info->name : std::string();
  char text[kLineLength];
  int16_t length = UTIL_FORMAT(mask({1, 2, 3, 4}), "error \\e\\", text, kLineLength, &g_lost.error);
  zeb::platform::write_error_line(zeb::platform::program_name() + ": write error on " + name +
                                  ": " + std::string(text, static_cast<size_t>(length)));
}

int16_t ENV_LOG(uint32_t mask_word, EnvRecord* env, const char* format, const void* a1,
                const void* a2, const void* a3, const void* a4, const void* a5, const void* a6,
                const void* a7, const void* a8, const void* a9, const void* a10, const void* a11,
                const void* a12) {
  if (!zeb::mask_fits(mask_word, 14)) return err::kInvalidOperation;
  if (!present(mask_word, 1) || !present(mask_word, 2) || env == nullptr || format == nullptr) {
    return err::kMissingParameter;
  }
  char line[kLineLength];
  int16_t prefix = 0;
  if ((env->flags & zeb::kFlagLogPrefix) != 0) {
    prefix = UTIL_FORMAT(mask({1, 2, 3}), "\\t2.18\\ \\p6\\ ", line, kLineLength);
  }
  // Only the arguments the caller passed go on: the caller's parameters 3 to
  // 14 (a1 to a12) are the engine's parameters 4 to 15.
  uint32_t format_mask = mask({1, 2, 3});
  for (int n = 3; n <= 14; ++n) {
    if (present(mask_word, n)) format_mask |= zeb::param_bit(n + 1);
  }
  int16_t length =
      UTIL_FORMAT(format_mask, format, line + prefix, static_cast<int16_t>(kLineLength - prefix),
                  a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12);
  return ENV_WRITELOG(env, line, static_cast<int16_t>(prefix + length));
}
