// Host files by path, for programs that write reports outside any volume
// (a metrics file for a collector, say). Internal to the platform.
#pragma once

#include <string>
#include <string_view>

#include "platform/host/status.h"

namespace zeb::platform {

// Replaces the host file at path with text so that a reader sees either
// the old file or the new one, whole: the text goes to a temporary file in
// the same directory (".NAME.PID.tmp", created O_EXCL|O_NOFOLLOW), is
// flushed to stable storage and renamed over path. The new file gets mode
// exactly (the umask does not narrow it, so a collector running as another
// user can read it). On failure the temporary is removed and path is left
// as it was; the status names what failed.
Status replace_host_file(const std::string& path, std::string_view text, unsigned mode = 0644);

// Reads the whole host file at path into *text (a regular file, a pipe or
// a device, read to its end). Returns 0, or the errno value of the step that
// failed; *opened (when given) tells whether the open succeeded, so that a
// caller can say "cannot read" of a file it could open.
int read_host_file(const std::string& path, std::string* text, bool* opened = nullptr);

}  // namespace zeb::platform
