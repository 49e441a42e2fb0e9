// This process: ending it and the sort it offers (the rest of what it knows
// of itself is in processes.h). Internal to the platform.
#pragma once

#include <cstddef>

#include <zeb/platform/this_process.h>
#include "platform/host/status.h"

namespace zeb::platform {

// Ends the process with the exit status: a named process's socket is
// removed and the C streams are flushed; no exit handler runs.
[[noreturn]] void end_process(int status);

// Sorts count elements of element_bytes bytes each in place, compare
// saying whether its first argument belongs after its second (non-zero).
// 29 without an array or a procedure; 21 for elements of no size.
Status heap_sort(void* array, size_t count, size_t element_bytes, SortCompareProc compare);

}  // namespace zeb::platform
