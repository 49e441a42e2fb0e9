// Telling the operator what went wrong when the library cannot use its own
// output: one line straight to standard error. What failed travels in the
// note of the Status that reports it (platform/host/status.h), not here.
//
// Lines to standard error go to descriptor 2 itself, never through a new
// descriptor, so they get out even when the process has no descriptor left
// (ulimit -n) or when standard output is closed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeb::platform {

// Writes text and a line feed to descriptor 2. A closed or broken standard
// error swallows the line silently; the process never receives SIGPIPE.
void write_error_line(std::string_view text);

// Writes all of text to descriptor 1 (standard output), without SIGPIPE, for
// programs that print their results there. Returns 0, or the errno value of
// the failed write (EPIPE when the reader went away, EBADF when descriptor 1
// is closed).
int write_standard_output(std::string_view text);

// Platform-internal: writes all of buffer to a pipe, socket, terminal or
// file descriptor. SIGPIPE is blocked around the write and a SIGPIPE that the
// write raised is taken back, so a reader that went away gives -1 with errno
// EPIPE and the program's signal dispositions and pending signals stay as
// they were. Returns count, or -1 with errno set.
long write_all_no_sigpipe(int fd, const void* buffer, size_t count);

// Platform-internal: true when a write to fd can raise SIGPIPE, that is when
// it is a pipe, a FIFO or a socket (or its type cannot be told). Writes to
// anything else may skip the signal mask work of write_all_no_sigpipe.
bool may_raise_sigpipe(int fd);

// Platform-internal: writes all of buffer, restarting short writes. Returns
// count, or -1 with errno set.
long write_all(int fd, const void* buffer, size_t count);

// The base name of the running program ("vorn"), for the start of such lines.
std::string program_name();

}  // namespace zeb::platform
