// The volume table (internal to the platform; see host.h for Volume).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/rooms.h"

namespace zeb::platform {

// The device table in logical-device order (logical device n is entry n-1).
const std::vector<Volume>& volumes();

// Replaces the device table with one written as ZEB_VOLUMES is (bad entries
// are reported on standard error and left out), as though the process had
// started with it; restore_volume_table goes back to the table of the
// process's own environment (ZEB_VOLUMES or discovery), read afresh. Either
// forgets the files of simulated volumes and temporary files that are not
// open, and every simulated disk's write count. No file may be open on a
// volume of the table being replaced.
void install_volume_table(const std::string& text);
void restore_volume_table();

// Parses a ZEB_VOLUMES text; bad entries are reported on standard error and
// left out. Exposed for tests.
std::vector<Volume> parse_volume_table(const std::string& text);

// The volume name given to a device with this kernel name, unique among taken.
std::string volume_name_for_device(const std::string& kernel_name,
                                   const std::set<std::string>& taken);

}  // namespace zeb::platform
