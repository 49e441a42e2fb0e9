// The volumes room: the device table of this host (disk volumes and
// simulated disks, in logical-device order), where a volume keeps its files
// on the host, and device information by logical device number. Internal to
// the platform.
//
// The table is a state of the host (host.h): built on first use from the
// configuration's ZEB_VOLUMES, or by discovery of the mounted block devices
// when that is absent, and gone with the host.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/config.h"
#include "platform/host/status.h"
#include "platform/names/file_names.h"

namespace zeb::platform {

// A volume of the device table.
struct Volume {
  std::string name;     // "$NAME"
  std::string root;     // host directory (empty for a simulated disk)
  int32_t ldev = 0;     // logical device number, positive
  int16_t subtype = 0;  // device subtype; 36: not to be surveyed
  bool simulated = false;
  int32_t rpm = 0;             // simulated disk: revolutions per minute
  int32_t fail_at = 0;         // simulated disk: the write (1-based) that fails; 0 none
  int32_t busy_every = 0;      // simulated disk: every K-th write waits 3 revolutions more; 0 none
  bool virtual_clock = false;  // simulated disk: the process runs on the virtual clock
};

// The host's device table. A simulated disk on the virtual clock freezes the
// processor clock while its table is in force.
class VolumeTable {
 public:
  explicit VolumeTable(const Configuration& config);
  ~VolumeTable();
  VolumeTable(const VolumeTable&) = delete;
  VolumeTable& operator=(const VolumeTable&) = delete;

  const std::vector<Volume>& volumes() const { return volumes_; }
  // The entries of the table's text that were reported and left out.
  int refused() const { return refused_; }
  // The volume of that name (case-insensitive, with or without "$"),
  // $TMP included, or null.
  const Volume* find(std::string_view name) const;
  // Replaces the table with one written as ZEB_VOLUMES is (null: the
  // configuration's table, or discovery), and forgets every simulated
  // disk's write count.
  void replace(const char* text);

 private:
  void build(const char* text);
  void release();
  std::vector<Volume> volumes_;  // in logical-device order
  Volume swap_;                  // the swap volume when no table volume holds TMPDIR
  bool froze_clock_ = false;     // this table put the process on the virtual clock
  int refused_ = 0;
};

// The device table of the host in force (logical device n is entry n-1).
const std::vector<Volume>& volumes();

// The volume of that name in the host's table (see VolumeTable::find).
const Volume* find_volume(std::string_view name);

// The external name of the volume that holds this process's swap files.
std::string swap_volume();

// The temporary directory: $TMPDIR, else /tmp, resolved when it exists.
std::string temp_directory();

// True when path (absolute, resolved) lies on directory volume v: it is v's
// root or below it.
bool volume_holds(const Volume& v, const std::string& path);

// Parses a ZEB_VOLUMES text; bad entries are reported on standard error and
// left out. Exposed for tests.
std::vector<Volume> parse_volume_table(const std::string& text);

// The volume name given to a device with this kernel name, unique among taken.
std::string volume_name_for_device(const std::string& kernel_name,
                                   const std::set<std::string>& taken);

// Host paths. host_path: where a named file of directory volume v lives
// (subvolume and file are lower-case directory and file names below the
// root). host_path_of_internal: the host path of a 24-byte internal name (13
// for a malformed name, 14 for no such volume, 2 for a simulated volume,
// which keeps no host files). internal_name_of_path: the internal
// name of a host path that lies at SUBVOL/FILE below a directory volume's
// root and is spelled as the volume spells its files (false otherwise).
std::string host_path(const Volume& v, const FileName& name);
Result<std::string> host_path_of_internal(const char* internal_name);
bool internal_name_of_path(const std::string& path, char* internal_name);

// Device information: which device to find and what is known of it.
struct DeviceQuery {
  int32_t ldev = 0;
  bool next = false;               // the first device after ldev, not ldev itself
  std::optional<int16_t> type;     // match this device type (only 3, disk, matches)
  std::optional<int16_t> subtype;  // match this subtype
};
struct DeviceInfo {
  int32_t ldev = 0;
  int16_t type = 0;
  int16_t record_size = 0;
  int16_t subtype = 0;
  std::string name;
};
// The device the query finds, or 19 when there is no (further) match.
Result<DeviceInfo> find_device(const DeviceQuery& query);

}  // namespace zeb::platform
