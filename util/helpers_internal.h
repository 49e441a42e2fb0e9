// The exchange with $CMON behind UTIL_CMON, replaceable so that a fuzz
// target can answer the request with replies of its choosing without a
// monitor process. Not part of the library's public interface.
#pragma once

#include <cstdint>

namespace zeb::util {

// Sends the 178-byte request in buffer and reads up to 30 bytes of reply
// back into it, storing the count read. Returns 0 when the monitor answered.
using CmonExchange = int16_t (*)(unsigned char* buffer, int16_t* count_read);

// Replaces the exchange; nullptr puts back the one that asks $CMON.
void set_cmon_exchange(CmonExchange exchange);

}  // namespace zeb::util
