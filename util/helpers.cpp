// Process and system helpers (see helpers.h).
#include <zeb/util/helpers.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <zeb/platform/clock.h>
#include <zeb/platform/convert.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/receive.h>
#include <zeb/platform/this_process.h>
#include "platform/host/host.h"
#include "platform/ipc/messages.h"
#include "platform/processes/processes.h"
#include "util/helpers_internal.h"

namespace err = zeb::err;
namespace zp = zeb::platform;

namespace {

int16_t ask_monitor(unsigned char* buffer, int16_t* count_read);

// The exchange with $CMON, a state of the host: the one that asks the
// monitor, or a stand-in a fuzz target or test put in its place; and the
// deadline of the consultation under way, which the one that asks the
// monitor keeps to (the stand-in's form has no room for it).
struct MonitorState {
  zeb::util::CmonExchange exchange = ask_monitor;
  zp::Deadline deadline;
};

MonitorState& monitor() { return zp::host().state<MonitorState>(); }

// One request to $CMON and its reply, read back into the same buffer, the
// whole exchange within the consultation's deadline. Returns 0 when the
// monitor answered (count_read: the reply's length); 310 when it answered
// with an error number, or hung up on the request and lives on, which is
// no consent; 14 when no monitor listens, 201 when it went before
// answering; or why it gave no answer (40: it took the request and did not
// answer in time).
int16_t ask_monitor(unsigned char* buffer, int16_t* count_read) {
  char* bytes = reinterpret_cast<char*>(buffer);
  int16_t reply_error = 0;
  const int16_t error =
      zp::exchange_with_process("$CMON", {bytes, static_cast<size_t>(zp::kCmonRequestLength)},
                                {bytes, static_cast<size_t>(zp::kCmonReplyLength)}, count_read,
                                &reply_error, monitor().deadline)
          .code();
  if (error == 0 && reply_error != 0) return err::kMonitorRefused;
  return error;
}

// Length of a name given as text: up to a NUL or a blank.
int16_t text_length(const char* text) {
  int16_t n = 0;
  while (n < 64 && text[n] != '\0' && text[n] != ' ') ++n;
  return n;
}

}  // namespace

namespace zeb::util {
void set_cmon_exchange(CmonExchange e) { monitor().exchange = e != nullptr ? e : ask_monitor; }
}  // namespace zeb::util

int16_t UTIL_MOM(int16_t* process_id) {
  int16_t id[4];
  MOM(id);
  static const int16_t kZero[4] = {0, 0, 0, 0};
  if (std::memcmp(id, kZero, sizeof id) == 0) {
    // No creator: the ancestor recorded for this process's name.
    int16_t own[4];
    int16_t ppd[9] = {};
    if (PROCESSINFO(zeb::mask({1, 2}), MYPID(), own) == 0) {
      std::memcpy(ppd, own, 6);
      if (LOOKUPPROCESSNAME(ppd) != 0) std::memset(ppd + 5, 0, 8);
    }
    std::memcpy(id, ppd + 5, sizeof id);
  }
  std::memcpy(process_id, id, sizeof id);
  return 0;
}

zp::Status zeb::util::consult_monitor(char* program, int16_t* priority, int16_t* processor,
                                      const char* name_a, const char* name_b,
                                      std::optional<zp::Deadline> deadline) {
  // Every failure names the monitor: what kept the creation from going ahead.
  auto failed = [](int16_t error) { return zp::Status::error(error, "$CMON"); };
  int16_t own_priority = 0, access_id = 0;
  // Without its own priority and user the request cannot be made: the
  // look-up's error is the answer, never a refusal the monitor did not give.
  // No handle is passed: this process is meant, and its handle need not be
  // built (and read from the host) for the look-up.
  if (int16_t error =
          PROCESS_GETINFO_(zeb::mask({5, 12}), nullptr, nullptr, 0, nullptr, &own_priority, nullptr,
                           nullptr, 0, nullptr, nullptr, nullptr, &access_id);
      error != 0) {
    return failed(error);
  }
  // This process's processor: the high byte of its cpu-and-pin word, which
  // needs no look-up of its own.
  const int16_t own_cpu = static_cast<int16_t>(static_cast<uint16_t>(MYPID()) >> 8);

  char buffer[zp::kCmonRequestLength];
  zp::CmonRequest request;
  request.access_id = access_id;
  request.own_priority = own_priority;
  request.name_a = name_a;
  request.name_b = name_b;
  request.program = program;
  request.priority = *priority;
  request.processor = *processor;
  zp::encode_cmon_request(request, buffer);

  int16_t count = 0;
  MonitorState& state = monitor();
  state.deadline = deadline.value_or(zp::Deadline::reply_limit());
  const int16_t asked = state.exchange(reinterpret_cast<unsigned char*>(buffer), &count);
  if (asked == 0) {
    // The monitor answered. Only what its reply holds whole is taken: the
    // rest of the buffer is still the request.
    const zp::CmonReply reply = zp::decode_cmon_reply(
        std::span<const char>(buffer, static_cast<size_t>(std::max<int16_t>(
                                          0, std::min<int16_t>(count, zp::kCmonRequestLength)))));
    if (!reply.allowed) return failed(err::kMonitorRefused);
    if (reply.program) std::memcpy(program, reply.program->data(), 24);
    if (reply.priority) *priority = *reply.priority;
    if (reply.processor) *processor = *reply.processor;
    return zp::Status();
  }
  // Consent by default holds only where there is no monitor to ask: none
  // listens (14), or it ended before it answered (201). A monitor that is
  // there and does not answer in time (40), or one that cannot be asked
  // (no descriptor left, an unsafe socket directory), gives no consent.
  if (asked < 0) return failed(err::kBadMessage);
  if (asked != err::kNoSuchDevice && asked != err::kPathDown) return failed(asked);
  if (*processor == -1) *processor = own_cpu;
  if (*priority == -1) *priority = static_cast<int16_t>(own_priority - 1);
  return zp::Status();
}

int16_t UTIL_CMON(char* program, int16_t* priority, int16_t* processor, const char* name_a,
                  const char* name_b) {
  return zeb::util::consult_monitor(program, priority, processor, name_a, name_b).ok()
             ? zeb::kTrue
             : zeb::kFalse;
}

int16_t UTIL_GETPID(const char* text, int16_t* processor, int16_t* pin) {
  if (std::isdigit(static_cast<unsigned char>(text[0]))) {
    int32_t value = 0;
    int16_t status = 0;
    const char* next = DNUMIN(text, &value, 10, &status);
    if (status != 0) return status;
    *processor = static_cast<int16_t>(value);
    if (*next != ',') return err::kOutOfBounds;
    DNUMIN(next + 1, &value, 10, &status);
    if (status != 0) return status;
    *pin = static_cast<int16_t>(value);
    return 0;
  }
  const size_t length = strnlen(text, 64);
  int16_t handle[10];
  int16_t found = PROCESS_GETPAIRINFO_(zeb::mask({2, 3, 5, 11}), nullptr, const_cast<char*>(text),
                                       static_cast<int16_t>(length), nullptr, handle, nullptr,
                                       nullptr, nullptr, nullptr, 0, 3);
  if ((found != 0 && found != 4) || length == 0) return err::kOutOfBounds;
  if (PROCESSHANDLE_DECOMPOSE_(zeb::mask({1, 2, 3}), handle, processor, pin) != 0) {
    return err::kOutOfBounds;
  }
  return 0;
}

int16_t UTIL_GETSYSTEMNUMBER(const char* text, int16_t* node) {
  if (text[0] == '\\') {
    int16_t n = 1;
    while (n < 64 && std::isalnum(static_cast<unsigned char>(text[n]))) ++n;
    int32_t number = 0;
    if (NODENAME_TO_NODENUMBER_(zeb::mask({1, 2, 3}), text, n, &number) != 0) return -1;
    *node = static_cast<int16_t>(number);
    return n;
  }
  if (std::isdigit(static_cast<unsigned char>(text[0]))) {
    int16_t value = 0, status = 0;
    const char* next = NUMIN(text, &value, 10, &status);
    if (status != 0) return -1;
    *node = value;
    return static_cast<int16_t>(next - text);
  }
  *node = MYSYSTEMNUMBER();
  return 0;
}

int64_t UTIL_TIMESTAMP() {
  int16_t words[3];
  TIMESTAMP(words);
  int64_t value = 0;
  for (int16_t w : words) value = (value << 16) | static_cast<uint16_t>(w);
  return value;
}

int16_t UTIL_TIMEZONE() {
  // Greenwich time is read first, so the difference is never below the
  // zone's offset; the floor division rounds a zone behind Greenwich to its
  // own hour rather than toward zero.
  constexpr int64_t kHour = 3600000000LL;
  const int64_t greenwich = JULIANTIMESTAMP(0);
  const int64_t civil = PROCESSOR_CLOCK() + zeb::kJulianEpochOffset;
  int64_t shifted = civil - greenwich + kHour / 2;
  int64_t hours = shifted / kHour;
  if (shifted % kHour < 0) --hours;
  return static_cast<int16_t>(hours);
}

int16_t UTIL_RND(int16_t* seed, int16_t range) {
  const uint16_t next = static_cast<uint16_t>(static_cast<uint16_t>(*seed) * 5711u + 11u);
  *seed = static_cast<int16_t>(next);
  // Range 0 would divide by zero: the new seed itself is the number.
  if (range == 0) return static_cast<int16_t>(next);
  return static_cast<int16_t>(next % static_cast<uint16_t>(range));
}

int16_t UTIL_FILESTATUS(int16_t filenum) {
  int16_t last = 0;
  int16_t result = FILE_GETINFO_(zeb::mask({1, 2}), filenum, &last);
  return result != 0 ? result : last;
}

int16_t UTIL_CREATELIKE(const char* new_name, const char* model_name) {
  static const char kBlankDefaults[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                          ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  char new_internal[24], model_internal[24];
  if (FNAMEEXPAND(new_name, text_length(new_name), new_internal, kBlankDefaults) == 0 ||
      FNAMEEXPAND(model_name, text_length(model_name), model_internal, kBlankDefaults) == 0) {
    return err::kBadName;
  }
  int16_t error = 0;
  int16_t primary = 0, filecode = 0, secondary = 0, filetype = 0, maxextents = 0, buffersize = 0;
  int16_t possible = 0, security = 0;
  // FILEINFO by name returns what it writes to error, checked below.
  FILEINFO(zeb::mask({2, 3, 6, 10, 11, 16, 21, 22, 23, 24}), 0, &error, model_internal, nullptr,
           nullptr, &primary, nullptr, nullptr, nullptr, &filecode, &secondary, nullptr, nullptr,
           nullptr, nullptr, &security, nullptr, nullptr, nullptr, nullptr, &filetype, &maxextents,
           &buffersize, &possible);
  if (error != 0) return error;
  int16_t recordlen = 0, blocklen = 0;
  FileKeyInfo keyinfo{}, altkeys{}, partitions{};
  if (FILERECINFO(zeb::mask({15, 10, 11, 12, 13, 14}), -1, nullptr, nullptr, nullptr, nullptr,
                  nullptr, nullptr, nullptr, nullptr, &recordlen, &blocklen, &keyinfo, &altkeys,
                  &partitions, model_internal) != 0) {
    return err::kNotFound;
  }
  // Every outcome of CREATE, success included, is kept as the last
  // error of file -1, read next.
  CREATE(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), new_internal, primary, filecode,
         secondary, filetype, recordlen, blocklen, &keyinfo, &altkeys, &partitions, maxextents,
         buffersize, possible);
  int16_t created = 0;
  FILEINFO(zeb::mask({1, 2}), -1, &created);
  if (created == 0) created = FILE_SETSECURITY_(new_internal, security);
  return created;
}

int16_t UTIL_INSTR(uint32_t mask, const char* string, int16_t length, const char* pattern,
                   int16_t pattern_length, int16_t start) {
  using zeb::present;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || !present(mask, 4) ||
      string == nullptr || pattern == nullptr) {
    return -1;
  }
  const int from = present(mask, 5) ? start : 0;
  if (from < 0 || pattern_length < 0) return -1;
  for (int at = from; at <= length - pattern_length; ++at) {
    if (std::memcmp(string + at, pattern, static_cast<size_t>(pattern_length)) == 0) {
      return static_cast<int16_t>(at);
    }
  }
  return -1;
}

int16_t UTIL_NOCASECOMPARE(const char* string1, int16_t length1, const char* string2,
                           int16_t length2) {
  const int16_t n = length1 < length2 ? length1 : length2;
  for (int16_t i = 0; i < n; ++i) {
    const unsigned char a = static_cast<unsigned char>(string1[i]);
    const unsigned char b = static_cast<unsigned char>(string2[i]);
    if (a == b) continue;
    const unsigned char folded = static_cast<unsigned char>(a | 0x20);
    if (folded >= 'a' && folded <= 'z' && (a ^ 0x20) == b) continue;
    return i;
  }
  return n < 0 ? 0 : n;
}
