// Start-up, the log path and shut-down.
//
// ZEB_STARTUP gives the process its library segment with the library context
// at the base, the memory pool behind it and the timer list, then the part of
// the environment that programs started from a shell need: the home terminal
// and the start-up flags, and with flag 0x1000 the terminal session on the
// home terminal. The start-up conversation with a parent and the IN and OUT
// files are not part of this library yet; the flags that ask for them
// (0x0001, 0x0002, 0x0004, 0x0010) are accepted and do nothing more, so a
// program that asks for them still runs.
#include "runtime/runtime.h"

#include <string>

#include "containers/pool.h"
#include "containers/timer.h"
#include "format/format.h"
#include "platform/diagnostics.h"
#include "platform/platform.h"
#include "platform/segment.h"
#include "runtime/context.h"
#include "runtime/segment.h"
#include "runtime/zeb_term.h"

namespace {

constexpr int16_t kLineLength = 160;

// What start-up learned that has no home in the library context yet.
struct Environment {
  int64_t start_time = 0;  // local civil time at start-up (processor clock)
  int16_t term_fnum = zeb::kNotOpen;
  // The first failed write of a log line and its file, kept so that a run
  // whose output was lost does not end as a success.
  int16_t lost_error = 0;
  int16_t lost_fnum = zeb::kNotOpen;
};

Environment g_env;

// Tells standard error that lines written to fnum were lost, with the error.
void report_lost_lines(int16_t fnum, int16_t error) {
  char name[48];
  int16_t name_length = 0;
  if (FILE_GETINFO_(zeb::mask({1, 3, 4, 5}), fnum, nullptr, name, sizeof name, &name_length) != 0) {
    name_length = 0;
  }
  char text[kLineLength];
  int16_t length = UTIL_FORMAT(zeb::mask({1, 2, 3, 4}), "error \\e\\", text, kLineLength, &error);
  zeb::platform::write_error_line(zeb::platform::program_name() + ": write error on " +
                                  std::string(name, static_cast<size_t>(name_length)) + ": " +
                                  std::string(text, static_cast<size_t>(length)));
}

// Writes one finished line to the destinations the flags ask for.
int16_t write_log(const char* line, int16_t length) {
  uint16_t flags = zeb::library_flags();
  int16_t error = 0;
  if ((flags & zeb::kFlagLogToTerm) != 0) {
    if (g_env.term_fnum < 0) {
      error = zeb::err::kNotOpenFile;
    } else {
      WRITEX(zeb::mask({1, 2, 3}), g_env.term_fnum, line, length);
      FILE_GETINFO_(zeb::mask({1, 2}), g_env.term_fnum, &error);
      if (error != 0 && g_env.lost_error == 0) {
        g_env.lost_error = error;
        g_env.lost_fnum = g_env.term_fnum;
      }
    }
  }
  if (error != 0 && (flags & zeb::kFlagAbendOnLogError) != 0) {
    if (g_env.lost_error != 0) report_lost_lines(g_env.lost_fnum, g_env.lost_error);
    ABEND();
  }
  return error;
}

int16_t open_home_terminal(int16_t* fnum) {
  char name[48];
  int16_t length = 0, detail = 0;
  if (PROCESS_GETINFO_(zeb::mask({7, 8, 9, 21}), nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                       name, 48, &length, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                       nullptr, nullptr, 0, nullptr, &detail) != 0) {
    return detail;
  }
  return FILE_OPEN_(zeb::mask({1, 2, 3}), name, length, fnum);
}

}  // namespace

int16_t ZEB_STARTUP(uint32_t mask, int16_t pages, uint16_t flags, const char* /*lconf*/) {
  if (!zeb::mask_fits(mask, 3)) return zeb::err::kInvalidOperation;
  if (!zeb::present(mask, 1)) pages = 1000;
  zeb::platform::clear_failure_note();
  void* base = nullptr;
  int16_t error = UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, pages, zeb::kLibrarySegmentId);
  if (error != 0) return error;
  if (base != zeb::library_base()) return zeb::err::kBadSegmentBase;
  USESEGMENT(zeb::mask({1}), zeb::kLibrarySegmentId);
  LibraryContext* context = zeb::library_context();
  // A reused swap file still holds an earlier run's context.
  *context = LibraryContext{};
  char* pool = static_cast<char*>(base) + zeb::kLibraryPoolOffset;
  error =
      MEM_DEFINEPOOL(pool, static_cast<int32_t>(pages) * zeb::kPageBytes - zeb::kLibraryPoolOffset);
  if (error != 0) return error;
  context->pool = zeb::to_segment_offset(pool);
  void* timers = nullptr;
  error = TIMER_INIT(&timers, pool);
  if (error != 0) return error;
  context->timers = zeb::to_segment_offset(timers);
  // The environment's half of start-up.
  if (!zeb::present(mask, 2)) return zeb::err::kMissingParameter;
  g_env.start_time = PROCESSOR_CLOCK();
  if ((flags & zeb::kFlagOpenHomeTerm) != 0) {
    error = open_home_terminal(&g_env.term_fnum);
    if (error != 0) return error;
  }
  error = zeb::open_startup_session(flags);
  if (error != 0) return error;
  // Lines written during start-up already follow the flags.
  context->flags = flags;
  if ((flags & zeb::kFlagLogStarted) != 0) ZEB_LOG(zeb::mask({1}), "\\p\\ started.");
  return 0;
}

int16_t ZEB_LOG(uint32_t mask, const char* format, const void* a1, const void* a2, const void* a3,
                const void* a4, const void* a5, const void* a6, const void* a7, const void* a8,
                const void* a9, const void* a10, const void* a11, const void* a12) {
  if (!zeb::mask_fits(mask, 13)) return zeb::err::kInvalidOperation;
  if (!zeb::present(mask, 1) || format == nullptr) return zeb::err::kMissingParameter;
  char line[kLineLength];
  int16_t prefix = 0;
  if ((zeb::library_flags() & zeb::kFlagLogPrefix) != 0) {
    prefix = UTIL_FORMAT(zeb::mask({1, 2, 3}), "\\t2.18\\ \\p6\\ ", line, kLineLength);
  }
  // Only the arguments the caller passed are handed on: the caller's bits 30
  // to 19 (a1 to a12) become the engine's bits 28 to 17.
  uint32_t format_mask = 0xE0000000u | ((mask & 0x7FF80000u) >> 2);
  int16_t length =
      UTIL_FORMAT(format_mask, format, line + prefix, static_cast<int16_t>(kLineLength - prefix),
                  a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12);
  return write_log(line, static_cast<int16_t>(prefix + length));
}

void ZEB_SHOWMEMSTATS() {
  PoolStats stats{};
  if (MEM_STATS(zeb::mask({1, 2}), zeb::library_pool(), &stats) != 0) return;
  ZEB_LOG(zeb::mask({1, 2, 3, 4, 5}),
          "Pool Alloc: \\q8\\  Free:   \\q8\\  Used:    \\d8\\  Maxused:\\d8\\",
          &stats.alloc_requests, &stats.free_requests, &stats.used, &stats.maxused);
  ZEB_LOG(zeb::mask({1, 2, 3, 4}), "     Allocs:\\q8\\  Splits: \\q8\\  Extends: \\q8\\",
          &stats.whole_allocs, &stats.splits, &stats.extends);
  ZEB_LOG(zeb::mask({1, 2, 3, 4}), "     Joins: \\q8\\  Release:\\q8\\  FailSize:\\d8\\",
          &stats.joins, &stats.releases, &stats.failsize);
}

void ZEB_SHUTDOWN(uint32_t mask, int16_t code) {
  uint16_t flags = zeb::library_flags();
  if ((flags & zeb::kFlagMemStats) != 0) ZEB_SHOWMEMSTATS();
  if ((flags & zeb::kFlagTermSession) != 0) zeb::close_library_session();
  int64_t elapsed = PROCESSOR_CLOCK() - g_env.start_time;
  int64_t cpu = MYPROCESSTIME();
  if (zeb::library_context() == nullptr) ABEND();
  if (zeb::present(mask, 1) && code != 0) ABEND();
  if ((flags & zeb::kFlagLogStopped) != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "Total CPU time: \\tj8.22\\", &cpu);
    ZEB_LOG(zeb::mask({1, 2}), "Elapsed time:   \\tj8.22\\", &elapsed);
    ZEB_LOG(zeb::mask({1}), "\\p\\ Stopped.");
  }
  // Like the core utilities, a run whose lines could not all be written ends
  // abnormally, with one line on standard error that says so.
  if (g_env.lost_error != 0) {
    report_lost_lines(g_env.lost_fnum, g_env.lost_error);
    ABEND();
  }
  if (g_env.term_fnum >= 0) FILE_CLOSE_(zeb::mask({1}), g_env.term_fnum);
  g_env.term_fnum = zeb::kNotOpen;
  STOP();
}
