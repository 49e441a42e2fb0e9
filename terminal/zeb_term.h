// The terminal entry points for programs: each finds the library's terminal
// session in the library context and forwards to its TERM_ procedure,
// returning that procedure's result unchanged.
//
// Every entry point returns 309 before ZEB_STARTUP has run and 2 when the
// library has no terminal session (start-up flag 0x1000 not given).
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// TERM_FLUSH: sends what is buffered.
// \see TERM_FLUSH
ZEB_EXPORT int16_t ZEB_TERMFLUSH();
// TERM_SEND: appends length bytes (at most 4076) to the session buffer.
// \see TERM_SEND
ZEB_EXPORT int16_t ZEB_TERMSEND(const void* data, int16_t length);
// TERM_RECV: sends what is buffered and reads the reply (318: longer than
// maxlen).
// \see TERM_RECV
ZEB_EXPORT int16_t ZEB_TERMRECV(void* buffer, int16_t maxlen, int16_t* count);
// TERM_FUNC_NW: flushes and starts a read for input without waiting; AWAITIOX
// completes it, then ZEB_TERMFUNCCOMPLETE hands the input over.
// \see TERM_FUNC_NW
ZEB_EXPORT int16_t ZEB_TERMFUNCNW();
// TERM_FUNC_COMPLETE: the input of the completed read (*count: the count
// AWAITIOX gave).
// \see TERM_FUNC_COMPLETE
ZEB_EXPORT int16_t ZEB_TERMFUNCCOMPLETE(void* buffer, int16_t maxlen, int16_t* count);
// TERM_FUNC_CANCEL: cancels the read ZEB_TERMFUNCNW started.
// \see TERM_FUNC_CANCEL
ZEB_EXPORT int16_t ZEB_TERMFUNCCANCEL();
// TERM_FUNC: reads input, waiting at most timelimit hundredths of a second
// (40 when it passes).
// \see TERM_FUNC
ZEB_EXPORT int16_t ZEB_TERMFUNC(void* buffer, int16_t maxlen, int16_t* count, int32_t timelimit);
// TERM_BLOCKMODE: block mode (320 for a terminal that is not a 6530).
// \see TERM_BLOCKMODE
ZEB_EXPORT int16_t ZEB_TERMBLOCKMODE();
// TERM_CONVMODE: back to conversational mode.
// \see TERM_CONVMODE
ZEB_EXPORT int16_t ZEB_TERMCONVMODE();

namespace zeb {

// Opens the library's session on the terminal of that external name with
// the throttle and records it in the library context (309 before start-up,
// 2 when a session is open already); closes it again.
ZEB_EXPORT int16_t open_library_session(const char* name, int16_t length, int32_t throttle);
ZEB_EXPORT void close_library_session();

// Start-up's part (flag 0x1000; nothing without it). With the start-up
// protocol (flag 0x0001) the session runs on the IN file of the start-up
// message, its name resolved as the environment resolves file names,
// throttled by the PARAM THROTTLE (0 without the PARAM or when it is not a
// number); an IN file that cannot be resolved leaves the name empty, which
// TERM_OPEN refuses. Without the protocol there is no IN file: the session
// runs on the process's home terminal ($ZHOME), without a throttle.
ZEB_EXPORT int16_t open_startup_session(uint16_t flags);

}  // namespace zeb
