// The procedures of newprocess.h: adapters over the process room's typed
// calls (platform/processes/processes.h).
#include <zeb/platform/newprocess.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/procinfo.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;
using zeb::present;
using namespace zeb::platform;

int16_t NEWPROCESS(uint32_t mask, const char* program, int16_t priority, int16_t /*memory_pages*/,
                   int16_t /*processor*/, int16_t* process_id, int16_t* error, const char* name,
                   const char* /*hometerm*/) {
  auto result = [&](int16_t word) {
    if (present(mask, 6) && error != nullptr) *error = word;
    return word;
  };
  if (!zeb::mask_fits(mask, 8)) {
    return result(zeb::create_error_word(zeb::kCreateProgramFile, err::kInvalidOperation));
  }
  if (!present(mask, 1) || program == nullptr) {
    return result(zeb::create_error_word(zeb::kCreateProgramFile, err::kMissingParameter));
  }
  CreateRequest request;
  request.program = program;
  request.priority = present(mask, 2) ? priority : int16_t{-1};
  request.name = present(mask, 7) ? name : nullptr;
  Result<Created> created = create_process(request);
  // No channel for the child (a plain file-system error below any word):
  // NEWPROCESS has only the word to say it with, (2, the error).
  if (!created.ok() && created.code() < 0x200) {
    return result(zeb::create_error_word(zeb::kCreateOutOfProcesses, created.code()));
  }
  if (!created.ok()) return result(created.code());
  if (present(mask, 5) && process_id != nullptr) {
    std::memcpy(process_id, created->id.data(), sizeof created->id);
  }
  return result(0);
}

void MOM(int16_t* process_id) {
  const std::optional<std::array<int16_t, 4>> id = creator_identifier();
  if (id) {
    std::memcpy(process_id, id->data(), 8);
  } else {
    std::memset(process_id, 0, 8);
  }
}

void MYTERM(char* name) {
  const std::string terminal = home_terminal_name();
  std::memset(name, ' ', 24);
  std::memcpy(name, terminal.data(), terminal.size());
}

int16_t LOOKUPPROCESSNAME(int16_t* ppd) {
  if (ppd == nullptr) return err::kMissingParameter;
  Result<NamedProcess> found = lookup_process_name(std::string(reinterpret_cast<char*>(ppd), 6));
  if (!found.ok()) return found.code();
  ppd[3] = found->cpupin;
  ppd[4] = 0;
  std::memcpy(ppd + 5, found->parent.data(), 8);
  return 0;
}

void PROCESSHANDLE_GETMINE_(int16_t* handle) {
  process_handle_of(static_cast<long>(syscalls().getpid()), handle);
}

int16_t PROCESSHANDLE_DECOMPOSE_(uint32_t mask, const int16_t* handle, int16_t* cpu, int16_t* pin,
                                 int32_t* node, char* nodename, int16_t nodename_max,
                                 int16_t* nodename_len, char* procname, int16_t procname_max,
                                 int16_t* procname_len, int64_t* sequence) {
  if (!zeb::mask_fits(mask, 11)) return err::kInvalidOperation;
  if (!present(mask, 1) || handle == nullptr) return err::kMissingParameter;
  Result<HandleParts> parts = decompose_handle(handle);
  if (!parts.ok()) return parts.code();
  if (present(mask, 2) && cpu != nullptr) *cpu = parts->cpu;
  if (present(mask, 3) && pin != nullptr) *pin = parts->pin;
  if (present(mask, 4) && node != nullptr) *node = MYSYSTEMNUMBER();
  auto copy_out = [&](const std::string& text, char* buffer, int16_t max, int16_t* len) {
    if (buffer == nullptr) return true;
    if (static_cast<size_t>(std::max<int16_t>(max, 0)) < text.size()) return false;
    std::memcpy(buffer, text.data(), text.size());
    if (len != nullptr) *len = static_cast<int16_t>(text.size());
    return true;
  };
  if (present(mask, 5) && !copy_out(node_name(), nodename, present(mask, 6) ? nodename_max : 0,
                                    present(mask, 7) ? nodename_len : nullptr)) {
    return err::kOutOfBounds;
  }
  if (present(mask, 8) &&
      !copy_out(parts->process_name, procname, present(mask, 9) ? procname_max : 0,
                present(mask, 10) ? procname_len : nullptr)) {
    return err::kOutOfBounds;
  }
  if (present(mask, 11) && sequence != nullptr) *sequence = parts->sequence;
  return 0;
}

void TIMESTAMP(int16_t* interval_clock) {
  const int64_t hundredths = PROCESSOR_CLOCK() / 10000;
  for (int i = 0; i < 3; ++i) {
    interval_clock[i] = static_cast<int16_t>((hundredths >> (32 - 16 * i)) & 0xFFFF);
  }
}

int16_t NODENAME_TO_NODENUMBER_(uint32_t mask, const char* name, int16_t length, int32_t* node) {
  if (!zeb::mask_fits(mask, 3)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || name == nullptr ||
      node == nullptr || length < 0) {
    return err::kMissingParameter;
  }
  Result<int32_t> number = node_number(std::string_view(name, static_cast<size_t>(length)));
  if (!number.ok()) return number.code();
  *node = *number;
  return 0;
}

int16_t OPEN(uint32_t mask, const char* name, int16_t* filenum, int16_t /*flags*/,
             int16_t /*sync_depth*/) {
  if (!zeb::mask_fits(mask, 4)) return record_open_error(err::kInvalidOperation);
  if (!present(mask, 1) || !present(mask, 2) || name == nullptr || filenum == nullptr) {
    return record_open_error(err::kMissingParameter);
  }
  *filenum = zeb::kNotOpen;
  Result<int16_t> opened = open_process(name);
  if (opened.ok()) *filenum = *opened;
  return opened.code();
}
