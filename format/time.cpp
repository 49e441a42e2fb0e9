// The time field (t): a point in time as date and time of day, or a span of
// time as hours, minutes and seconds, shown as a run of columns of the
// 26-column layout "yyyy/mm/dd hh:mm:ss.uuuuuu".
#include <cstring>

#include <zeb/platform/clock.h>
#include <zeb/platform/convert.h>
#include "format/format_internal.h"

namespace zeb::format {

namespace {

// Values of 32000 days or more are Julian timestamps, smaller ones intervals.
constexpr int64_t kTimestampFloor = 32000LL * 86400 * 1000000;

// Rounding added before the value is broken down, by the last column shown.
int64_t rounding(int last) {
  switch (last) {
    case 20:
      return 50000;
    case 21:
      return 5000;
    case 22:
      return 500;
    case 23:
      return 50;
    case 24:
      return 5;
    case 25:
      return 0;
    default:
      return 500000;
  }
}

// The total hours of an interval right-justified in columns 0-12, blank
// filled, at least two digits, with a "-" in front of a negative interval.
void write_hours(char* cols, int64_t hours, bool negative) {
  int i = 12;
  do {
    cols[i--] = static_cast<char>('0' + hours % 10);
    hours /= 10;
  } while (hours != 0 && i >= 0);
  if (cols[11] == ' ') cols[11] = '0';
  if (negative) {
    int first = 0;
    while (first < 13 && cols[first] == ' ') ++first;
    if (first > 0) cols[first - 1] = '-';
  }
}

}  // namespace

void process_time(State& s) {
  s.next_char();
  int64_t value = 0;
  if (s.test_char('s')) {
    // Three words, most significant first, counting hundredths of a second
    // from 00:00 on 31 December 1974.
    const void* p = s.next_param();
    uint16_t w[3] = {0, 0, 0};
    if (p != nullptr) std::memcpy(w, p, sizeof w);
    uint64_t count =
        (static_cast<uint64_t>(w[0]) << 32) | (static_cast<uint64_t>(w[1]) << 16) | w[2];
    value = static_cast<int64_t>(count * 10000) + kJulianEpochOffset;
  } else if (s.test_char('j')) {
    value = s.param<int64_t>();
  } else {
    value = PROCESSOR_CLOCK() + kJulianEpochOffset;
  }
  int first = 0;
  int last = 0;
  s.get_width(&first, &last);
  if (last < 0) {
    // A negative last column shows nothing.
    s.output(0, nullptr, 0, kLeft);
    return;
  }
  if (last == 0 || last > 25) last = 25;
  if (first < 0 || last < first) first = 0;

  // Negative values are intervals shown with a minus sign in front of the
  // hours; they are rounded away from zero like positive ones.
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  if (magnitude > static_cast<uint64_t>(INT64_MAX) - 500000) {
    magnitude = static_cast<uint64_t>(INT64_MAX) - 500000;
  }
  int64_t v = static_cast<int64_t>(magnitude) + rounding(last);

  char cols[27] = "yyyy/mm/dd hh:mm:ss.uuuuuu";
  int16_t minute = 0, second = 0, milli = 0, micro = 0;
  if (negative || v < kTimestampFloor) {
    int16_t hour = 0;
    int32_t days = INTERPRETINTERVAL(zeb::mask({1, 2, 3, 4, 5, 6}), v, &hour, &minute, &second,
                                     &milli, &micro);
    if (first < 13) {
      std::memset(cols, ' ', 13);
      write_hours(cols, static_cast<int64_t>(days) * 24 + hour, negative);
    }
  } else {
    int16_t t[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    INTERPRETTIMESTAMP(v, t);  // out of range: the parts stay 0
    if (first < 4) NUMOUT(cols, t[0], 10, 4);
    if (last >= 5 && first < 7) NUMOUT(cols + 5, t[1], 10, 2);
    if (last >= 8 && first < 10) NUMOUT(cols + 8, t[2], 10, 2);
    if (last >= 11 && first < 13) NUMOUT(cols + 11, t[3], 10, 2);
    minute = t[4];
    second = t[5];
    milli = t[6];
    micro = t[7];
  }
  if (last >= 14 && first < 16) NUMOUT(cols + 14, minute, 10, 2);
  if (last >= 17 && first < 19) NUMOUT(cols + 17, second, 10, 2);
  if (last >= 20 && first < 23) NUMOUT(cols + 20, milli, 10, 3);
  if (last >= 23) NUMOUT(cols + 23, micro, 10, 3);
  s.output(0, cols + first, last - first + 1, kLeft);
}

}  // namespace zeb::format
