// File-name comparison.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// Whether two external file names (length bytes each) designate the same
// file: -1 the same file, 0 different files, or a file-system error (13 for
// a name that is not a valid file name, 22 for a negative length).
ZEB_EXPORT int16_t FILENAME_COMPARE_(const char* name1, int16_t length1, const char* name2,
                                     int16_t length2);
