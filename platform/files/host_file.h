// Host files by path, replaced whole: for programs that write reports
// outside any volume (a metrics file for a collector, say) and for writers of
// key-sequenced files. Internal to the platform.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/host/status.h"

namespace zeb::platform {

// How replace_host_file makes the new file before it takes the old one's
// place.
struct Replacement {
  // The name the new file has in path's directory while it is finished, for
  // attempt 0, 1, ... (at most 100): a name that is taken is tried again
  // with the next attempt.
  std::function<std::string(int attempt)> temp_name;
  // A taken name is one that an earlier process of this number left when it
  // was killed midway: it is removed before the next attempt.
  bool remove_stale = false;
  // The new file is made unnamed (O_TMPFILE) where the file system can, and
  // given its name only when it is whole and on disk, so a writer killed
  // before then leaves nothing behind.
  bool unnamed = false;
  // The mode the new file is created with, which the umask narrows.
  unsigned create_mode = 0666;
  // When given, the mode set on the new file afterwards, whatever the umask.
  std::optional<unsigned> exact_mode;
  // A file system that refuses exact_mode is no failure: the file is whole
  // either way.
  bool mode_best_effort = false;
};

// Replaces the host file at path with text so that a reader sees either the
// old file or the new one, whole, and the new one survives a crash once this
// returns success: the text is written to a new file of the same directory
// (O_EXCL, O_NOFOLLOW), flushed to stable storage, renamed over path, and the
// directory is flushed so that the rename is on disk too. Every failing step
// is reported, the status naming it ("write ...", "flush ...", "rename ...",
// "flush the directory ..."). On a failure before the rename the new file is
// removed and path is left as it was; when only the flush of the directory
// fails, path already holds the new text, which a crash may still undo.
Status replace_host_file(const std::string& path, std::string_view text, const Replacement& how);

// The form for reports: the new file is ".NAME.PID.tmp" while it is written
// and gets mode exactly (the umask does not narrow it, so a collector running
// as another user can read it).
Status replace_host_file(const std::string& path, std::string_view text, unsigned mode = 0644);

// Tells ahead of a long run whether replace_host_file could begin: path is
// not a directory and its temporary can be created (it is created and
// removed at once). A failure names what failed, as replace_host_file's.
Status probe_host_file(const std::string& path);

// Reads the whole host file at path into *text (a regular file, a pipe or
// a device, read to its end). Returns 0, or the errno value of the step that
// failed; *opened (when given) tells whether the open succeeded, so that a
// caller can say "cannot read" of a file it could open.
int read_host_file(const std::string& path, std::string* text, bool* opened = nullptr);

}  // namespace zeb::platform
