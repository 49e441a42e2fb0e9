// Device details of a volume, from the mount list and /sys (device_info.h).
#include "platform/volumes/device_info.h"

#include <fcntl.h>
#include <sys/sysmacros.h>

#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "platform/host/syscalls.h"

namespace zeb::platform {
namespace {

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

// Undoes the octal escapes (\040 and the like) of the mount list.
std::string unescape(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '7') {
      out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

// True when mount point m holds path: m is "/", path itself, or a leading
// run of whole components of path.
bool holds(const std::string& m, const std::string& path) {
  if (m == "/") return true;
  return path == m ||
         (path.size() > m.size() && path.compare(0, m.size(), m) == 0 && path[m.size()] == '/');
}

// The trimmed text of a small /sys file, or nothing.
std::optional<std::string> read_attribute(const std::string& path) {
  std::string text;
  if (syscalls().read_system_file(path.c_str(), &text) != 0) return std::nullopt;
  size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(" \t\n");
  return text.substr(first, last - first + 1);
}

struct Mount {
  std::string device;  // "MAJ:MIN"
  std::string mount_point, fs_type, source;
};

// The mount that holds path: the longest mount point over it, the later of
// two equal ones (a later mount hides an earlier one at the same place).
std::optional<Mount> mount_of(const std::string& path) {
  std::string text;
  if (syscalls().read_system_file("/proc/self/mountinfo", &text) != 0) return std::nullopt;
  std::optional<Mount> best;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> f = fields_of(text.substr(start, end - start));
    start = end + 1;
    // id, parent, MAJ:MIN, root, mount point, options, [optional...], "-",
    // type, source, super options.
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 5) continue;
    Mount m{f[2], unescape(f[4]), dash + 1 < f.size() ? f[dash + 1] : "",
            dash + 2 < f.size() ? unescape(f[dash + 2]) : ""};
    if (!holds(m.mount_point, path)) continue;
    if (!best || m.mount_point.size() >= best->mount_point.size()) best = m;
  }
  return best;
}

}  // namespace

Result<DeviceDetails> device_details(const std::string& directory) {
  std::string path;
  if (syscalls().realpath(directory.c_str(), &path) != 0) {
    return Status::from_errno(errno, directory);
  }
  FileStatus status;
  if (syscalls().stat(path.c_str(), &status) != 0) return Status::from_errno(errno, path);
  if (!status.is_directory()) return Status::error(err::kInvalidOperation, path);
  DeviceDetails details;
  std::string number =
      std::to_string(major(status.device)) + ":" + std::to_string(minor(status.device));
  if (std::optional<Mount> m = mount_of(path)) {
    details.mount_point = m->mount_point;
    details.fs_type = m->fs_type;
    details.source = m->source;
    // The list's number is the file system's own (a btrfs subvolume's stat
    // number is not a block device's).
    number = m->device;
  }
  details.number = number;
  const std::string sys = "/sys/dev/block/" + number;
  std::string target;
  if (syscalls().readlink(sys.c_str(), &target) != 0 || target.empty()) return details;
  details.kernel_name = target.substr(target.find_last_of('/') + 1);
  details.device = "/dev/" + details.kernel_name;
  // A partition's model and queue are its disk's, one directory up.
  const std::string disk =
      syscalls().access((sys + "/partition").c_str(), F_OK) == 0 ? sys + "/.." : sys;
  details.model = read_attribute(disk + "/device/model");
  if (std::optional<std::string> r = read_attribute(disk + "/queue/rotational")) {
    if (*r == "0" || *r == "1") details.rotational = *r == "1";
  }
  details.write_cache = read_attribute(disk + "/queue/write_cache");
  return details;
}

Result<DeviceDetails> device_details(const Volume& volume) {
  if (volume.simulated) return DeviceDetails{};
  return device_details(volume.root);
}

}  // namespace zeb::platform
