// The library's entry points for programs: start-up, logging and shut-down.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

#include <zeb/env/context.h>

// Starts the library: pages (bit 31, segment size in 2048-byte pages,
// default 1000), flags (bit 30, required), lconf (bit 29, the configuration
// file's logical name, default "=lconf"). Returns 0 or the error of the step
// that failed.
ZEB_EXPORT int16_t ZEB_STARTUP(uint32_t mask, int16_t pages = 1000, uint16_t flags = 0,
                               const char* lconf = nullptr);

// Writes one log line: format (bit 31) expanded with up to twelve arguments
// (bits 30 to 19), each the address of the value a directive shows. Returns
// the error of the write, 0 on success, 309 before start-up.
ZEB_EXPORT int16_t ZEB_LOG(uint32_t mask, const char* format = nullptr, const void* a1 = nullptr,
                           const void* a2 = nullptr, const void* a3 = nullptr,
                           const void* a4 = nullptr, const void* a5 = nullptr,
                           const void* a6 = nullptr, const void* a7 = nullptr,
                           const void* a8 = nullptr, const void* a9 = nullptr,
                           const void* a10 = nullptr, const void* a11 = nullptr,
                           const void* a12 = nullptr);

// Ends the library and the process: code (bit 31) 0 or absent stops the
// process normally, any other code ends it abnormally. Does not return.
[[noreturn]] ZEB_EXPORT void ZEB_SHUTDOWN(uint32_t mask, int16_t code = 0);

// Writes three lines of statistics of the library's pool through ZEB_LOG.
ZEB_EXPORT void ZEB_SHOWMEMSTATS();
