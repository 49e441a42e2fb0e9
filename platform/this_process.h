// Process procedures: ending the process, information about the process
// itself, and the sort.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// Ends the process normally (exit status 0). Does not return.
[[noreturn]] ZEB_EXPORT void STOP();

// Ends the process abnormally (exit status zeb::kAbendStatus). Does not return.
[[noreturn]] ZEB_EXPORT void ABEND();

namespace zeb {
constexpr int kAbendStatus = 3;  // the exit status of an abnormal end
}  // namespace zeb

// The comparison procedure of HEAPSORTX_: answers true (-1) when the element
// at a belongs before the element at b, false (0) otherwise.
using SortCompareProc = int16_t (*)(const void* a, const void* b);

// Sorts num_elements elements of element_size 16-bit words each, in place,
// into the order the comparison procedure gives (heap sort: not stable).
// Parameters: 1 array, 2 number of elements, 3 element size in words,
// 4 comparison procedure, 5 pointer array (not used on this host).
// Returns 0, 29 when a required parameter is missing, 22 for a negative
// count or a non-positive element size.
ZEB_EXPORT int16_t HEAPSORTX_(uint32_t mask, void* array = nullptr, int32_t num_elements = 0,
                              int16_t element_size = 0, SortCompareProc compare = nullptr,
                              void* pointer_array = nullptr);

// Information about a process; only the process itself (parameter 1 absent)
// is known on this host. Parameters:
//  1 process handle (10 words; absent: this process)
//  2-4 process name buffer, its size, receives the name's length
//  5 receives the priority
//  6 receives the mother's process handle (10 words; all -1 when none)
//  7-9 home terminal name buffer, its size, receives the name's length
//  10 receives the process time in microseconds
//  11 receives the creator access id, 12 the process access id
//  13 receives the ancestor's process handle (10 words; all -1 when none)
//  14 receives the job id (0)
//  15-17 program file name buffer, its size, receives the name's length
//  18-20 swap file name buffer, its size, receives the name's length
//  21 receives the error detail
// Returns 0, or 22 when a buffer is too small (the error detail then names
// the parameter).
ZEB_EXPORT int16_t PROCESS_GETINFO_(
    uint32_t mask, const int16_t* processhandle = nullptr, char* procname = nullptr,
    int16_t procname_max = 0, int16_t* procname_len = nullptr, int16_t* priority = nullptr,
    int16_t* mom_handle = nullptr, char* hometerm = nullptr, int16_t hometerm_max = 0,
    int16_t* hometerm_len = nullptr, int64_t* process_time = nullptr, int16_t* creator_id = nullptr,
    int16_t* process_id = nullptr, int16_t* gmom_handle = nullptr, int16_t* jobid = nullptr,
    char* program = nullptr, int16_t program_max = 0, int16_t* program_len = nullptr,
    char* swapfile = nullptr, int16_t swapfile_max = 0, int16_t* swapfile_len = nullptr,
    int16_t* error_detail = nullptr);
