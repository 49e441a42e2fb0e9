// The survey driver and the rotation measurement.
#include "survey/survey.h"

#include <array>
#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/platform.h>
#include <zeb/runtime/runtime.h>
#include "format/format_core.h"
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "platform/processes/self.h"
#include "platform/volumes/volumes.h"
#include "runtime/runtime_core.h"

namespace {

constexpr int16_t kNameMax = 50;
constexpr int16_t kBlock = 512;

// The block rewritten by every pass: 512 bytes of "X", never modified.
constexpr std::array<char, kBlock> kBlockOfX = [] {
  std::array<char, kBlock> block{};
  for (char& c : block) c = 'X';
  return block;
}();

constexpr const char* kBanner[] = {
    "VORN disk rotation survey.  Copyright (c) 2026 the zeb project developers.",
    "",
    "VORN reports the effective RPM of each disk on the HP NonStop",
    "system.  Effective RPM is the rate at which a program can",
    "repeatedly write to the same physical sector on a disk drive.",
    "",
    "mEffective RPM may be 1/2 actual RPM on some drives such as",
    "4250's on K series.  It may be reported lower than actual on",
    "a busy drive.  In some cases it has been shown reduced on",
    "mirrored drives, such as mirrored 4250's where it shows as 1/3",
    "the physical RPM of the drive.",
    "",
    "This information should be useful in tuning an application by",
    "moving high activity files to faster access drives.",
    "",
    "Part of the zeb runtime library's sample utilities, ported to Linux.",
    "Source, documentation and issues: see the zeb project's README.",
    "",
};
static_assert(sizeof kBanner / sizeof kBanner[0] == 18);

// Tells the operator on standard error that the library could not start,
// naming what it could not use when the platform knows, and ends the process.
[[noreturn]] void startup_failed(int16_t error) {
  char text[160];
  const size_t length = zeb::format::format_into(text, "error \\e\\", {&error});
  std::string line = "vorn: library start-up failed: ";
  const std::string& what = zeb::platform::failure_note();
  if (!what.empty()) line += what + ": ";
  line.append(text, length);
  zeb::platform::write_error_line(line);
  ABEND();
}

}  // namespace

int16_t COMPARE(const void* a, const void* b) {
  return *static_cast<const int32_t*>(a) < *static_cast<const int32_t*>(b) ? zeb::kTrue
                                                                           : zeb::kFalse;
}

namespace zeb {

int32_t survey_rpm(int32_t* intervals) {
  // The sort refuses only a missing array or procedure, or a bad element
  // size, none of which can happen here.
  platform::heap_sort(intervals, kSurveyPasses, sizeof *intervals, COMPARE).ignore();
  // Summed in 64 bits: forty intervals near the 32-bit limit do not overflow.
  int64_t total = 0;
  for (int i = kSurveyTrim; i < kSurveyPasses - kSurveyTrim; ++i) total += intervals[i];
  int64_t average = total / (kSurveyPasses - 2 * kSurveyTrim);
  if (average < 1) return 60000000;
  return static_cast<int32_t>(60000000 / average);
}

}  // namespace zeb

int16_t VORNIO(int16_t filenum, int32_t* rpm) {
  int32_t intervals[zeb::kSurveyPasses];
  int64_t previous = PROCESSOR_CLOCK();
  for (int pass = 0; pass < zeb::kSurveyPasses; ++pass) {
    if (zeb::platform::Status s = zeb::platform::position_file(filenum, 0); !s.ok()) {
      return s.code();
    }
    if (zeb::platform::Status s = zeb::platform::write_file(filenum, kBlockOfX); !s.ok()) {
      return s.code();
    }
    int64_t now = PROCESSOR_CLOCK();
    int64_t interval = now - previous;
    // A pass longer than the 32-bit range (about 35 minutes) counts as the
    // longest interval that fits.
    intervals[pass] = interval > INT32_MAX ? INT32_MAX : static_cast<int32_t>(interval);
    previous = now;
  }
  *rpm = zeb::survey_rpm(intervals);
  return 0;
}

int16_t VORN(const char* name, int16_t length, int32_t* rpm) {
  // Negative lengths are refused like over-long ones.
  if (length > kNameMax || length < 0) return zeb::err::kOutOfBounds;
  zeb::platform::FileAttributes attributes;
  attributes.blocklen = kBlock;
  zeb::platform::Result<zeb::platform::FileName> created = zeb::platform::create_file(
      std::string_view(name, static_cast<size_t>(length)), 0, attributes);
  if (!created.ok()) return created.code();
  zeb::platform::Result<int16_t> opened = zeb::platform::open_file(created->external());
  if (!opened.ok()) return opened.code();
  int16_t error = VORNIO(*opened, rpm);
  // The file was opened here and is known to be open: closing it cannot
  // fail in a way the measurement could report.
  zeb::platform::close_file(*opened).ignore();
  return error;
}

void INTRO() {
  // A line that cannot be written is kept as the library's lost write: the
  // survey goes on, and shut-down reports it and ends the run abnormally.
  for (const char* line : kBanner) zeb::runtime::log(line).ignore();
}

void(TEST)() {
  zeb::platform::Status started = zeb::runtime::start(4000, 0x29);
  if (!started.ok()) startup_failed(started.code());
  int16_t error = 0;
  INTRO();
  int32_t ldev = 0;
  for (;;) {
    // The next disk after ldev; none left ends the survey.
    zeb::platform::DeviceQuery query;
    query.ldev = ldev;
    query.next = true;
    query.type = zeb::kDeviceTypeDisk;
    zeb::platform::Result<zeb::platform::DeviceInfo> device = zeb::platform::find_device(query);
    if (!device.ok()) break;
    char devname[10];
    std::memcpy(devname, device->name.data(), device->name.size());
    int16_t devname_length = static_cast<int16_t>(device->name.size());
    if (device->subtype != zeb::kSubtypeNoSurvey) {
      int32_t rpm = 0;
      error = VORN(devname, devname_length, &rpm);
      // A report line that cannot be written is kept as the lost write, as
      // in INTRO.
      if (error == 0) {
        zeb::runtime::log("Drive: \\a8.%\\ Effective RPM: \\d\\", {devname, &devname_length, &rpm})
            .ignore();
      } else {
        // A drive whose measurement failed still gets its line, with the
        // error number and its text.
        zeb::runtime::log("Drive: \\a8.%\\ Error: \\e\\", {devname, &devname_length, &error})
            .ignore();
      }
    }
    ldev = device->ldev;
  }
  zeb::runtime::shut_down(0);
}
