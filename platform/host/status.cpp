// Status (see status.h).
#include "platform/host/status.h"

#include "platform/host/syscalls.h"

namespace zeb::platform {

Status Status::from_errno(int e, std::string_view what) {
  return Status(error_from_errno(e), what);
}

std::string Status::to_string() const {
  if (ok()) return "ok";
  std::string text = "error " + std::to_string(code_);
  if (!what_.empty()) text += " (" + what_ + ")";
  return text;
}

}  // namespace zeb::platform
