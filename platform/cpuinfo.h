// Processor information of the local node: status, times, type, version.
//
// This host is the only node. It answers to system number 0 (the local
// system number) and to -1 ("this system"); any other system number is an
// unreachable node. Processors are numbered 0 to 15; the host's processors
// beyond 15 are not reported. Figures come from /proc/stat, the processor
// lists in /sys/devices/system/cpu and the kernel release (uname), each read
// through the host seam (syscalls.h), where a test can replace them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <zeb/platform/export.h>

namespace zeb {
// The processor type number every processor of this host reports.
constexpr int16_t kHostProcessorType = 7;
}  // namespace zeb

// The processor type number of processor cpu of system (-1: this system).
// -1 for a processor number outside 0 to 15 or another system.
ZEB_EXPORT int16_t PROCESSORTYPE(int16_t cpu, int16_t system = -1);

// The processor status of system: the number of processor slots in the high
// 16 bits and the processors that are up in the low 16 bits, processor n in
// bit 15 - n. 0 for an unreachable node.
ZEB_EXPORT int32_t REMOTEPROCESSORSTATUS(int16_t system);

// The time counters of processor cpu of system, each in microseconds since
// the host started and each optional (nullptr: not asked for):
//   clock  all time the processor has accounted for (the sum of the others
//          and of time taken by the hypervisor),
//   busy_1 time spent running processes (user, nice and system time),
//   busy_2 time spent serving interrupts (hard and soft interrupts),
//   idle   time spent idle or waiting for I/O.
// Errors: 201 for another node or a processor that is not up, 22 for a
// processor number outside 0 to 15, and the error of an unreadable source.
// Nothing is written on an error.
ZEB_EXPORT int16_t CPUTIMES(int16_t cpu, int16_t system, int64_t* clock, int64_t* busy_1,
                            int64_t* busy_2, int64_t* idle);

// The operating-system version word of system: the kernel's major version in
// the high byte and its minor version in the low byte (6.18 gives 0x0612),
// each at most 255. 0 for another node or an unreadable release.
ZEB_EXPORT uint16_t REMOTETOSVERSION(int16_t system);

namespace zeb::platform {

// Parses a kernel processor list ("0-3,5,8-9") into up bits of processors
// 0 to 15 (processor n in bit 15 - n) and the number of listed processors up
// to the highest one (at most 16). False when the text is not such a list.
ZEB_EXPORT bool parse_cpu_list(std::string_view text, uint16_t* bits, int* slots);

}  // namespace zeb::platform
