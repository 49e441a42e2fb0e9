// DEFINEs: named sets of attributes a process is given. On this host a
// process's DEFINEs come from its environment: ZEB_DEFINE_<NAME>=<file name>
// is the DEFINE "=<NAME>" of class MAP with the one attribute FILE.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// Information about the DEFINE named by the 24-byte blank-padded name
// ("=" and up to 23 characters, case does not matter): its class (16 bytes,
// blank padded) and first attribute's name (16 bytes) when those areas are
// given, and the attribute's value (value_length bytes, at most max_length)
// in attribute_value. Returns 0; 198 when the process has no such DEFINE; 13
// for a name that is not a DEFINE name; 29 for a missing area; 22 when the
// value does not fit max_length.
ZEB_EXPORT int16_t DEFINEINFO(const char* define_name, char* define_class, char* attribute_name,
                              char* attribute_value, int16_t max_length, int16_t* value_length);
