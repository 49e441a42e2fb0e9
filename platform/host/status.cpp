// Status (see status.h).
#include "platform/host/status.h"

#include <cstdlib>

#include "platform/host/diagnostics.h"
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

void no_value(const Status& status) {
  write_error_line(program_name() + ": internal error: the value of a failed result was used (" +
                   status.to_string() + ")");
  std::abort();
}

}  // namespace zeb::platform
