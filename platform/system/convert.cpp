// Number and time conversion in plain integer arithmetic.
#include <zeb/platform/convert.h>

#include <zeb/platform/types.h>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr int64_t kMicrosPerDay = 86400LL * 1000000;

// Julian day numbers of 1 January of year 1 and of 31 December 9999.
constexpr int32_t kFirstDay = 1721426;
constexpr int32_t kLastDay = 5373484;
// The Julian day number of 1 January 1970.
constexpr int32_t kUnixDay = 2440588;

// Days since 1 January 1970 of a proleptic Gregorian date (era arithmetic,
// valid for every year that fits an int).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = yoe + era * 400 + (*m <= 2);
}

// Writes value's digits in base right-aligned into buffer[0..width), filled
// with fill on the left; low-order digits win when there are too many.
void write_digits(char* buffer, uint32_t value, unsigned base, int width, char fill) {
  for (int i = width - 1; i >= 0; --i) {
    if (value == 0 && i != width - 1) {
      buffer[i] = fill;
    } else {
      buffer[i] = kDigits[value % base];
      value /= base;
    }
  }
}

int digit_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 99;
}

// The common scanner of DNUMIN and NUMIN: the magnitude is gathered in 64
// bits and checked against [low, high] after the sign is applied.
const char* scan_number(const char* text, int64_t low, int64_t high, int64_t high_other,
                        int64_t* value, int16_t base, int16_t* status) {
  *value = 0;
  if (text == nullptr) {
    if (status != nullptr) *status = -1;
    return text;
  }
  const char* p = text;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (*p == '%') {
    if (p[1] == 'h' || p[1] == 'H') {
      base = 16;
      p += 2;
    } else if (p[1] == 'b' || p[1] == 'B') {
      base = 2;
      p += 2;
    } else {
      base = 8;
      p += 1;
    }
  }
  if (base < 2 || base > 16) {
    if (status != nullptr) *status = -1;
    return text;
  }
  uint64_t magnitude = 0;
  bool overflow = false;
  const char* digits = p;
  for (;;) {
    int v = digit_value(static_cast<unsigned char>(*p));
    if (v >= base) break;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(v);
    if (magnitude > 0xFFFFFFFFFFull) {
      overflow = true;
      magnitude &= 0xFFFFFFFFFFull;
    }
    ++p;
  }
  if (p == digits) {
    if (status != nullptr) *status = -1;
    return text;
  }
  int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  int64_t top = base == 10 ? high : high_other;
  if (overflow || v < low || v > top) overflow = true;
  *value = v;
  if (status != nullptr) *status = overflow ? 1 : 0;
  return p;
}

}  // namespace

void NUMOUT(char* buffer, int16_t value, int16_t base, int16_t width) {
  if (buffer == nullptr || width <= 0) return;
  if (base < 2 || base > 16) {
    for (int i = 0; i < width; ++i) buffer[i] = '?';
    return;
  }
  write_digits(buffer, static_cast<uint16_t>(value), static_cast<unsigned>(base), width, '0');
}

int16_t DNUMOUT(uint32_t mask, char* buffer, int32_t value, int16_t base, int16_t width,
                int16_t flags) {
  using zeb::present;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || buffer == nullptr ||
      base < 2 || base > 16) {
    return 0;
  }
  if (!present(mask, 4) || width < 0) width = 0;
  if (!present(mask, 5)) flags = 0;
  bool negative = (flags & 2) != 0 && value < 0;
  uint32_t magnitude = negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[40];
  int n = 0;
  do {
    digits[n++] = kDigits[magnitude % static_cast<unsigned>(base)];
    magnitude /= static_cast<unsigned>(base);
  } while (magnitude != 0);
  const int sign = negative ? 1 : 0;
  int pos = 0;
  if (width == 0) {
    if (negative) buffer[pos++] = '-';
    for (int i = n - 1; i >= 0; --i) buffer[pos++] = digits[i];
    return static_cast<int16_t>(pos);
  }
  // A fixed width: the low-order digits that fit, blanks or zeros on the
  // left. With zero fill the sign stands in front of the zeros.
  if (n + sign > width) n = width - sign > 0 ? width - sign : 0;
  const int pad = width - sign - n;
  const bool zero_fill = (flags & 1) == 0;
  if (negative && zero_fill) buffer[pos++] = '-';
  for (int i = 0; i < pad; ++i) buffer[pos++] = zero_fill ? '0' : ' ';
  if (negative && !zero_fill) buffer[pos++] = '-';
  for (int i = n - 1; i >= 0; --i) buffer[pos++] = digits[i];
  return static_cast<int16_t>(pos);
}

const char* DNUMIN(const char* text, int32_t* result, int16_t base, int16_t* status) {
  int64_t v = 0;
  const char* next = scan_number(text, INT32_MIN, INT32_MAX, 0xFFFFFFFFll, &v, base, status);
  if (result != nullptr) *result = static_cast<int32_t>(static_cast<uint32_t>(v));
  return next;
}

const char* NUMIN(const char* text, int16_t* result, int16_t base, int16_t* status) {
  int64_t v = 0;
  const char* next = scan_number(text, INT16_MIN, 0xFFFF, 0xFFFF, &v, base, status);
  if (result != nullptr) *result = static_cast<int16_t>(static_cast<uint16_t>(v));
  return next;
}

int32_t INTERPRETTIMESTAMP(int64_t julian_timestamp, int16_t* date_n_time) {
  // Julian timestamps count from noon; civil days start twelve hours later.
  if (julian_timestamp > INT64_MAX - kMicrosPerDay / 2) return -1;
  const int64_t from_midnight = julian_timestamp + kMicrosPerDay / 2;
  if (from_midnight < 0) return -1;
  const int64_t day = from_midnight / kMicrosPerDay;
  if (day < kFirstDay || day > kLastDay) return -1;
  int64_t within = from_midnight % kMicrosPerDay;
  int64_t y = 0, m = 0, d = 0;
  civil_from_days(day - kUnixDay, &y, &m, &d);
  if (date_n_time != nullptr) {
    date_n_time[0] = static_cast<int16_t>(y);
    date_n_time[1] = static_cast<int16_t>(m);
    date_n_time[2] = static_cast<int16_t>(d);
    date_n_time[3] = static_cast<int16_t>(within / 3600000000LL);
    date_n_time[4] = static_cast<int16_t>(within / 60000000LL % 60);
    date_n_time[5] = static_cast<int16_t>(within / 1000000LL % 60);
    date_n_time[6] = static_cast<int16_t>(within / 1000 % 1000);
    date_n_time[7] = static_cast<int16_t>(within % 1000);
  }
  return static_cast<int32_t>(day);
}

int64_t COMPUTETIMESTAMP(const int16_t* t) {
  if (t == nullptr) return -1;
  if (t[0] < 1 || t[0] > 9999 || t[1] < 1 || t[1] > 12 || t[2] < 1 || t[3] < 0 || t[3] > 23 ||
      t[4] < 0 || t[4] > 59 || t[5] < 0 || t[5] > 59 || t[6] < 0 || t[6] > 999 || t[7] < 0 ||
      t[7] > 999) {
    return -1;
  }
  int64_t days = days_from_civil(t[0], t[1], t[2]);
  // Reject a day beyond the end of its month (31 April, 29 February 2023).
  int64_t y = 0, m = 0, d = 0;
  civil_from_days(days, &y, &m, &d);
  if (m != t[1] || d != t[2]) return -1;
  int64_t micros = ((static_cast<int64_t>(t[3]) * 60 + t[4]) * 60 + t[5]) * 1000000 +
                   static_cast<int64_t>(t[6]) * 1000 + t[7];
  return (days + kUnixDay) * kMicrosPerDay - kMicrosPerDay / 2 + micros;
}

int32_t INTERPRETINTERVAL(uint32_t mask, int64_t interval, int16_t* hours, int16_t* minutes,
                          int16_t* seconds, int16_t* milliseconds, int16_t* microseconds) {
  using zeb::present;
  if (!present(mask, 1)) return 0;
  // C++ division truncates toward zero, so every part carries the sign.
  int64_t rest = interval % kMicrosPerDay;
  if (present(mask, 2) && hours != nullptr) *hours = static_cast<int16_t>(rest / 3600000000LL);
  if (present(mask, 3) && minutes != nullptr) {
    *minutes = static_cast<int16_t>(rest / 60000000LL % 60);
  }
  if (present(mask, 4) && seconds != nullptr) {
    *seconds = static_cast<int16_t>(rest / 1000000LL % 60);
  }
  if (present(mask, 5) && milliseconds != nullptr) {
    *milliseconds = static_cast<int16_t>(rest / 1000 % 1000);
  }
  if (present(mask, 6) && microseconds != nullptr) {
    *microseconds = static_cast<int16_t>(rest % 1000);
  }
  return static_cast<int32_t>(interval / kMicrosPerDay);
}
