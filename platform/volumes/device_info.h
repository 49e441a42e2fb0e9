// What the host knows of the device under a volume: the mount that holds
// the volume's root, the block device, its model, whether it rotates and
// how its queue caches writes. For reports; the measurement never needs it.
//
// Everything comes from /proc/self/mountinfo and /sys/dev/block, read
// through the seam, so a test serves those files instead of a real disk.
#pragma once

#include <optional>
#include <string>

#include "platform/host/status.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {

struct DeviceDetails {
  std::string mount_point;  // where the file system that holds the root is mounted
  std::string fs_type;      // "ext4", "xfs", "tmpfs", ...
  std::string source;       // the mount's source as the kernel gives it ("/dev/vda1")
  std::string kernel_name;  // the block device's kernel name ("vda1"); empty if none
  std::string device;       // "/dev/" and the kernel name; empty if no block device
  std::string number;       // the file system's device number, "MAJ:MIN": one per file system
  // Of the whole disk (a partition's parent); absent where /sys has no such file.
  std::optional<std::string> model;        // device/model, blanks trimmed
  std::optional<bool> rotational;          // queue/rotational
  std::optional<std::string> write_cache;  // queue/write_cache: "write back" or "write through"
};

// The details of the file system that holds directory (an existing host
// path). 11 when the directory does not exist, 2 when it is not a directory,
// the stat's error otherwise; a mount the list does not show leaves the
// mount fields empty rather than failing.
Result<DeviceDetails> device_details(const std::string& directory);

// The details of a volume of the table: of its root for a directory volume;
// a simulated disk has none (an empty record).
Result<DeviceDetails> device_details(const Volume& volume);

}  // namespace zeb::platform
