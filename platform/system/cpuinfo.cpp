// Processor information of the local node, read from the host.
//
// /proc/stat counts each processor's time in clock ticks (USER_HZ); the
// counters are converted to microseconds here, in 64-bit integers, so that
// the rest of the library sees the same unit as the processor clock.
#include <zeb/platform/cpuinfo.h>

#include <charconv>
#include <cstdint>
#include <limits>

#include <zeb/platform/errors.h>
#include "platform/host/syscalls.h"

namespace zeb::platform {

namespace {

// The only node is this one; it answers to the local system number and to
// -1 ("this system"). Keep in step with MYSYSTEMNUMBER.
constexpr int16_t kLocalSystem = 0;
constexpr int kMaxProcessors = 16;

bool is_local(int16_t system) { return system == -1 || system == kLocalSystem; }

// Reads one source of the host through the seam; 0 or the error.
int16_t read_source(const char* path, std::string& out) {
  out.clear();
  return syscalls().read_system_file(path, &out) == 0 ? err::kOk : error_from_errno(errno);
}

constexpr char kStatPath[] = "/proc/stat";
constexpr char kOnlinePath[] = "/sys/devices/system/cpu/online";
constexpr char kPresentPath[] = "/sys/devices/system/cpu/present";

long ticks_per_second() {
  long t = syscalls().clock_ticks();
  return t > 0 ? t : 100;  // USER_HZ has been 100 on every Linux port
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

bool parse_number(std::string_view s, uint64_t* value) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
  return ec == std::errc() && end == s.data() + s.size();
}

// Ticks to microseconds, truncated; a count too large for 64 bits saturates.
int64_t ticks_to_us(unsigned __int128 ticks, long per_second) {
  unsigned __int128 us = ticks * 1000000u / static_cast<unsigned __int128>(per_second);
  constexpr auto kMax = static_cast<unsigned __int128>(std::numeric_limits<int64_t>::max());
  return static_cast<int64_t>(us > kMax ? kMax : us);
}

// The counters of one "cpuN" line of /proc/stat: user, nice, system, idle,
// iowait, irq, softirq, steal (older kernels give only the first four; the
// guest times that follow are already part of user and nice).
struct StatLine {
  uint64_t field[8] = {};
};

// Finds the line of processor cpu. Returns 0, 201 when the processor has no
// line (it is offline), or 22 for a malformed line.
int16_t find_stat_line(std::string_view text, int cpu, StatLine* line) {
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string_view l = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (l.size() < 4 || l.substr(0, 3) != "cpu" || l[3] < '0' || l[3] > '9') continue;
    size_t sp = l.find(' ');
    uint64_t n = 0;
    if (sp == std::string_view::npos || !parse_number(l.substr(3, sp - 3), &n)) continue;
    if (n != static_cast<uint64_t>(cpu)) continue;
    std::string_view rest = l.substr(sp);
    int count = 0;
    while (count < 8) {
      rest = trim(rest);
      if (rest.empty()) break;
      size_t end = rest.find(' ');
      if (!parse_number(rest.substr(0, end), &line->field[count])) return err::kOutOfBounds;
      ++count;
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    }
    return count >= 4 ? err::kOk : err::kOutOfBounds;
  }
  return err::kPathDown;
}

}  // namespace

bool parse_cpu_list(std::string_view text, uint16_t* bits, int* slots) {
  uint16_t b = 0;
  uint64_t highest = 0;
  bool any = false;
  text = trim(text);
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    size_t dash = item.find('-');
    uint64_t first = 0;
    uint64_t last = 0;
    if (!parse_number(item.substr(0, dash), &first)) return false;
    last = first;
    if (dash != std::string_view::npos && !parse_number(item.substr(dash + 1), &last)) return false;
    if (last < first) return false;
    for (uint64_t n = first; n <= last && n < kMaxProcessors; ++n) {
      b = static_cast<uint16_t>(b | (0x8000u >> n));
    }
    if (!any || last > highest) highest = last;
    any = true;
  }
  *bits = b;
  *slots = !any ? 0 : highest >= kMaxProcessors ? kMaxProcessors : static_cast<int>(highest + 1);
  return true;
}

}  // namespace zeb::platform

using zeb::platform::read_source;

// Every processor slot of this node reports the same type: the host's cores
// are all of one kind, and it is a property of the node rather than of a
// core, so a processor that is down or absent reports it too. The number is
// that of the newest and fastest type the library knows (7, "K10").
int16_t PROCESSORTYPE(int16_t cpu, int16_t system) {
  if (!zeb::platform::is_local(system) || cpu < 0 || cpu >= zeb::platform::kMaxProcessors) {
    return -1;
  }
  return zeb::kHostProcessorType;
}

// The slots are the processors the host has (the present list) up to the
// highest one; the up bits are the online list. When the present list cannot
// be read the online list stands for both.
int32_t REMOTEPROCESSORSTATUS(int16_t system) {
  using namespace zeb::platform;
  if (!is_local(system)) return 0;
  std::string text;
  uint16_t up = 0;
  int slots = 0;
  if (read_source(kOnlinePath, text) != 0 || !parse_cpu_list(text, &up, &slots)) {
    return 0;
  }
  uint16_t present_bits = 0;
  int present_slots = 0;
  if (read_source(kPresentPath, text) == 0 && parse_cpu_list(text, &present_bits, &present_slots) &&
      present_slots > slots) {
    slots = present_slots;
  }
  return static_cast<int32_t>((static_cast<uint32_t>(slots) << 16) | up);
}

int16_t CPUTIMES(int16_t cpu, int16_t system, int64_t* clock, int64_t* busy_1, int64_t* busy_2,
                 int64_t* idle) {
  using namespace zeb::platform;
  if (!is_local(system)) return zeb::err::kPathDown;
  if (cpu < 0 || cpu >= kMaxProcessors) return zeb::err::kOutOfBounds;
  std::string text;
  int16_t e = read_source(kStatPath, text);
  if (e != 0) return e;
  StatLine line;
  e = find_stat_line(text, cpu, &line);
  if (e != 0) return e;
  const uint64_t* f = line.field;
  using u128 = unsigned __int128;
  u128 run = u128{f[0]} + f[1] + f[2];
  u128 interrupt = u128{f[5]} + f[6];
  u128 rest = u128{f[3]} + f[4];
  u128 all = run + interrupt + rest + f[7];
  long tps = ticks_per_second();
  // Each group is truncated on its own, so the parts never add up to more
  // than the clock.
  if (clock) *clock = ticks_to_us(all, tps);
  if (busy_1) *busy_1 = ticks_to_us(run, tps);
  if (busy_2) *busy_2 = ticks_to_us(interrupt, tps);
  if (idle) *idle = ticks_to_us(rest, tps);
  return zeb::err::kOk;
}

uint16_t REMOTETOSVERSION(int16_t system) {
  using namespace zeb::platform;
  if (!is_local(system)) return 0;
  std::string text;
  if (syscalls().kernel_release(&text) != 0) return 0;
  std::string_view r = trim(text);
  size_t dot = r.find('.');
  if (dot == std::string_view::npos) return 0;
  size_t end = dot + 1;
  while (end < r.size() && r[end] >= '0' && r[end] <= '9') ++end;
  uint64_t major = 0;
  uint64_t minor = 0;
  if (!parse_number(r.substr(0, dot), &major) ||
      !parse_number(r.substr(dot + 1, end - dot - 1), &minor)) {
    return 0;
  }
  if (major > 255) major = 255;
  if (minor > 255) minor = 255;
  return static_cast<uint16_t>((major << 8) | minor);
}
