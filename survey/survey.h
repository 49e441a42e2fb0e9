// VORN: the disk rotation survey.
//
// For every disk volume the survey creates a scratch file, rewrites its
// first 512-byte block sixty times back to back while timing each pass,
// drops the ten fastest and ten slowest passes, averages the other forty and
// reports 60,000,000 / average: the rate at which a program can rewrite one
// and the same sector, in revolutions per minute.
#pragma once

#include <cstdint>

// Program entry: starts the library, prints the banner and help text, walks
// the disk devices, measures each and prints one line per disk, and ends the
// process. Never returns. (The name is in parentheses so that a test
// framework's TEST macro, when included first, leaves it alone.)
[[noreturn]] void(TEST)();

// Writes the 18-line banner and help text, one log line each.
void INTRO();

// Measures one volume: name (length bytes, at most 50) is the volume name.
// Returns 0 and stores the effective RPM through rpm, or returns the error
// and leaves rpm untouched.
int16_t VORN(const char* name, int16_t length, int32_t* rpm);

// The timed loop on an open scratch file: sixty positioned 512-byte writes at
// byte 0, then the trimmed mean. Returns 0 and stores the effective RPM, or
// the file's last error from the pass that failed (rpm untouched).
int16_t VORNIO(int16_t filenum, int32_t* rpm);

// The sort order of the interval table: -1 (true) when the signed 32-bit
// element at a is less than the one at b, 0 otherwise (equal included).
int16_t COMPARE(const void* a, const void* b);

namespace zeb {

constexpr int kSurveyPasses = 60;
constexpr int kSurveyTrim = 10;

// Steps after the last write: sorts the sixty intervals (microseconds) in
// place with the platform's heap sort and COMPARE and turns the mean of the middle forty
// into revolutions per minute. A mean below one microsecond (a volume whose
// writes never reach a device) is reported as 60,000,000.
int32_t survey_rpm(int32_t* intervals);

}  // namespace zeb
