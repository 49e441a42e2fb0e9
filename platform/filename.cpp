// FILENAME_COMPARE_ (filename.h): whether two names designate one file.
//
// Two names designate the same file when they are the same name once brought
// into one form (case and defaults do not matter), or when both can be opened
// and lead to the same host file: the home terminal $ZHOME and $ZOUT are both
// the standard output, and a configured volume may be reached by two names.
#include <zeb/platform/filename.h>

#include <string_view>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"

namespace err = zeb::err;
namespace platform = zeb::platform;

namespace {

// The host identity of a named file, when it can be opened for reading.
bool identity(std::string_view name, platform::FileStatus* st) {
  platform::OpenOptions options;
  options.access = 1;
  platform::Result<int16_t> f = platform::open_file(name, options);
  if (!f.ok()) return false;
  int fd = platform::host_fd(*f);
  bool known = fd >= 0 && platform::syscalls().fstat(fd, st) == 0;
  // Only looked at: a close that fails loses nothing.
  platform::close_file(*f).ignore();
  return known;
}

}  // namespace

int16_t FILENAME_COMPARE_(const char* name1, int16_t length1, const char* name2, int16_t length2) {
  if (length1 < 0 || length2 < 0) return err::kOutOfBounds;
  if (name1 == nullptr || name2 == nullptr) return err::kMissingParameter;
  const std::string_view text1(name1, static_cast<size_t>(length1));
  const std::string_view text2(name2, static_cast<size_t>(length2));
  platform::Result<platform::FileName> expanded1 = platform::expand_name(text1);
  platform::Result<platform::FileName> expanded2 = platform::expand_name(text2);
  if (length1 == 0 || !expanded1.ok()) return err::kBadName;
  if (length2 == 0 || !expanded2.ok()) return err::kBadName;
  if (expanded1->external() == expanded2->external()) return zeb::kTrue;
  platform::FileStatus st1;
  platform::FileStatus st2;
  if (identity(text1, &st1) && identity(text2, &st2) && st1.device == st2.device &&
      st1.inode == st2.inode) {
    return zeb::kTrue;
  }
  return zeb::kFalse;
}
