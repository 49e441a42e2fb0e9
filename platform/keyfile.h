// Key-sequenced files: records kept in key order and read by key. On this
// host a key-sequenced file is an SQLite database with one table of records
// keyed by their leading key bytes; FILE_OPEN_ recognises one by its header
// and READX then reads records from it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

namespace zeb {
constexpr int16_t kAccessRead = 1;           // FILE_OPEN_ access: read only
constexpr int16_t kPositionApproximate = 0;  // KEYPOSITIONX: from the first key not below
constexpr int16_t kPositionGeneric = 1;      // KEYPOSITIONX: the keys that begin with the value
constexpr int16_t kPositionExact = 2;        // KEYPOSITIONX: exactly that key
}  // namespace zeb

// Positions a key-sequenced file for the following READX: 1 file number,
// 2 key value, 3 key specifier (0: the primary key, the only one kept),
// 4 length word (key bytes that take part; default the file's key length),
// 5 positioning mode (0 approximate: the first record with a key not below
// the value, then on in key order; 1 generic: the records whose key begins
// with the value; 2 exact: the record with exactly that key). A READX after
// exact positioning gives the record or 11, and 1 (end of file) after it.
// Returns 0, 29, 16 for a file number not open, 2 for a file that is not
// key-sequenced or an unknown key specifier or mode, 22 for a bad length.
ZEB_EXPORT int16_t KEYPOSITIONX(uint32_t mask, int16_t filenum = 0, const void* key_value = nullptr,
                                int16_t key_specifier = 0, int16_t length_word = 0,
                                int16_t positioning_mode = 0);

namespace zeb::platform {

// Writes the key-sequenced file at host path from whole records keyed by
// their first key_length bytes, replacing the file atomically: the records go
// into a new file of the same directory that is renamed over path only when
// complete, so readers see the old file or the new one, never a mixture. On
// an error path is untouched, *problem says what went wrong, and the
// file-system error is returned (10 for two records of one key).
ZEB_EXPORT int16_t keyfile_write(const std::string& path, int key_length,
                                 const std::vector<std::string>& records, std::string* problem);

// Reads every record of the key-sequenced file at host path, in key order.
// Returns 0 or the file-system error (2 when the file is not key-sequenced),
// with *problem saying what went wrong.
ZEB_EXPORT int16_t keyfile_read_all(const std::string& path, std::vector<std::string>* records,
                                    std::string* problem);

}  // namespace zeb::platform
