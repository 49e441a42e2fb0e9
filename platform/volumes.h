// The volume table (internal to the platform; see host.h for Volume).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/host.h"

namespace zeb::platform {

// The device table in logical-device order (logical device n is entry n-1).
const std::vector<Volume>& volumes();

// Parses a ZEB_VOLUMES text; bad entries are reported on standard error and
// left out. Exposed for tests.
std::vector<Volume> parse_volume_table(const std::string& text);

// The volume name given to a device with this kernel name, unique among taken.
std::string volume_name_for_device(const std::string& kernel_name,
                                   const std::set<std::string>& taken);

}  // namespace zeb::platform
