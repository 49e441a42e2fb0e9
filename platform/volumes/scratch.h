// Scratch files: where a volume's temporary files go and how they are made
// so that nothing is left behind, and the sizing of files against the
// file-size limit. Internal to the platform.
#pragma once

#include <string>
#include <vector>

#include "platform/host/status.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {

// Sizes a file to at least size bytes: extend_file as a sparse file,
// reserve_file with its disk blocks reserved (so that writing it, through a
// mapping too, never fails for want of space; a plain extension where the
// file system cannot reserve). Both refuse a size beyond the file-size limit
// with EFBIG instead of letting the kernel raise SIGXFSZ. 0, or -1 with errno.
int extend_file(int fd, long long size);
int reserve_file(int fd, long long size);

// ", beyond the file-size limit of N bytes" when size is beyond it, else "".
std::string file_size_limit_text(long long size);

// A nameless file made for a volume: its descriptor, which the caller owns,
// and the directory it was made in (empty on a simulated volume).
struct ScratchFile {
  int fd = -1;
  std::string directory;
};

// Makes a nameless file on volume v that the kernel removes when its last
// descriptor goes: a memory file on a simulated volume, else an O_TMPFILE
// file (or the private-directory fallback) of mode 0600 in the first of
// temporary_directories(v, swap) where the user may create it. A swap file
// (swap) is not O_DSYNC. The error is the first refusal's, or the error
// that ended the search; its note names the directory.
Result<ScratchFile> create_scratch(const Volume& v, bool swap);

// The directories where a temporary file of volume v may go, in order.
std::vector<std::string> temporary_directories(const Volume& v, bool swap);

}  // namespace zeb::platform
