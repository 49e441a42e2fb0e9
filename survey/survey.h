// VORN: the disk rotation survey.
//
// For every disk volume the survey creates a scratch file, rewrites its
// first 512-byte block sixty times back to back while timing each pass,
// drops the ten fastest and ten slowest passes, averages the other forty and
// reports 60,000,000 / average: the rate at which a program can rewrite one
// and the same sector, in revolutions per minute.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"

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

// The spread of one volume's sixty pass times, in microseconds. The
// percentiles are nearest-rank values of the sorted passes (the median is
// the 30th of 60, p90 the 54th, p99 the 60th): each is a pass that was
// timed, never an interpolation. trimmed_mean is the mean of the middle
// forty, truncated, and rpm the survey's figure made from it.
struct PassFigures {
  int32_t min = 0, median = 0, p90 = 0, p99 = 0, max = 0;
  int32_t trimmed_mean = 0;
  int32_t rpm = 0;
};
PassFigures pass_figures(const int32_t* intervals);

// VORNIO's timed loop alone: sixty passes on an open file, their times
// stored in intervals in pass order. Success, or the status of the pass that
// failed.
platform::Status time_passes(int16_t filenum, int32_t* intervals);

// VORN's work on the volume named name, keeping the sixty pass times:
// success, or the status of the creation, the open or the pass that failed.
platform::Status measure_volume(std::string_view name, int32_t* intervals);

// How the program reports: the options of its command line.
struct SurveyOptions {
  bool quiet = false;                     // no banner
  bool verbose = false;                   // a line of figures under each Drive: line
  bool json = false;                      // one JSON object per volume instead of text
  bool list = false;                      // name the volumes, measure nothing
  std::optional<std::string> prometheus;  // the metrics file to write
  std::vector<std::string> volumes;       // --volume entries; empty: ZEB_VOLUMES or discovery
};

// Exit statuses of the survey besides 0 (every volume measured), 2 (bad
// arguments, the program's own) and 3 (the library could not start or the
// report could not be written).
constexpr int kSomeVolumesFailed = 1;
constexpr int kNothingMeasured = 4;

// The whole survey as the options ask; TEST is run_survey with none. Never
// returns: the process ends with 0, kSomeVolumesFailed, kNothingMeasured or 3.
[[noreturn]] void run_survey(const SurveyOptions& options);

// "error 190 (device error; Input/output error)": the library's number and
// text and, where one exists, the Linux text.
std::string error_words(int16_t error);

// The library's text of an error alone ("device error").
std::string library_error_text(int16_t error);

}  // namespace zeb
