// The volume table: the disk volumes of this host, in logical-device order.
//
// Without configuration every mounted file system whose source is a block
// device is a volume, once per device, named from the device's kernel name.
// ZEB_VOLUMES replaces discovery with an explicit table (see README.md).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/volumes/volumes.h"

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/name_rules.h"
#include "platform/volumes/simdisk.h"

namespace zeb::platform {
namespace {

bool valid_volume_name(const std::string& name) { return is_dollar_name(name, 8); }

bool is_directory(const std::string& path) {
  FileStatus status;
  return syscalls().stat(path.c_str(), &status) == 0 && status.is_directory();
}

void warn(const std::string& text) { write_error_line(program_name() + ": ZEB_VOLUMES: " + text); }

// Whether the host was told that its ZEB_SWAPVOL names no volume.
struct SwapVolumeWarning {
  bool told = false;
};

// Parses "N" as a positive decimal number that fits 31 bits.
bool parse_number(const std::string& text, int32_t* value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (!is_digit(c)) return false;
  }
  *value = static_cast<int32_t>(std::stol(text));
  return true;
}

// The pieces of text between separators, as std::getline gives them: a
// separator at the very end adds no empty piece, and empty text has none.
// Plain splitting keeps the iostreams, and the locale set-up they cost every
// start, out of programs that never use them.
std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// "sim:rpm=N[,subtype=N][,fail=K][,busy=K][,ldev=N][,clock=virtual|real]"
bool parse_simulated(const std::string& options, Volume* volume) {
  for (const std::string& item : split(options, ',')) {
    size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    std::string key = item.substr(0, eq);
    if (key == "clock") {
      std::string value = item.substr(eq + 1);
      if (value != "virtual" && value != "real") return false;
      volume->virtual_clock = value == "virtual";
      continue;
    }
    int32_t value = 0;
    if (!parse_number(item.substr(eq + 1), &value)) return false;
    if (key == "rpm") {
      volume->rpm = value;
    } else if (key == "subtype") {
      if (value > 63) return false;
      volume->subtype = static_cast<int16_t>(value);
    } else if (key == "fail") {
      volume->fail_at = value;
    } else if (key == "busy") {
      if (value < 1) return false;
      volume->busy_every = value;
    } else if (key == "ldev") {
      if (value < 1) return false;
      volume->ldev = value;
    } else {
      return false;
    }
  }
  return volume->rpm > 0;
}

// Parses a table; refused counts the entries reported and left out.
std::vector<Volume> parse_table(const std::string& table, int* refused) {
  std::vector<Volume> volumes;
  std::set<std::string> names;
  for (const std::string& entry : split(table, ';')) {
    if (entry.empty()) continue;
    size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      warn("entry \"" + entry + "\" has no '='; ignored");
      ++*refused;
      continue;
    }
    Volume volume;
    volume.name = upper(entry.substr(0, eq));
    std::string target = entry.substr(eq + 1);
    if (!valid_volume_name(volume.name)) {
      warn("\"" + volume.name +
           "\" is not a volume name ($ and a letter, then up to six letters or digits); ignored");
      ++*refused;
      continue;
    }
    if (!names.insert(volume.name).second) {
      warn("volume " + volume.name + " is named twice; the second is ignored");
      ++*refused;
      continue;
    }
    if (target.rfind("sim:", 0) == 0) {
      volume.simulated = true;
      if (!parse_simulated(target.substr(4), &volume)) {
        warn("bad simulated disk \"" + target + "\" for " + volume.name +
             " (sim:rpm=N[,subtype=N][,fail=K][,busy=K][,ldev=N][,clock=virtual|real]); ignored");
        ++*refused;
        continue;
      }
    } else {
      if (!is_directory(target)) {
        warn(volume.name + ": \"" + target + "\" is not an existing directory; ignored");
        ++*refused;
        continue;
      }
      volume.root = target;
    }
    volumes.push_back(volume);
  }
  return volumes;
}

// Undoes the octal escapes (\040 and the like) of /proc/self/mountinfo.
std::string unescape_mount_field(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && is_digit(field[i + 1])) {
      out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::vector<Volume> discover() {
  std::string text;
  if (syscalls().read_system_file("/proc/self/mountinfo", &text) != 0) text.clear();
  struct Mount {
    std::string device;  // "major:minor"
    std::string root;
    std::string mount_point;
    bool read_only;
    bool unwritable;  // a file system that cannot be written at all
  };
  std::vector<Mount> mounts;
  for (const std::string& line : split(text, '\n')) {
    // id, parent, major:minor, root, mount point, mount options,
    // [optional fields...], "-", type, source, super options.
    std::vector<std::string> fields;
    for (const std::string& field : split(line, ' ')) {
      if (!field.empty()) fields.push_back(field);
    }
    if (fields.size() < 6) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    const std::string type = dash + 1 < fields.size() ? fields[dash + 1] : "";
    const std::string& device = fields[2];
    const std::string& root = fields[3];
    const std::string& mount_point = fields[4];
    const std::string& options = fields[5];
    // Only block devices appear below /sys/dev/block.
    if (syscalls().access(("/sys/dev/block/" + device).c_str(), F_OK) != 0) continue;
    bool read_only = options == "ro" || options.rfind("ro,", 0) == 0;
    // Images that no mount can write (a snap's squashfs, a CD's iso9660)
    // hold no disk to measure: they are volumes the survey skips, as it
    // skips subtype 36, rather than failures in every run.
    bool unwritable = type == "squashfs" || type == "iso9660" || type == "erofs" ||
                      type == "cramfs" || type == "romfs";
    mounts.push_back({device, unescape_mount_field(root), unescape_mount_field(mount_point),
                      read_only, unwritable});
  }
  std::vector<Volume> volumes;
  std::set<std::string> seen_devices;
  std::vector<std::string> kernel_names;
  for (size_t i = 0; i < mounts.size(); ++i) {
    if (seen_devices.count(mounts[i].device) != 0) continue;
    // Prefer a mount of the file system's own root over a bind mount of a
    // directory inside it, and a writable mount over a read-only one.
    const Mount* best = &mounts[i];
    for (size_t j = i; j < mounts.size(); ++j) {
      const Mount& m = mounts[j];
      if (m.device != mounts[i].device) continue;
      auto rank = [](const Mount& x) { return (x.root == "/" ? 2 : 0) + (x.read_only ? 0 : 1); };
      if (rank(m) > rank(*best)) best = &m;
    }
    seen_devices.insert(mounts[i].device);
    std::string target;
    std::string kernel_name = best->device;
    if (syscalls().readlink(("/sys/dev/block/" + best->device).c_str(), &target) == 0 &&
        !target.empty()) {
      kernel_name = target.substr(target.find_last_of('/') + 1);
    }
    Volume volume;
    volume.root = best->mount_point;
    // A file system mounted read-only everywhere (ProtectHome=read-only,
    // say) is still a disk of the host: its measurement fails with 101 and
    // says so in every report, never leaving the volume silently out.
    volume.subtype = best->unwritable ? kSubtypeNoSurvey : 0;
    volumes.push_back(volume);
    kernel_names.push_back(kernel_name);
  }
  std::set<std::string> taken;
  for (size_t i = 0; i < volumes.size(); ++i) {
    volumes[i].name = volume_name_for_device(kernel_names[i], taken);
    taken.insert(volumes[i].name);
  }
  return volumes;
}

// Logical device numbers follow the table's order: a volume keeps a number
// it was given (a simulated disk's ldev=N) when that is above the previous
// volume's, and otherwise gets the previous number plus one.
void number_devices(std::vector<Volume>* volumes) {
  int32_t previous = 0;
  for (Volume& v : *volumes) {
    if (v.ldev <= previous) v.ldev = previous + 1;
    previous = v.ldev;
  }
}

}  // namespace

std::string temp_directory() {
  const std::optional<std::string>& tmp = host().config().tmpdir;
  std::string dir = (tmp && !tmp->empty()) ? *tmp : "/tmp";
  std::string resolved;
  if (syscalls().realpath(dir.c_str(), &resolved) == 0) dir = resolved;
  return dir;
}

bool volume_holds(const Volume& v, const std::string& path) {
  if (v.simulated || v.root.empty()) return false;
  std::string root = v.root == "/" ? "/" : v.root + "/";
  return path == v.root || path.rfind(root, 0) == 0;
}

// Kernel device names become volume names: upper case, letters and digits
// only, "D" in front when the name does not begin with a letter. A name of
// more than seven characters keeps its first three and last four ("nvme0n1p2"
// is $NVMN1P2). A name already taken ends in a counter instead ($SDA1, then
// $SDA2 for a second "sda1"-like clash: the last characters give way to the
// smallest number that makes it unique).
std::string volume_name_for_device(const std::string& kernel_name,
                                   const std::set<std::string>& taken) {
  std::string base = name_from_host(kernel_name, 'D');
  if (base.size() > 7) base = base.substr(0, 3) + base.substr(base.size() - 4);
  std::string name = "$" + base;
  for (int counter = 1; taken.count(name) != 0; ++counter) {
    std::string digits = std::to_string(counter);
    std::string stem = base.substr(0, std::min(base.size(), 7 - digits.size()));
    name = "$" + stem + digits;
  }
  return name;
}

VolumeTable::VolumeTable(const Configuration& config) {
  build(config.volumes ? config.volumes->c_str() : nullptr);
}

VolumeTable::~VolumeTable() { release(); }

void VolumeTable::build(const char* text) {
  refused_ = 0;
  volumes_ = text != nullptr ? parse_table(text, &refused_) : discover();
  number_devices(&volumes_);
  swap_ = Volume{};
  swap_.name = "$TMP";
  swap_.root = temp_directory();
  // One simulated disk on the virtual clock puts the whole process on it:
  // the clock then moves only with the disks' waits, and every measurement
  // is exact however loaded the machine is.
  for (const Volume& v : volumes_) {
    if (v.virtual_clock && !clock_frozen()) {
      clock_freeze();
      froze_clock_ = true;
    }
  }
}

void VolumeTable::release() {
  if (froze_clock_) clock_release();
  froze_clock_ = false;
}

void VolumeTable::replace(const char* text) {
  release();
  simdisk_reset();
  const Configuration& config = host().config();
  build(text != nullptr ? text : config.volumes ? config.volumes->c_str() : nullptr);
}

const Volume* VolumeTable::find(std::string_view name) const {
  std::string wanted = upper(std::string(name));
  if (wanted.empty() || wanted[0] != '$') wanted.insert(wanted.begin(), '$');
  for (const Volume& v : volumes_) {
    if (v.name == wanted) return &v;
  }
  if (swap_.name == wanted) return &swap_;
  return nullptr;
}

const std::vector<Volume>& volumes() { return host().state<VolumeTable>().volumes(); }

const Volume* find_volume(std::string_view name) { return host().state<VolumeTable>().find(name); }

// The swap volume: ZEB_SWAPVOL when it names a volume, else the volume of
// the table that holds the temporary directory (the longest root that
// contains it), else $TMP, a volume rooted at the temporary directory itself
// that is not part of the device table.
std::string swap_volume() {
  const char* configured =
      host().config().swap_volume ? host().config().swap_volume->c_str() : nullptr;
  if (configured != nullptr && *configured != '\0') {
    const Volume* v = find_volume(configured);
    if (v != nullptr) return v->name;
    // Told once for the host's configuration, like a bad ZEB_VOLUMES entry.
    bool& told = host().state<SwapVolumeWarning>().told;
    if (!told) {
      told = true;
      write_error_line(program_name() + ": ZEB_SWAPVOL: \"" + configured +
                       "\" is not a volume; the swap file goes in the temporary directory");
    }
  }
  std::string tmp = temp_directory();
  const Volume* best = nullptr;
  for (const Volume& v : volumes()) {
    if (volume_holds(v, tmp) && (best == nullptr || v.root.size() > best->root.size())) best = &v;
  }
  return best != nullptr ? best->name : find_volume("$TMP")->name;
}

std::vector<Volume> parse_volume_table(const std::string& text) {
  int refused = 0;
  std::vector<Volume> volumes = parse_table(text, &refused);
  number_devices(&volumes);
  return volumes;
}

std::string host_path(const Volume& v, const FileName& name) {
  std::string sub = lower(name.subvol), file = lower(name.file);
  std::string root = v.root;
  if (root.empty() || root.back() != '/') root.push_back('/');
  return root + sub + "/" + file;
}

Result<std::string> host_path_of_internal(const char* internal_name) {
  FileName name;
  if (!from_internal(internal_name, &name) || name.temporary() || name.file.empty()) {
    return Status::error(err::kBadName);
  }
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return Status::error(err::kNoSuchDevice, name.volume);
  if (v->simulated)
    return Status::error(err::kInvalidOperation, name.volume + " keeps no host files");
  return host_path(*v, name);
}

bool internal_name_of_path(const std::string& path, char* internal_name) {
  for (const Volume& v : volumes()) {
    if (v.simulated) continue;
    std::string root;
    if (syscalls().realpath(v.root.c_str(), &root) != 0) continue;
    if (root.back() != '/') root.push_back('/');
    if (path.compare(0, root.size(), root) != 0) continue;
    std::string rest = path.substr(root.size());
    size_t slash = rest.find('/');
    if (slash == std::string::npos) continue;
    FileName name{v.name, upper(rest.substr(0, slash)), upper(rest.substr(slash + 1))};
    // Only a path spelled exactly as the volume spells its files maps back.
    std::string spelled = lower(name.subvol + "/" + name.file);
    FileName parsed;
    if (spelled != rest || !parse_name(name.external(), &parsed) || parsed.temporary()) continue;
    to_internal(parsed, internal_name);
    return true;
  }
  return false;
}

Result<DeviceInfo> find_device(const DeviceQuery& query) {
  for (const Volume& v : volumes()) {
    bool position_ok = query.next ? v.ldev > query.ldev : v.ldev == query.ldev;
    if (!position_ok) continue;
    if (query.type && *query.type != zeb::kDeviceTypeDisk) continue;
    if (query.subtype && *query.subtype != v.subtype) continue;
    return DeviceInfo{v.ldev, zeb::kDeviceTypeDisk, 512, v.subtype, v.name};
  }
  return Status::error(err::kNoMoreDevices);
}

}  // namespace zeb::platform
