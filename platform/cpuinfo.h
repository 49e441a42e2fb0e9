// Processor information of the local node: status, times, type, version.
#pragma once

#include <cstdint>

namespace zeb {
// The processor type number every processor of this host reports.
constexpr int16_t kHostProcessorType = 7;
}  // namespace zeb

// The processor type number of processor cpu of system (-1: this system).
// -1 for a processor number outside 0 to 15 or another system.
int16_t PROCESSORTYPE(int16_t cpu, int16_t system = -1);
