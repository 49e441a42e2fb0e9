// Number and time conversion: integers to digits and back, Julian timestamps
// and intervals broken into their parts. Plain arithmetic, no host calls.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// Writes the unsigned 16-bit value in base (2 to 16, upper-case digits) as
// exactly width characters, zero-filled on the left. When the value has more
// digits than width, only its low-order width digits are written. A width of
// 0 or less writes nothing; an invalid base writes width "?" characters.
ZEB_EXPORT void NUMOUT(char* buffer, int16_t value, int16_t base, int16_t width);

// Writes a 32-bit value in base (2 to 16) and returns the number of
// characters written. Parameters after the mask: 1 buffer, 2 value, 3 base,
// 4 width, 5 flags. Without a width (absent or 0) the digits are written
// without leading zeros. With a width the field is exactly width characters,
// right-justified, zero-filled unless flags has 1 (blank fill); a number with
// more digits than width keeps its low-order digits. Flags 2: the value is
// signed and a negative value is written with a leading "-"; without it the
// value is taken as unsigned. Returns 0 (nothing written) when the buffer,
// value or base is missing or the base is invalid.
ZEB_EXPORT int16_t DNUMOUT(uint32_t mask, char* buffer = nullptr, int32_t value = 0,
                           int16_t base = 10, int16_t width = 0, int16_t flags = 0);

// Converts text to a 32-bit integer. An optional "+" or "-" may lead; a base
// prefix after it overrides base: "%" octal, "%B" binary, "%H" hexadecimal
// (letters in either case). Conversion stops at the first character that is
// not a digit of the base. Returns the address of that character and sets
// status: 0 converted, -1 no digits or an invalid base (result 0), 1 the
// value does not fit 32 bits (result holds the low 32 bits). In base 10 the
// range is -2147483648 to 2147483647; in other bases any 32-bit pattern
// (0 to 4294967295) is accepted.
ZEB_EXPORT const char* DNUMIN(const char* text, int32_t* result, int16_t base, int16_t* status);

// As DNUMIN for a 16-bit result: -32768 to 65535 fit (values above 32767 are
// stored as their 16-bit pattern).
ZEB_EXPORT const char* NUMIN(const char* text, int16_t* result, int16_t base, int16_t* status);

// Breaks a Julian timestamp (microseconds since noon Greenwich time on
// 1 January 4713 BC) into date_n_time[0..7]: year, month, day, hour, minute,
// second, millisecond, microsecond, on the proleptic Gregorian calendar. The
// timestamp is taken as it stands: no time-zone shift is applied. Returns the
// Julian day number of the date, or -1 (date_n_time untouched) when the date
// is outside the years 1 to 9999.
ZEB_EXPORT int32_t INTERPRETTIMESTAMP(int64_t julian_timestamp, int16_t* date_n_time);

// Composes a Julian timestamp from date_n_time[0..7] as INTERPRETTIMESTAMP
// gives them. Returns -1 when a part is out of range or the year is outside
// 1 to 9999.
ZEB_EXPORT int64_t COMPUTETIMESTAMP(const int16_t* date_n_time);

// Breaks an interval of microseconds into whole days (the result) and the
// hours, minutes, seconds, milliseconds and microseconds left over.
// Parameters after the mask: 1 the interval (required), 2-6 receive the
// parts. A negative interval gives negative parts (each part is truncated
// toward zero). Returns 0 when the interval is missing.
ZEB_EXPORT int32_t INTERPRETINTERVAL(uint32_t mask, int64_t interval = 0, int16_t* hours = nullptr,
                                     int16_t* minutes = nullptr, int16_t* seconds = nullptr,
                                     int16_t* milliseconds = nullptr,
                                     int16_t* microseconds = nullptr);
