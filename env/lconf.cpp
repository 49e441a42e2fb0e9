// The configuration file: a key-sequenced file of 464-byte records keyed by
// their first 50 bytes (type, a blank, a 16-asterisk qualifier and the entry
// name). "P" records hold a parameter value, "A" records a file name and an
// alternate name. The file is opened and closed on every look-up; nothing is
// cached, so an operator's rebuilt file takes effect at once.
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include "platform/files/files.h"

namespace err = zeb::err;

namespace {

constexpr int kWork = 48;
constexpr int kQualifierSize = 16;
constexpr int kMaxValue = zeb::kLconfRecordSize - zeb::kLconfValueOffset;

// A field of the record ended by a blank, cleaned into the 48-byte form.
void clean_field(const char* field, int size, char* result) {
  char text[kWork];
  std::memset(text, ' ', sizeof text);
  std::memcpy(text, field, static_cast<size_t>(size));
  UTIL_CLEANUPFILENAME(text, result);
}

}  // namespace

int16_t LCONF_INFO(const char* file, int16_t item, const char* key, char* result) {
  if (item < 0 || item > 2) return err::kInvalidOperation;
  if (file == nullptr || key == nullptr || result == nullptr) return err::kMissingParameter;
  char record[zeb::kLconfRecordSize];
  int16_t error = LCONF_READ_(file, item == 0 ? 'P' : 'A', key, record);
  if (error != err::kOk) return error;
  if (item == 0) {
    const auto* p = reinterpret_cast<const unsigned char*>(record + zeb::kLconfValueLenOffset);
    auto length = static_cast<int16_t>(p[0] << 8 | p[1]);
    // A value length that does not fit the record is not a value.
    if (length < 0 || length > kMaxValue) return err::kInvalidData;
    std::memcpy(result, record + zeb::kLconfValueOffset, static_cast<size_t>(length));
    result[length] = ' ';
  } else if (item == 1) {
    clean_field(record + zeb::kLconfFileOffset, zeb::kLconfFileSize, result);
  } else {
    clean_field(record + zeb::kLconfAltOffset, zeb::kLconfAltSize, result);
  }
  return err::kOk;
}

int16_t LCONF_READ_(const char* file, int16_t type, const char* key, char* record) {
  if (file == nullptr || key == nullptr || record == nullptr) return err::kMissingParameter;
  if (key[0] == '=') ++key;
  char name[kWork];
  UTIL_CLEANUPFILENAME(key, name);
  record[0] = static_cast<char>(type & 0xFF);
  record[1] = ' ';
  std::memset(record + 2, '*', kQualifierSize);
  std::memcpy(record + zeb::kLconfNameOffset, name, zeb::kLconfNameSize);

  // The file is only read, so it is opened for reading: an operator's file
  // that the program may not write still serves.
  namespace platform = zeb::platform;
  platform::Result<int16_t> fnum = platform::open_file(
      std::string_view(file, static_cast<size_t>(UTIL_NAMELEN(file))), {zeb::kAccessRead});
  if (!fnum.ok()) return fnum.code();
  platform::Status status =
      platform::position_by_key(*fnum, record, std::nullopt, zeb::kPositionExact);
  if (status.ok()) status = platform::read_file(*fnum, record, zeb::kLconfRecordSize);
  // The file was only read: closing it loses nothing, whatever it answers.
  platform::close_file(*fnum).ignore();
  return status.code();
}
