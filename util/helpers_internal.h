// The exchange with $CMON behind UTIL_CMON, replaceable so that a fuzz
// target can answer the request with replies of its choosing without a
// monitor process. Not part of the library's public interface.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/processes/processes.h"

namespace zeb::util {

// Sends the 178-byte request in buffer and reads up to 30 bytes of reply
// back into it, storing the count read. Returns 0 when the monitor answered,
// 14 when no monitor listens, 201 when it went before answering, or the
// error that kept it from answering.
using CmonExchange = int16_t (*)(unsigned char* buffer, int16_t* count_read);

// Replaces the exchange (of the host in force); nullptr puts back the one
// that asks $CMON.
void set_cmon_exchange(CmonExchange exchange);

// UTIL_CMON with the reason of a "no": success when the creation may go
// ahead (the monitor allowed it, or there is no monitor to ask), 310 when
// the monitor refused, else the error that kept the monitor from being
// asked or from answering (40: it did not answer in time); the note is
// "$CMON". The whole exchange
// with the monitor keeps to deadline, by default the reply limit from now.
platform::Status consult_monitor(char* program, int16_t* priority, int16_t* processor,
                                 const char* name_a, const char* name_b,
                                 std::optional<platform::Deadline> deadline = std::nullopt);

}  // namespace zeb::util
