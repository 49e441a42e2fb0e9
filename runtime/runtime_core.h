// The runtime's typed core: start-up, the log path, shut-down and the
// library segment, for the library's own callers (the survey and the
// runtime's entry points). ZEB_STARTUP, ZEB_LOG, ZEB_SHUTDOWN and
// UTIL_ALLOCATESEGMENT (runtime/runtime_procedures.cpp) check their
// parameter masks, call these and return the status's number.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "platform/host/status.h"

namespace zeb::runtime {

using platform::Result;
using platform::Status;

// Allocates the extended data segment segment_id of pages 2048-byte pages
// (1 to 32000, else 22) backed by the swap file named by the 24-byte
// internal name swapfile (null: a temporary file on the process's swap
// volume) and gives its base. Fails as UTIL_ALLOCATESEGMENT describes.
Result<void*> allocate_segment(int16_t pages, int16_t segment_id, const char* swapfile);

// Starts the library: the library segment of pages pages with the context,
// the pool and the timer list, the environment with flags and the
// configuration file's logical name lconf (null: "=lconf"), the terminal
// session under flag 0x1000. Without flags the environment cannot start:
// 29, after the segment, pool and timer list are set up.
Status start(int16_t pages, std::optional<uint16_t> flags, const char* lconf = nullptr);

// Writes one log line through the library's environment: format expanded
// with args (the addresses of the values the directives show, at most twelve
// read). 29 without a format, 309 before start-up, else the write's error.
Status log(const char* format, std::span<const void* const> args);
inline Status log(const char* format, std::initializer_list<const void*> args = {}) {
  return log(format, std::span<const void* const>(args.begin(), args.size()));
}

// Ends the library and the process: pool statistics (flag 0x2000), the
// terminal session, then the environment's shut-down; a non-zero code ends
// the process abnormally.
[[noreturn]] void shut_down(int16_t code);

// Three log lines of statistics of the library's pool; nothing before
// start-up.
void show_pool_stats();

}  // namespace zeb::runtime
