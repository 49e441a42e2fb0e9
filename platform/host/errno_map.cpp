// The one table that turns errno values into file-system error numbers.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <zeb/platform/errors.h>
#include "platform/host/syscalls.h"

namespace zeb::platform {

namespace {

struct ErrnoEntry {
  int errno_value;
  int16_t error;
};

constexpr ErrnoEntry kErrnoTable[] = {
    {0, err::kOk},
    {ENOENT, err::kNotFound},
    {ENOTDIR, err::kNotFound},
    {EEXIST, err::kAlreadyExists},
    {EBUSY, err::kFileInUse},
    {ETXTBSY, err::kFileInUse},
    {ENAMETOOLONG, err::kBadName},
    {ELOOP, err::kBadName},
    {ENODEV, err::kNoSuchDevice},
    {ENXIO, err::kNoSuchDevice},
    {EBADF, err::kNotOpenFile},
    {EFAULT, err::kOutOfBounds},
    {EINVAL, err::kOutOfBounds},
    {EOVERFLOW, err::kOutOfBounds},
    {EACCES, err::kSecurityViolation},
    {EPERM, err::kSecurityViolation},
    {EROFS, err::kWriteProtected},
    {ENOSPC, err::kNoDiscSpace},
    {EDQUOT, err::kNoDiscSpace},
    {EFBIG, err::kFileFull},
    {EIO, err::kDeviceError},
    {EPIPE, err::kPathDown},  // the reader of a pipe or socket went away
    {ETIMEDOUT, err::kTimedOut},
    {ENOMEM, err::kNoBufferSpace},
    {EMFILE, err::kNoControlBlock},
    {ENFILE, err::kNoControlBlock},
    {EISDIR, err::kInvalidOperation},
    {EOPNOTSUPP, err::kInvalidOperation},
    {ESPIPE, err::kInvalidOperation},
    {EXDEV, err::kInvalidOperation},
    {ENOTTY, err::kInvalidOperation},
    {EPIPE, err::kPathDown},
    {ECONNRESET, err::kPathDown},
    {ECONNREFUSED, err::kPathDown},
    {ENOTCONN, err::kPathDown},
};

}  // namespace

int16_t error_from_errno(int e) {
  for (const ErrnoEntry& entry : kErrnoTable) {
    if (entry.errno_value == e) return entry.error;
  }
  return err::kInternalError;
}

const char* host_error_text(int16_t error) {
  // Numbers the library also gives for reasons of its own stand for no one
  // Linux error.
  if (error == err::kOk || error == err::kInvalidOperation || error == err::kOutOfBounds ||
      error == err::kInternalError) {
    return nullptr;
  }
  for (const ErrnoEntry& entry : kErrnoTable) {
    if (entry.error == error) return std::strerror(entry.errno_value);
  }
  return nullptr;
}

}  // namespace zeb::platform
