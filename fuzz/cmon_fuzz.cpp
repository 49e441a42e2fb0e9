// Fuzz target of UTIL_CMON's reading of a $CMON reply: whether the monitor
// answered, the caller's priority and processor, and a reply of any length
// up to 30 bytes, given to UTIL_CMON in place of a monitor's.
//
// Input layout: byte 0 bit 0 set: the monitor answers (else it cannot be
// reached); bytes 1-2 and 3-4 the caller's priority and processor
// (big-endian); the rest, at most 30 bytes, the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <zeb/util/helpers.h>
#include "platform/ipc/messages.h"
#include "util/helpers_internal.h"

namespace {

const uint8_t* g_reply = nullptr;
size_t g_reply_size = 0;
bool g_answers = false;

int16_t Answer(unsigned char* buffer, int16_t* count) {
  std::memcpy(buffer, g_reply, g_reply_size);
  *count = static_cast<int16_t>(g_reply_size);
  return g_answers ? 0 : 201;
}

int16_t Get16(const uint8_t* p) { return zeb::platform::get16(reinterpret_cast<const char*>(p)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[5] = {};
  std::memcpy(header, data, size < 5 ? size : 5);
  g_answers = (header[0] & 1) != 0;
  g_reply = size > 5 ? data + 5 : data;
  g_reply_size = size > 5 ? size - 5 : 0;
  if (g_reply_size > zeb::platform::kCmonReplyLength)
    g_reply_size = zeb::platform::kCmonReplyLength;
  zeb::util::set_cmon_exchange(Answer);

  char program[24];
  std::memcpy(program, "$VOL    SUB     PROG    ", 24);
  const char names[24] = {};
  int16_t priority = Get16(header + 1), processor = Get16(header + 3);
  const int16_t given_priority = priority, given_processor = processor;
  int16_t result = UTIL_CMON(program, &priority, &processor, names, names);

  if (result != -1 && result != 0) std::abort();
  if (!g_answers) {
    // No monitor: always allowed, -1 replaced, anything else kept.
    if (result != -1 || std::memcmp(program, "$VOL    SUB     PROG    ", 24) != 0) std::abort();
    if (given_priority != -1 && priority != given_priority) std::abort();
    if (given_processor != -1 && processor != given_processor) std::abort();
  } else {
    const bool yes = g_reply_size >= 2 && Get16(g_reply) == 0;
    if (result != (yes ? -1 : 0)) std::abort();
    if (yes && g_reply_size == 30 &&
        (std::memcmp(program, g_reply + 2, 24) != 0 || priority != Get16(g_reply + 26) ||
         processor != Get16(g_reply + 28))) {
      std::abort();
    }
    if (!yes && (priority != given_priority || processor != given_processor)) std::abort();
  }
  zeb::util::set_cmon_exchange(nullptr);
  return 0;
}
