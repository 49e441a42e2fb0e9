// The terminal procedures of terminal.h: mask-word adapters over the
// terminal calls of the files room's typed core.
#include <zeb/platform/terminal.h>

#include <algorithm>
#include <cstdint>
#include <span>

#include <zeb/platform/errors.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"

using zeb::present;
using namespace zeb::platform;
namespace err = zeb::err;

namespace {

constexpr int64_t kTickNs = 10'000'000;  // one hundredth of a second

}  // namespace

int16_t AWAITIOX(uint32_t mask, int16_t* filenum, void** buffer_addr, int16_t* count_transferred,
                 int32_t* tag, int32_t timelimit, int16_t* segment_id) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  if (!present(mask, 1) || filenum == nullptr) return err::kMissingParameter;
  Completion done;
  Status status = await_io(filenum, present(mask, 5) ? timelimit : -1, &done);
  if (status.code() == err::kTimedOut) {
    if (present(mask, 3) && count_transferred != nullptr) *count_transferred = 0;
  } else if (done.completed) {
    if (present(mask, 2) && buffer_addr != nullptr) *buffer_addr = done.buffer;
    if (present(mask, 3) && count_transferred != nullptr) *count_transferred = done.count;
    if (present(mask, 4) && tag != nullptr) *tag = 0;
    if (present(mask, 6) && segment_id != nullptr) *segment_id = -1;
  }
  return status.code();
}

namespace {

// What SETMODE and SETPARAM check first: the mask fits their parameter
// count, the file number is given and is a terminal's, and the function is
// given (its absence is also the file's last error).
int16_t check_function_call(uint32_t mask, int parameters, int16_t filenum) {
  if (!zeb::mask_fits(mask, parameters)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  if (Status s = check_terminal(filenum); !s.ok()) return s.code();
  if (!present(mask, 2)) {
    set_file_error(filenum, err::kMissingParameter);
    return err::kMissingParameter;
  }
  return 0;
}

}  // namespace

int16_t CANCEL(int16_t filenum) { return cancel_io(filenum).code(); }

int16_t SETMODE(uint32_t mask, int16_t filenum, int16_t function, int16_t param1,
                int16_t /*param2*/, int16_t* last_params) {
  if (int16_t error = check_function_call(mask, 5, filenum); error != 0) return error;
  Result<ModeWords> before =
      set_mode(filenum, function, present(mask, 3) ? std::optional<int16_t>(param1) : std::nullopt,
               present(mask, 4));
  if (!before.ok()) return before.code();
  if (present(mask, 5) && last_params != nullptr) {
    last_params[0] = (*before)[0];
    last_params[1] = (*before)[1];
  }
  return 0;
}

int16_t SETPARAM(uint32_t mask, int16_t filenum, int16_t function, const void* param_array,
                 int16_t param_count, void* last_param_array, int16_t* last_param_count,
                 int16_t last_param_max, int32_t /*tag*/) {
  if (int16_t error = check_function_call(mask, 8, filenum); error != 0) return error;
  // A count other than 8 (a negative one included) is refused by set_param.
  std::optional<std::span<const char>> params;
  if (present(mask, 3) && param_array != nullptr && present(mask, 4) && param_count != 0) {
    params.emplace(static_cast<const char*>(param_array),
                   static_cast<size_t>(std::max<int16_t>(param_count, 0)));
  }
  // Without a size the buffer is taken to hold the 8 bytes.
  std::optional<std::span<char>> before;
  if (present(mask, 5) && last_param_array != nullptr) {
    size_t size = present(mask, 7) ? static_cast<size_t>(std::max<int16_t>(last_param_max, 0)) : 8;
    before.emplace(static_cast<char*>(last_param_array), size);
  }
  if (Status s = set_param(filenum, function, params, before); !s.ok()) return s.code();
  if (present(mask, 6) && last_param_count != nullptr) *last_param_count = 8;
  return 0;
}

void DELAY(int32_t ticks) {
  if (ticks <= 0) return;
  // A sleep that ends early (a signal) ends the delay early.
  syscalls().sleep_until_ns(syscalls().monotonic_ns() + int64_t{ticks} * kTickNs);
}
