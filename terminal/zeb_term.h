// The terminal entry points for programs: each finds the library's terminal
// session in the library context and forwards to its TERM_ procedure,
// returning that procedure's result unchanged.
//
// Every entry point returns 309 before ZEB_STARTUP has run and 2 when the
// library has no terminal session (start-up flag 0x1000 not given).
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

ZEB_EXPORT int16_t ZEB_TERMFLUSH();
ZEB_EXPORT int16_t ZEB_TERMSEND(const void* data, int16_t length);
ZEB_EXPORT int16_t ZEB_TERMRECV(void* buffer, int16_t maxlen, int16_t* count);
ZEB_EXPORT int16_t ZEB_TERMFUNCNW();
ZEB_EXPORT int16_t ZEB_TERMFUNCCOMPLETE(void* buffer, int16_t maxlen, int16_t* count);
ZEB_EXPORT int16_t ZEB_TERMFUNCCANCEL();
ZEB_EXPORT int16_t ZEB_TERMFUNC(void* buffer, int16_t maxlen, int16_t* count, int32_t timelimit);
ZEB_EXPORT int16_t ZEB_TERMBLOCKMODE();
ZEB_EXPORT int16_t ZEB_TERMCONVMODE();

namespace zeb {

// Opens the library's session on the terminal of that external name with
// the throttle and records it in the library context (309 before start-up,
// 2 when a session is open already); closes it again.
ZEB_EXPORT int16_t open_library_session(const char* name, int16_t length, int32_t throttle);
ZEB_EXPORT void close_library_session();

// Start-up's part (flag 0x1000; nothing without it): the session on the
// process's home terminal, without a throttle.
ZEB_EXPORT int16_t open_startup_session(uint16_t flags);

}  // namespace zeb
