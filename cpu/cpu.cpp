// Processor load sampling over the caller's processor table.
#include <zeb/cpu/cpu.h>

#include <cstring>
#include <limits>

#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>

namespace zeb {

namespace {

using i128 = __int128;

constexpr int kProcessors = 16;
constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

int64_t clamp64(i128 v) {
  if (v > kInt64Max) return kInt64Max;
  if (v < kInt64Min) return kInt64Min;
  return static_cast<int64_t>(v);
}

// The growth of a counter between two readings. The counters only grow; one
// that went backwards (a processor that was restarted) counts as no time.
int64_t delta(int64_t current, int64_t previous) {
  i128 d = i128{current} - previous;
  return d < 0 ? 0 : clamp64(d);
}

// (101 x (part - 1)) / whole, truncated, kept within 0 to 100. An empty
// interval (whole 0 or less) is 0 percent.
int16_t percentage(i128 part, i128 whole) {
  if (whole <= 0) return 0;
  i128 p = 101 * (part - 1) / whole;
  if (p < 0) return 0;
  if (p > 100) return 100;
  return static_cast<int16_t>(p);
}

// 1000 x part / whole, truncated, kept within 0 to 1000. An empty interval
// has no idle time.
int16_t permille(i128 part, i128 whole) {
  if (whole <= 0 || part <= 0) return 0;
  if (part >= whole) return 1000;
  return static_cast<int16_t>(1000 * part / whole);
}

// One step of the smoothed average: avg + (value - avg) / 30, truncated
// toward zero.
int64_t smooth(int64_t avg, int64_t value) { return clamp64(avg + (i128{value} - avg) / 30); }

bool valid(const CpuSample& s) { return s.valid != 0; }

// A processor qualifies for a choice when its bit is set in the candidate
// mask, it was up at initialisation and both of its samples are valid.
bool candidate(const CpuRecord& r, int n, uint16_t cpu_mask) {
  return (cpu_mask & (0x8000u >> n)) != 0 && r.up != 0 && valid(r.previous) && valid(r.current);
}

}  // namespace

int16_t cpu_type_factor(int16_t type) {
  static constexpr int16_t kFactor[8] = {1, 1, 2, 3, 2, 8, 16, 32};
  return type >= 0 && type < 8 ? kFactor[type] : 1;
}

}  // namespace zeb

int16_t CPU_INIT(CpuTable* table, int16_t length, int16_t system, int16_t* count) {
  if (table == nullptr || count == nullptr) return zeb::err::kMissingParameter;
  if (length < zeb::kCpuTableLength) return zeb::err::kBufferTooSmall;
  uint32_t status = static_cast<uint32_t>(REMOTEPROCESSORSTATUS(system));
  *count = static_cast<int16_t>(status >> 16);
  if (*count == 0) return zeb::err::kPathDown;
  std::memset(static_cast<void*>(table), 0, static_cast<size_t>(length));
  for (int n = 0; n < zeb::kProcessors; ++n) {
    CpuRecord& r = table->cpu[n];
    r.system = system;
    r.cpu = static_cast<int16_t>(n);
    if ((status & (0x8000u >> n)) != 0) {
      r.up = 1;
      *count = static_cast<int16_t>(n + 1);
    }
    r.type = PROCESSORTYPE(static_cast<int16_t>(n), system);
    r.version = REMOTETOSVERSION(system);
  }
  // The table was checked above: resetting and priming it cannot fail.
  CPU_RESET(table);
  CPU_SAMPLE(table);
  return CPU_SAMPLE(table);
}

int16_t CPU_RESET(CpuTable* table) {
  if (table == nullptr) return zeb::err::kMissingParameter;
  // 1, not 0, so that the averages can always be divided by.
  for (CpuRecord& r : table->cpu) {
    r.smoothed_clock = 1;
    r.smoothed_idle = 1;
  }
  return zeb::err::kOk;
}

int16_t CPU_SAMPLE(CpuTable* table) {
  if (table == nullptr) return zeb::err::kMissingParameter;
  for (CpuRecord& r : table->cpu) {
    if (r.up == 0) continue;
    r.previous = r.current;
    CpuSample& s = r.current;
    int16_t e = CPUTIMES(r.cpu, r.system, &s.clock, &s.first_busy, &s.second_busy, &s.idle);
    s.valid = e == 0 ? zeb::kTrue : zeb::kFalse;
    if (zeb::valid(r.previous) && zeb::valid(r.current)) {
      r.smoothed_clock = zeb::smooth(r.smoothed_clock, zeb::delta(s.clock, r.previous.clock));
      r.smoothed_idle = zeb::smooth(r.smoothed_idle, zeb::delta(s.idle, r.previous.idle));
    }
  }
  return zeb::err::kOk;
}

int16_t CPU_INFO(const CpuTable* table, int16_t cpu, int16_t* type, int16_t* share_2,
                 int16_t* share_1, int16_t* busy) {
  if (table == nullptr) return zeb::err::kMissingParameter;
  if (cpu < 0 || cpu >= zeb::kProcessors || table->cpu[cpu].up == 0) {
    return zeb::err::kOutOfBounds;
  }
  const CpuRecord& r = table->cpu[cpu];
  if (!zeb::valid(r.previous) || !zeb::valid(r.current)) return zeb::err::kPathDown;
  int64_t clock = zeb::delta(r.current.clock, r.previous.clock);
  if (type) *type = r.type;
  if (share_2) {
    *share_2 = zeb::percentage(zeb::delta(r.current.second_busy, r.previous.second_busy), clock);
  }
  if (share_1) {
    *share_1 = zeb::percentage(zeb::delta(r.current.first_busy, r.previous.first_busy), clock);
  }
  if (busy) {
    *busy = zeb::percentage(zeb::i128{r.smoothed_clock} - r.smoothed_idle, r.smoothed_clock);
  }
  return zeb::err::kOk;
}

int16_t CPU_LEASTBUSY(uint32_t mask, const CpuTable* table, uint16_t cpu_mask, int16_t* cpu,
                      int16_t weight, int16_t use_type) {
  // A stray bit below the last parameter is a malformed call, answered like
  // a missing parameter.
  if (!zeb::mask_fits(mask, 5)) return zeb::err::kMissingParameter;
  if (!zeb::present(mask, 1) || table == nullptr || !zeb::present(mask, 3) || cpu == nullptr) {
    return zeb::err::kMissingParameter;
  }
  if (!zeb::present(mask, 2)) cpu_mask = 0xFFFF;
  if (!zeb::present(mask, 4)) weight = 0;
  if (!zeb::present(mask, 5)) use_type = zeb::kFalse;
  // A weight is a share in tenths; outside 0 to 10 the score would turn
  // negative or overflow, so it is refused.
  if (weight < 0 || weight > 10) return zeb::err::kOutOfBounds;

  int best = 0;
  int16_t chosen = 0;
  for (int n = 0; n < zeb::kProcessors; ++n) {
    const CpuRecord& r = table->cpu[n];
    if (!zeb::candidate(r, n, cpu_mask)) continue;
    int idle = zeb::permille(zeb::delta(r.current.idle, r.previous.idle),
                             zeb::delta(r.current.clock, r.previous.clock));
    int score = idle;
    if (weight != 0) {
      int smoothed = zeb::permille(r.smoothed_idle, r.smoothed_clock);
      score = ((10 - weight) * idle + weight * smoothed) / 10;
    }
    // At most 1000 x 32, so the score stays a 16-bit value.
    if (use_type != 0) score *= zeb::cpu_type_factor(r.type);
    if (score > best) {
      best = score;
      chosen = static_cast<int16_t>(n);
    }
  }
  if (best == 0) return zeb::err::kPathDown;
  *cpu = chosen;
  return zeb::err::kOk;
}

int16_t CPU_MOSTBUSY(const CpuTable* table, uint16_t cpu_mask, int16_t* cpu) {
  if (table == nullptr || cpu == nullptr) return zeb::err::kMissingParameter;
  int64_t best = -1;
  int16_t chosen = 0;
  for (int n = 0; n < zeb::kProcessors; ++n) {
    const CpuRecord& r = table->cpu[n];
    if (!zeb::candidate(r, n, cpu_mask)) continue;
    int64_t value =
        zeb::clamp64(zeb::i128{zeb::delta(r.current.first_busy, r.previous.first_busy)} +
                     zeb::delta(r.current.second_busy, r.previous.second_busy));
    if (value > best) {
      best = value;
      chosen = static_cast<int16_t>(n);
    }
  }
  if (best < 0) return zeb::err::kPathDown;
  *cpu = chosen;
  return zeb::err::kOk;
}
