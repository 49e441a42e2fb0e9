// The survey's reports beyond the Drive: line (report.h).
#include "survey/report.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <utility>

#include "platform/host/syscalls.h"

namespace zeb {
namespace {

// Microseconds as exact decimal seconds: 8333 is "0.008333".
std::string seconds(int64_t us) {
  std::string fraction = std::to_string(us % 1000000);
  return std::to_string(us / 1000000) + "." + std::string(6 - fraction.size(), '0') + fraction;
}

// A label value in the exposition format: backslash, double quote and line
// feed escaped.
std::string label_value(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string labels(const VolumeReport& r) {
  return "volume=\"" + label_value(r.name) + "\",device=\"" + label_value(r.details.device) +
         "\",mountpoint=\"" + label_value(r.details.mount_point) + "\"";
}

}  // namespace

std::string verbose_line(const VolumeReport& r) {
  if (r.error != 0) return "        " + error_words(r.error);
  const PassFigures& f = r.figures;
  return "        pass times (us): min " + std::to_string(f.min) + ", median " +
         std::to_string(f.median) + ", p90 " + std::to_string(f.p90) + ", p99 " +
         std::to_string(f.p99) + ", max " + std::to_string(f.max) + "; trimmed mean " +
         std::to_string(f.trimmed_mean);
}

std::string list_line(const VolumeReport& r) {
  auto or_dash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
  return r.name + "\t" + or_dash(r.details.mount_point) + "\t" +
         (r.simulated ? std::string("sim") : or_dash(r.details.device));
}

std::string utc_time(int64_t unix_seconds) {
  // Days since 1970-01-01 to the proleptic Gregorian calendar, in eras of
  // 400 years (146097 days) counted from 0000-03-01.
  int64_t days = unix_seconds / 86400, rest = unix_seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

std::string json_line(const VolumeReport& r) {
  using nlohmann::ordered_json;
  auto text_or_null = [](const std::string& s) {
    return s.empty() ? ordered_json() : ordered_json(s);
  };
  ordered_json j;
  j["version"] = kJsonVersion;
  j["volume"] = text_or_null(r.name);
  j["argument"] = r.argument ? ordered_json(*r.argument) : ordered_json();
  j["measured_at"] = utc_time(r.measured_at);
  j["simulated"] = r.simulated;
  j["mount_point"] = text_or_null(r.details.mount_point);
  j["device"] = text_or_null(r.details.device);
  j["fs_type"] = text_or_null(r.details.fs_type);
  j["model"] = r.details.model ? ordered_json(*r.details.model) : ordered_json();
  j["rotational"] = r.details.rotational ? ordered_json(*r.details.rotational) : ordered_json();
  j["write_cache"] = r.details.write_cache ? ordered_json(*r.details.write_cache) : ordered_json();
  j["ok"] = r.error == 0;
  if (r.error == 0) {
    j["pass_us"] = r.passes;
    j["min_us"] = r.figures.min;
    j["median_us"] = r.figures.median;
    j["p90_us"] = r.figures.p90;
    j["p99_us"] = r.figures.p99;
    j["max_us"] = r.figures.max;
    j["trimmed_mean_us"] = r.figures.trimmed_mean;
    j["rpm"] = r.figures.rpm;
  } else {
    const char* linux_text = platform::host_error_text(r.error);
    j["error"] = {{"number", r.error},
                  {"text", library_error_text(r.error)},
                  {"linux", linux_text != nullptr ? ordered_json(linux_text) : ordered_json()}};
  }
  // Host names (mount points, models) need not be UTF-8: a byte that is not
  // becomes U+FFFD rather than failing the report.
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string prometheus_text(const std::vector<VolumeReport>& reports, int64_t unix_seconds) {
  std::string out;
  // The HELP and TYPE lines that open a metric family.
  const auto family = [&out](const std::string& name, const char* type, const char* help) {
    out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  family("vorn_rewrite_seconds", "summary",
         "Time of one durable rewrite of a 512-byte block, over the sixty passes of the last "
         "run.");
  for (const VolumeReport& r : reports) {
    if (r.error != 0) continue;
    const std::string l = labels(r);
    const std::pair<const char*, int32_t> quantiles[] = {{"0", r.figures.min},
                                                         {"0.5", r.figures.median},
                                                         {"0.9", r.figures.p90},
                                                         {"0.99", r.figures.p99},
                                                         {"1", r.figures.max}};
    for (const auto& [q, us] : quantiles) {
      out += "vorn_rewrite_seconds{" + l + ",quantile=\"" + q + "\"} " + seconds(us) + "\n";
    }
    int64_t sum = 0;
    for (int32_t us : r.passes) sum += us;
    out += "vorn_rewrite_seconds_sum{" + l + "} " + seconds(sum) + "\n";
    out += "vorn_rewrite_seconds_count{" + l + "} " + std::to_string(r.passes.size()) + "\n";
  }
  family("vorn_effective_rpm", "gauge",
         "Rewrites of one block per minute, from the trimmed mean pass time of the last run.");
  for (const VolumeReport& r : reports) {
    if (r.error != 0) continue;
    out += "vorn_effective_rpm{" + labels(r) + "} " + std::to_string(r.figures.rpm) + "\n";
  }
  family("vorn_volume_error", "gauge",
         "The error number of the volume's last measurement, 0 when it was measured.");
  for (const VolumeReport& r : reports) {
    out += "vorn_volume_error{" + labels(r) + "} " + std::to_string(r.error) + "\n";
  }
  family("vorn_last_run_timestamp_seconds", "gauge",
         "When the last run of vorn ended, in seconds since 1970.");
  out += "vorn_last_run_timestamp_seconds " + std::to_string(unix_seconds) + "\n";
  return out;
}

}  // namespace zeb
