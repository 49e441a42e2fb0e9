// Processor information of the local node: status, times, type, version.
#pragma once

#include <cstdint>

// The processor type number of processor cpu of system (-1: this system).
int16_t PROCESSORTYPE(int16_t cpu, int16_t system = -1);
