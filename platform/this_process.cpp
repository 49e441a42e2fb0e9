// The procedures of this_process.h: adapters over the process room's typed
// calls (platform/processes/self.h, processes.h).
#include <zeb/platform/this_process.h>

#include <cstring>
#include <string>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/types.h>
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/processes/processes.h"
#include "platform/processes/self.h"

namespace {

bool copy_out(const std::string& text, char* buffer, int16_t max, int16_t* len) {
  if (static_cast<size_t>(max < 0 ? 0 : max) < text.size()) return false;
  std::memcpy(buffer, text.data(), text.size());
  if (len != nullptr) *len = static_cast<int16_t>(text.size());
  return true;
}

}  // namespace

void STOP() { zeb::platform::end_process(0); }

void ABEND() { zeb::platform::end_process(zeb::kAbendStatus); }

int16_t HEAPSORTX_(uint32_t mask, void* array, int32_t num_elements, int16_t element_size,
                   SortCompareProc compare, void* /*pointer_array*/) {
  using zeb::present;
  if (!zeb::mask_fits(mask, 5)) return zeb::err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || !present(mask, 4) ||
      array == nullptr || compare == nullptr) {
    return zeb::err::kMissingParameter;
  }
  if (num_elements < 0 || element_size <= 0) return zeb::err::kOutOfBounds;
  // Element sizes are counted in 16-bit words.
  return zeb::platform::heap_sort(array, static_cast<size_t>(num_elements),
                                  static_cast<size_t>(element_size) * 2, compare)
      .code();
}

int16_t PROCESS_GETINFO_(uint32_t mask, const int16_t* processhandle, char* procname,
                         int16_t procname_max, int16_t* procname_len, int16_t* priority,
                         int16_t* mom_handle, char* hometerm, int16_t hometerm_max,
                         int16_t* hometerm_len, int64_t* process_time, int16_t* creator_id,
                         int16_t* process_id, int16_t* gmom_handle, int16_t* jobid, char* program,
                         int16_t program_max, int16_t* program_len, char* swapfile,
                         int16_t swapfile_max, int16_t* swapfile_len, int16_t* error_detail) {
  using zeb::present;
  auto fail = [&](int16_t error, int16_t detail) {
    if (present(mask, 21) && error_detail != nullptr) *error_detail = detail;
    return error;
  };
  if (!zeb::mask_fits(mask, 21)) return fail(zeb::err::kInvalidOperation, 0);
  // Only this process is known here (the null handle or its own); a handle
  // naming another is not found.
  if (present(mask, 1) && processhandle != nullptr) {
    int16_t own[10];
    zeb::platform::process_handle_of(zeb::platform::syscalls().getpid(), own);
    bool all_null = true, self = true;
    for (int i = 0; i < 10; ++i) {
      all_null = all_null && (processhandle[i] == -1);
      self = self && (processhandle[i] == own[i]);
    }
    if (!all_null && !self) return fail(zeb::err::kNotFound, 1);
  }
  if (present(mask, 2) && procname != nullptr &&
      !copy_out(zeb::platform::process_name(), procname, procname_max,
                present(mask, 4) ? procname_len : nullptr)) {
    return fail(zeb::err::kOutOfBounds, 2);
  }
  if (present(mask, 5) && priority != nullptr) *priority = zeb::kOwnPriority;
  // The mother is the library parent at the far end of the private channel,
  // or else the parent process (the shell); no process has an ancestor.
  if (present(mask, 6) && mom_handle != nullptr) zeb::platform::mother_handle(mom_handle);
  if (present(mask, 7) && hometerm != nullptr &&
      !copy_out(zeb::platform::home_terminal_name(), hometerm, hometerm_max,
                present(mask, 9) ? hometerm_len : nullptr)) {
    return fail(zeb::err::kOutOfBounds, 7);
  }
  if (present(mask, 10) && process_time != nullptr) *process_time = MYPROCESSTIME();
  if (present(mask, 11) && creator_id != nullptr)
    *creator_id = static_cast<int16_t>(zeb::platform::syscalls().getuid());
  if (present(mask, 12) && process_id != nullptr)
    *process_id = static_cast<int16_t>(zeb::platform::syscalls().geteuid());
  if (present(mask, 13) && gmom_handle != nullptr) {
    for (int i = 0; i < 10; ++i) gmom_handle[i] = -1;
  }
  if (present(mask, 14) && jobid != nullptr) *jobid = 0;
  if (present(mask, 15) && program != nullptr) {
    if (!copy_out(zeb::platform::program_path(), program, program_max,
                  present(mask, 17) ? program_len : nullptr)) {
      return fail(zeb::err::kOutOfBounds, 15);
    }
  }
  if (present(mask, 18) && swapfile != nullptr) {
    zeb::platform::Result<std::string> volume = zeb::platform::swap_file_name();
    if (!volume.ok()) return fail(volume.code(), 18);
    if (!copy_out(*volume, swapfile, swapfile_max, present(mask, 20) ? swapfile_len : nullptr)) {
      return fail(zeb::err::kOutOfBounds, 18);
    }
  }
  return fail(0, 0);
}
