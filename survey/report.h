// The survey's reports beyond the Drive: line: the line of figures of
// --verbose, the volume list of --list, the JSON object of --json and the
// metrics file of --prometheus. Pure text: the caller writes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/volumes/device_info.h"
#include "survey/survey.h"

namespace zeb {

// The version of the JSON objects' layout, their "version" field. A field
// added keeps it; one removed, renamed or changed in meaning raises it.
constexpr int kJsonVersion = 1;

// One volume of the walk: what is known of it and how its measurement went.
struct VolumeReport {
  std::string name;                     // "$VDA"; empty for a --volume argument that named nothing
  std::optional<std::string> argument;  // the --volume argument that gave the volume
  // When the measurement ended (or the argument was refused), Unix seconds.
  int64_t measured_at = 0;
  bool simulated = false;
  platform::DeviceDetails details;
  int16_t error = 0;            // 0: measured
  std::vector<int32_t> passes;  // the sixty pass times in pass order (measured only)
  PassFigures figures;          // measured only
};

// "        pass times (us): min 8333, median 8333, ..."; for a failed volume
// "        error 190 (device error; Input/output error)".
std::string verbose_line(const VolumeReport& r);

// "NAME<tab>MOUNT POINT<tab>DEVICE": "-" for what a volume does not have; a
// simulated disk's device is "sim".
std::string list_line(const VolumeReport& r);

// One JSON object on one line (no line feed); the layout is in vorn(1).
std::string json_line(const VolumeReport& r);

// Unix seconds as UTC in RFC 3339: "2026-03-01T12:00:05Z".
std::string utc_time(int64_t unix_seconds);

// The node_exporter textfile-collector text for the volumes of a run that
// ended at unix_seconds.
std::string prometheus_text(const std::vector<VolumeReport>& reports, int64_t unix_seconds);

}  // namespace zeb
