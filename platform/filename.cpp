// File-name comparison on Linux.
//
// Two names designate the same file when they are the same name once brought
// into one form (case and defaults do not matter), or when both can be opened
// and lead to the same host file: the home terminal $ZHOME and $ZOUT are both
// the standard output, and a configured volume may be reached by two names.
#include <zeb/platform/filename.h>

#include <cstring>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"

namespace err = zeb::err;

namespace {

// The host identity of a named file, when it can be opened.
bool identity(const char* name, int16_t length, zeb::platform::FileStatus* st) {
  int16_t fnum = zeb::kNotOpen;
  if (FILE_OPEN_(zeb::mask({1, 2, 3, 4}), name, length, &fnum, 1) != err::kOk) return false;
  int fd = zeb::platform::host_fd(fnum);
  bool known = fd >= 0 && zeb::platform::syscalls().fstat(fd, st) == 0;
  FILE_CLOSE_(zeb::mask({1}), fnum);
  return known;
}

}  // namespace

int16_t FILENAME_COMPARE_(const char* name1, int16_t length1, const char* name2, int16_t length2) {
  if (length1 < 0 || length2 < 0) return err::kOutOfBounds;
  if (name1 == nullptr || name2 == nullptr) return err::kMissingParameter;
  char internal1[24], internal2[24];
  if (FNAMEEXPAND(name1, length1, internal1) == 0) return err::kBadName;
  if (FNAMEEXPAND(name2, length2, internal2) == 0) return err::kBadName;
  if (std::memcmp(internal1, internal2, sizeof internal1) == 0) return zeb::kTrue;
  zeb::platform::FileStatus st1;
  zeb::platform::FileStatus st2;
  if (identity(name1, length1, &st1) && identity(name2, length2, &st2) &&
      st1.device == st2.device && st1.inode == st2.inode) {
    return zeb::kTrue;
  }
  return zeb::kFalse;
}
