// DEFINEs: named sets of attributes a process is given, here from its
// configuration (ZEB_DEFINE_<NAME>=<file name> is the DEFINE "=<NAME>" of
// class MAP with the one attribute FILE). Internal to the platform.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host/status.h"

namespace zeb::platform {

// The error of a DEFINE name that names no DEFINE of this process.
inline constexpr int16_t kNotADefine = 198;

// The FILE attribute of the DEFINE named by the 24-byte blank-padded name
// ("=" and up to 23 characters, case does not matter); 13 for a name that is
// not a DEFINE name, 198 when the process has no such DEFINE.
Result<std::string> define_file(const char* define_name);

}  // namespace zeb::platform
