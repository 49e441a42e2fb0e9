// Processor load sampling: busy figures for each processor of a node and the
// choice of the least or the most busy processor.
//
// The caller owns a processor table (one record per processor number 0 to
// 15), fills it with CPU_INIT for one node and calls CPU_SAMPLE at intervals
// of its own choosing. Every figure describes the interval between the last
// two samples, except the smoothed figures, which average the intervals with
// weight 1/30. The table is not locked; one thread uses it at a time.
//
// Times are 64-bit microseconds as CPUTIMES reports them. All arithmetic is
// 64-bit integer, guarded so that no table content, however odd, divides by
// zero or overflows: a counter that goes backwards counts as no time, and an
// interval of no time gives 0 percent and 0 per mille.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// One reading of a processor's time counters.
struct CpuSample {
  int16_t valid;        // -1 when CPUTIMES succeeded for this reading, else 0
  int64_t clock;        // the processor's current time
  int64_t first_busy;   // the first busy time (running processes)
  int64_t second_busy;  // the second busy time (serving interrupts)
  int64_t idle;         // the idle time
};

// One processor of the table.
struct CpuRecord {
  int16_t system;          // the node the record describes
  uint16_t up;             // 1 when the processor was up at CPU_INIT, else 0
  int16_t type;            // the processor type, as PROCESSORTYPE reports it
  int16_t cpu;             // the processor number
  uint16_t version;        // the node's operating-system version word
  CpuSample previous;      // the reading before the current one
  CpuSample current;       // the latest reading
  int64_t smoothed_clock;  // smoothed clock delta
  int64_t smoothed_idle;   // smoothed idle delta
};

// The processor table: 16 records in processor-number order.
struct CpuTable {
  CpuRecord cpu[16];  // indexed by processor number
};

static_assert(sizeof(CpuSample) == 40);
static_assert(sizeof(CpuRecord) == 112);
static_assert(sizeof(CpuTable) == 1792);
static_assert(offsetof(CpuRecord, previous) == 16);

// Fills table (length bytes, at least 1792) for system and takes two samples.
// count receives the highest up processor number plus 1. Errors: 318 for a
// short buffer (nothing written), 201 for an unreachable node (count is 0),
// 29 for a missing table or count.
ZEB_EXPORT int16_t CPU_INIT(CpuTable* table, int16_t length, int16_t system, int16_t* count);

// Takes a new reading of every processor that was up at CPU_INIT. 0, or 29
// without a table.
ZEB_EXPORT int16_t CPU_SAMPLE(CpuTable* table);

// Restarts the smoothed averages of all 16 records. 0, or 29 without a table.
ZEB_EXPORT int16_t CPU_RESET(CpuTable* table);

// For processor cpu: its type, the second and the first busy time of the last
// interval as percentages of that interval, and the smoothed busy percentage.
// An output given as nullptr is not asked for. Errors: 22 for a processor
// outside 0 to 15 or not up at CPU_INIT, 201 without two valid samples, 29
// without a table. Nothing is written on an error.
ZEB_EXPORT int16_t CPU_INFO(const CpuTable* table, int16_t cpu, int16_t* type, int16_t* share_2,
                            int16_t* share_1, int16_t* busy);

// Chooses the candidate processor with the most idle time; cpu receives it.
// Parameter mask: bit 31 table, 30 cpu_mask, 29 cpu, 28 weight, 27 use_type.
// cpu_mask selects the candidates, processor 0 in the most significant bit
// (absent: all 16); weight (tenths, 0 to 10, absent: 0) is the share of the
// smoothed figure in the score; use_type (absent: false) multiplies the score
// by the processor type's factor. Errors: 29 without table or cpu or with a
// mask bit below 27 set, 22 for a weight outside 0 to 10, 201 when no
// candidate shows idle time. cpu is written only on success.
ZEB_EXPORT int16_t CPU_LEASTBUSY(uint32_t mask, const CpuTable* table = nullptr,
                                 uint16_t cpu_mask = 0xFFFF, int16_t* cpu = nullptr,
                                 int16_t weight = 0, int16_t use_type = 0);

// Chooses the candidate processor with the most busy time (first plus second)
// in the last interval; cpu receives it. Errors: 201 when no processor
// qualifies, 29 without table or cpu. cpu is written only on success.
ZEB_EXPORT int16_t CPU_MOSTBUSY(const CpuTable* table, uint16_t cpu_mask, int16_t* cpu);

namespace zeb {
// The smallest table length CPU_INIT accepts, in bytes.
constexpr int16_t kCpuTableLength = sizeof(CpuTable);

// The factor of a processor type for CPU_LEASTBUSY; 1 outside 0 to 7.
ZEB_EXPORT int16_t cpu_type_factor(int16_t type);
}  // namespace zeb
