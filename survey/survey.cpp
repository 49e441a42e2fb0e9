// The survey driver and the rotation measurement.
#include "survey/survey.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include <zeb/runtime/runtime.h>
#include "env/startup.h"
#include "format/format_core.h"
#include "platform/files/files.h"
#include "platform/files/host_file.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/name_rules.h"
#include "platform/processes/self.h"
#include "platform/volumes/device_info.h"
#include "platform/volumes/volumes.h"
#include "runtime/runtime_core.h"
#include "survey/report.h"

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
    "VORN reports the effective RPM of each disk on the host",
    "system.  Effective RPM is the rate at which a program can",
    "repeatedly write to the same physical sector on a disk drive.",
    "",
    "mEffective RPM may be 1/2 actual RPM on some drives such as",
    "older models.  It may be reported lower than actual on",
    "a busy drive.  In some cases it has been shown reduced on",
    "mirrored drives, such as some mirrored pairs, where it shows as 1/3",
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
// naming what it could not use when the start-up's status says, and ends
// the process.
[[noreturn]] void startup_failed(const zeb::platform::Status& status) {
  std::string line = "vorn: library start-up failed: ";
  if (!status.what().empty()) line += status.what() + ": ";
  zeb::platform::write_error_line(line + zeb::error_words(status.code()));
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

namespace zeb {

platform::Status time_passes(int16_t filenum, int32_t* intervals) {
  int64_t previous = PROCESSOR_CLOCK();
  for (int pass = 0; pass < kSurveyPasses; ++pass) {
    if (platform::Status s = platform::position_file(filenum, 0); !s.ok()) return s;
    if (platform::Status s = platform::write_file(filenum, kBlockOfX); !s.ok()) return s;
    int64_t now = PROCESSOR_CLOCK();
    int64_t interval = now - previous;
    // A pass longer than the 32-bit range (about 35 minutes) counts as the
    // longest interval that fits.
    intervals[pass] = interval > INT32_MAX ? INT32_MAX : static_cast<int32_t>(interval);
    previous = now;
  }
  return platform::Status();
}

platform::Status measure_volume(std::string_view name, int32_t* intervals) {
  // Negative lengths cannot arise from a view; over-long names are refused.
  if (name.size() > static_cast<size_t>(kNameMax))
    return platform::Status::error(err::kOutOfBounds);
  platform::FileAttributes attributes;
  attributes.blocklen = kBlock;
  platform::Result<platform::FileName> created = platform::create_file(name, 0, attributes);
  if (!created.ok()) return created.status();
  platform::Result<int16_t> opened = platform::open_file(created->external());
  if (!opened.ok()) return opened.status();
  platform::Status error = time_passes(*opened, intervals);
  // The file was opened here and is known to be open: closing it cannot
  // fail in a way the measurement could report.
  platform::close_file(*opened).ignore();
  return error;
}

PassFigures pass_figures(const int32_t* intervals) {
  int32_t sorted[kSurveyPasses];
  std::copy(intervals, intervals + kSurveyPasses, sorted);
  PassFigures f;
  f.rpm = survey_rpm(sorted);  // sorts
  int64_t total = 0;
  for (int i = kSurveyTrim; i < kSurveyPasses - kSurveyTrim; ++i) total += sorted[i];
  f.trimmed_mean = static_cast<int32_t>(total / (kSurveyPasses - 2 * kSurveyTrim));
  // Nearest rank: the ceil(p * 60)-th pass, counted from 1.
  auto rank = [&](int percent) { return sorted[(percent * kSurveyPasses + 99) / 100 - 1]; };
  f.min = sorted[0];
  f.median = rank(50);
  f.p90 = rank(90);
  f.p99 = rank(99);
  f.max = sorted[kSurveyPasses - 1];
  return f;
}

std::string library_error_text(int16_t error) {
  char text[160];
  const size_t length = format::format_into(text, "\\e\\", {&error});
  // "190 (device error)": the text is what the parentheses hold.
  std::string_view all(text, length);
  const size_t open = all.find(" (");
  if (open == std::string_view::npos || all.back() != ')') return std::string();
  return std::string(all.substr(open + 2, all.size() - open - 3));
}

std::string error_words(int16_t error) {
  std::string words = "error " + std::to_string(error);
  std::string text = library_error_text(error);
  const char* linux_text = platform::host_error_text(error);
  if (!text.empty() && linux_text != nullptr) return words + " (" + text + "; " + linux_text + ")";
  if (!text.empty()) return words + " (" + text + ")";
  if (linux_text != nullptr) return words + " (" + linux_text + ")";
  return words;
}

}  // namespace zeb

int16_t VORNIO(int16_t filenum, int32_t* rpm) {
  int32_t intervals[zeb::kSurveyPasses];
  if (zeb::platform::Status timed = zeb::time_passes(filenum, intervals); !timed.ok()) {
    return timed.code();
  }
  *rpm = zeb::survey_rpm(intervals);
  return 0;
}

int16_t VORN(const char* name, int16_t length, int32_t* rpm) {
  // Negative lengths are refused like over-long ones.
  if (length > kNameMax || length < 0) return zeb::err::kOutOfBounds;
  int32_t intervals[zeb::kSurveyPasses];
  zeb::platform::Status measured =
      zeb::measure_volume(std::string_view(name, static_cast<size_t>(length)), intervals);
  if (measured.ok()) *rpm = zeb::survey_rpm(intervals);
  return measured.code();
}

void INTRO() {
  // A line that cannot be written is kept as the library's lost write: the
  // survey goes on, and shut-down reports it and ends the run abnormally.
  for (const char* line : kBanner) zeb::runtime::log(line).ignore();
}

void(TEST)() { zeb::run_survey(zeb::SurveyOptions{}); }

namespace zeb {
namespace {

// The first line of the report that could not be written ends the run with
// status 3. A reader that went away (vorn | head) ends it quietly, as it
// ends the other tools of a pipeline; any other failure says so.
[[noreturn]] void report_lost(int16_t error) {
  if (error != err::kPathDown) {
    platform::write_error_line("vorn: write error on standard output: " + error_words(error));
  }
  platform::end_process(kAbendStatus);
}

// A line through the library's log path, as the survey has always written
// its banner and Drive: lines; the first lost write ends the run.
void log_line(const char* format, std::initializer_list<const void*> args = {}) {
  // The error is kept as the library's lost write, looked at just below.
  runtime::log(format, args).ignore();
  if (lost_write().error != 0) report_lost(lost_write().error);
}

// Lines longer than the log path's 160 bytes (JSON, volume lists) go to the
// home terminal directly, one write each.
class Output {
 public:
  void line(const std::string& text) {
    if (fnum_ < 0) {
      platform::Result<int16_t> opened = platform::open_file("$ZHOME");
      if (!opened.ok()) report_lost(opened.code());
      fnum_ = *opened;
    }
    if (platform::Status s = platform::write_file(fnum_, std::string_view(text)); !s.ok()) {
      report_lost(s.code());
    }
  }

 private:
  int16_t fnum_ = -1;
};

// What --volume entries came to: the arguments that named nothing (each
// already reported on standard error), and the argument behind each volume.
struct VolumeEntries {
  std::vector<VolumeReport> refused;               // argument and error set
  std::map<std::string, std::string> argument_of;  // volume name -> its --volume argument
};

// Turns --volume entries into a volume table that replaces ZEB_VOLUMES and
// discovery. "$NAME=..." is an entry as ZEB_VOLUMES writes it; anything else
// is a directory, named after the block device that holds it (or its file
// system's type when no block device does). A file system is measured once:
// a directory on one that an earlier entry already holds is folded into
// that entry, and standard error says so. An entry that names nothing is
// reported on standard error with its reason.
VolumeEntries install_volume_entries(const std::vector<std::string>& entries, int64_t unix_time) {
  VolumeEntries result;
  auto refuse = [&](const std::string& e, int16_t error, const std::string& why) {
    platform::write_error_line("vorn: --volume \"" + e + "\": " + why + "; ignored");
    VolumeReport r;
    r.argument = e;
    r.error = error;
    r.measured_at = unix_time;
    result.refused.push_back(std::move(r));
  };
  std::set<std::string> taken;
  for (const std::string& e : entries) {
    if (!e.empty() && e[0] == '$' && e.find('=') != std::string::npos) {
      taken.insert(platform::upper(e.substr(0, e.find('='))));
    }
  }
  std::map<std::string, std::string> holder;  // file system ("MAJ:MIN") -> its volume
  std::string table;
  for (const std::string& e : entries) {
    const bool named = !e.empty() && e[0] == '$' && e.find('=') != std::string::npos;
    std::string name = named ? platform::upper(e.substr(0, e.find('='))) : std::string();
    const std::string dir = named ? e.substr(e.find('=') + 1) : e;
    if (named && dir.rfind("sim:", 0) == 0) {
      table += e + ";";
      result.argument_of.emplace(name, e);
      continue;
    }
    // ';' separates the table's entries: a directory that holds one cannot
    // be written into it.
    if (!named && e.find(';') != std::string::npos) {
      refuse(e, err::kBadName, "a directory name with ';' cannot be measured");
      continue;
    }
    platform::Result<platform::DeviceDetails> details = platform::device_details(dir);
    if (!details.ok()) {
      refuse(e, details.code(), error_words(details.code()));
      continue;
    }
    if (auto held = holder.find(details->number); held != holder.end()) {
      // Measuring one disk twice tells nothing new; the entry is not an
      // error either, so the exit status is unchanged.
      platform::write_error_line("vorn: --volume \"" + e + "\": on the file system of \"" +
                                 result.argument_of[held->second] + "\", measured once as " +
                                 held->second);
      continue;
    }
    if (!named) {
      std::string base = !details->kernel_name.empty() ? details->kernel_name
                         : !details->fs_type.empty()   ? details->fs_type
                                                       : std::string("vol");
      name = platform::volume_name_for_device(base, taken);
      taken.insert(name);
    }
    holder.emplace(details->number, name);
    result.argument_of.emplace(name, e);
    table += named ? e + ";" : name + "=" + e + ";";
  }
  // Before anything has built the table: the host builds it from this.
  platform::host().mutable_config().volumes = table;
  return result;
}

// Unix seconds of the wall clock (the processor clock's Greenwich
// reading; Julian day 2440587.5 is 1970-01-01).
int64_t unix_seconds() {
  constexpr int64_t kUnixEpochJulianUs = 210866760000000000LL;
  return (JULIANTIMESTAMP(0) - kUnixEpochJulianUs) / 1000000;
}

// A disk's report before it is measured: its name, the --volume argument
// that named it, and, where an output shows them, what the host tells of it.
VolumeReport describe(const std::string& name, const VolumeEntries& given,
                      const SurveyOptions& options) {
  VolumeReport r;
  r.name = name;
  if (auto a = given.argument_of.find(r.name); a != given.argument_of.end()) r.argument = a->second;
  const platform::Volume* volume = platform::find_volume(r.name);
  r.simulated = volume != nullptr && volume->simulated;
  if (volume != nullptr && (options.json || options.list || options.prometheus)) {
    // What the host cannot tell of a device stays unknown in the report.
    platform::Result<platform::DeviceDetails> details = platform::device_details(*volume);
    if (details.ok()) r.details = *details;
  }
  return r;
}

// A measured disk's line in the text report (and with verbose its passes).
void text_lines(VolumeReport& r, bool verbose) {
  char devname[10];
  const size_t shown = std::min(r.name.size(), sizeof devname);
  std::memcpy(devname, r.name.data(), shown);
  int16_t devname_length = static_cast<int16_t>(shown);
  if (r.error == 0) {
    log_line("Drive: \\a8.%\\ Effective RPM: \\d\\", {devname, &devname_length, &r.figures.rpm});
  } else {
    // A drive whose measurement failed still gets its line, with the
    // error number and its text.
    log_line("Drive: \\a8.%\\ Error: \\e\\", {devname, &devname_length, &r.error});
  }
  if (verbose) log_line(verbose_line(r).c_str());
}

}  // namespace

// Says on standard error that the metrics file cannot be written and ends
// the run with status 3.
[[noreturn]] void metrics_lost(const std::string& path, const platform::Status& status) {
  platform::write_error_line("vorn: cannot write " + path + ": " + error_words(status.code()) +
                             (status.what().empty() ? "" : " (" + status.what() + ")"));
  platform::end_process(kAbendStatus);
}

void run_survey(const SurveyOptions& options) {
  // A metrics file that cannot be written is found before an hour of
  // measuring, not after it.
  if (options.prometheus) {
    if (platform::Status s = platform::probe_host_file(*options.prometheus); !s.ok()) {
      metrics_lost(*options.prometheus, s);
    }
  }
  int failed = 0;
  VolumeEntries given;
  if (!options.volumes.empty()) {
    given = install_volume_entries(options.volumes, unix_seconds());
    failed += static_cast<int>(given.refused.size());
  }
  failed += platform::host().state<platform::VolumeTable>().refused();
  platform::Status started = runtime::start(4000, 0x29);
  if (!started.ok()) startup_failed(started);
  const bool text = !options.json && !options.list;
  if (text && !options.quiet) {
    INTRO();
    if (lost_write().error != 0) report_lost(lost_write().error);
  }
  Output out;
  // Entries that named nothing come first, in the JSON report as objects of
  // their own: no volume, the argument and the error.
  if (options.json) {
    for (const VolumeReport& r : given.refused) out.line(json_line(r));
  }
  std::vector<VolumeReport> reports;
  int measured = 0;
  int32_t ldev = 0;
  for (;;) {
    // The next disk after ldev; none left ends the survey.
    platform::DeviceQuery query;
    query.ldev = ldev;
    query.next = true;
    query.type = kDeviceTypeDisk;
    platform::Result<platform::DeviceInfo> device = platform::find_device(query);
    if (!device.ok()) break;
    ldev = device->ldev;
    if (device->subtype == kSubtypeNoSurvey) continue;
    VolumeReport r = describe(device->name, given, options);
    if (options.list) {
      out.line(list_line(r));
      ++measured;
      continue;
    }
    int32_t intervals[kSurveyPasses];
    // The report keeps the error number of a volume that was not measured.
    r.error = measure_volume(r.name, intervals).code();
    r.measured_at = unix_seconds();
    if (r.error == 0) {
      r.passes.assign(intervals, intervals + kSurveyPasses);
      r.figures = pass_figures(intervals);
      ++measured;
    } else {
      ++failed;
    }
    if (text) text_lines(r, options.verbose);
    if (options.json) out.line(json_line(r));
    reports.push_back(std::move(r));
  }
  if (options.prometheus) {
    platform::Status written =
        platform::replace_host_file(*options.prometheus, prometheus_text(reports, unix_seconds()));
    if (!written.ok()) metrics_lost(*options.prometheus, written);
  }
  // Scripts read the status as fio's and ioping's: a run that measured
  // nothing failed, and so did one where a volume could not be measured.
  if (measured == 0) platform::end_process(kNothingMeasured);
  if (failed != 0) platform::end_process(kSomeVolumesFailed);
  runtime::shut_down(0);
}

}  // namespace zeb
