// Start-up, the log path and shut-down.
//
// This is the part of the library's start-up that programs need today: the
// start-up flags, the home terminal and the log path through the format
// engine. The environment record (start-up messages, IN and OUT files) is not
// built yet; until it is, flags that ask for it are accepted and have no
// effect beyond what is documented here.
#include "runtime/runtime.h"

#include "format/format.h"
#include "platform/platform.h"

namespace {

constexpr int16_t kLineLength = 160;

struct Library {
  bool started = false;
  uint16_t flags = 0;
  int16_t term_fnum = zeb::kNotOpen;
};

Library g_library;

// Writes one finished line to the destinations the flags ask for.
int16_t write_log(const char* line, int16_t length) {
  int16_t error = 0;
  if ((g_library.flags & zeb::startup::kLogToTerm) != 0 && g_library.term_fnum >= 0) {
    WRITEX(0xE0000000, g_library.term_fnum, line, length);
    FILE_GETINFO_(0xC0000000, g_library.term_fnum, &error);
  }
  if (error != 0 && (g_library.flags & zeb::startup::kAbendOnLogFailure) != 0) ABEND();
  return error;
}

int16_t open_home_terminal(int16_t* fnum) {
  char name[48];
  int16_t length = 0, detail = 0;
  if (PROCESS_GETINFO_(0x03800800, nullptr, nullptr, 0, nullptr, nullptr, nullptr, name, 48,
                       &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                       nullptr, 0, nullptr, &detail) != 0) {
    return detail;
  }
  return FILE_OPEN_(0xE0000000, name, length, fnum);
}

}  // namespace

int16_t ZEB_STARTUP(uint32_t mask, int16_t pages, uint16_t flags, const char* /*lconf*/) {
  if (!zeb::mask_fits(mask, 3)) return zeb::err::kInvalidOperation;
  if (zeb::present(mask, 1) && (pages < 1 || pages > 32000)) return zeb::err::kOutOfBounds;
  if (!zeb::present(mask, 2)) return zeb::err::kMissingParameter;
  if ((flags & zeb::startup::kOpenTerm) != 0) {
    int16_t error = open_home_terminal(&g_library.term_fnum);
    if (error != 0) return error;
  }
  g_library.flags = flags;
  g_library.started = true;
  return 0;
}

int16_t ZEB_LOG(uint32_t mask, const char* format, const void* a1, const void* a2, const void* a3,
                const void* a4, const void* a5, const void* a6, const void* a7, const void* a8,
                const void* a9, const void* a10, const void* a11, const void* a12) {
  if (!zeb::mask_fits(mask, 13)) return zeb::err::kInvalidOperation;
  if (!zeb::present(mask, 1) || format == nullptr) return zeb::err::kMissingParameter;
  char line[kLineLength];
  int16_t prefix = 0;
  if ((g_library.flags & zeb::startup::kLogPrefix) != 0) {
    prefix = UTIL_FORMAT(0xE0000000, "\\t2.18\\ \\p6\\ ", line, kLineLength);
  }
  // Only the arguments the caller passed are handed on: the caller's bits 30
  // to 19 (a1 to a12) become the engine's bits 28 to 17.
  uint32_t format_mask = 0xE0000000u | ((mask & 0x7FF80000u) >> 2);
  int16_t length = UTIL_FORMAT(format_mask, format, line + prefix,
                               static_cast<int16_t>(kLineLength - prefix), a1, a2, a3, a4, a5,
                               a6, a7, a8, a9, a10, a11, a12);
  return write_log(line, static_cast<int16_t>(prefix + length));
}

void ZEB_SHUTDOWN(uint32_t mask, int16_t code) {
  if (zeb::present(mask, 1) && code != 0) ABEND();
  if (g_library.term_fnum >= 0) FILE_CLOSE_(0x80000000, g_library.term_fnum);
  g_library.term_fnum = zeb::kNotOpen;
  STOP();
}
