// Name and text utilities: the two stored forms of names (48-byte file-name
// text and counted names), case folding, filling, decimal and network-address
// conversion, file-name collapsing, the same-file test and the civil clock.
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/convert.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/filename.h>
#include <zeb/platform/fs.h>
#include "platform/files/files.h"

namespace err = zeb::err;

namespace {

constexpr int kFileTextSize = 48;     // the 48-byte file-name form
constexpr int kParamNameLimit = 48;   // characters counted by UTIL_CLEANUPPARAMNAME
constexpr int kNumberTextLimit = 63;  // characters a number may have

// a-z become A-Z; every other byte stays as it is.
constexpr unsigned char upshift(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool ends_text(char c) { return c == ' ' || c == '\0'; }

// Converts the len bytes of text as a decimal number through a NUL-ended copy.
// Sets *end to the number of characters converted.
bool convert_decimal(const char* text, int len, int32_t* value, int* end) {
  char work[kNumberTextLimit + 1];
  if (len < 0 || len > kNumberTextLimit) return false;
  if (len > 0) std::memcpy(work, text, static_cast<size_t>(len));
  work[len] = '\0';
  int16_t status = 0;
  const char* stop = DNUMIN(work, value, 10, &status);
  *end = static_cast<int>(stop - work);
  return status == 0;
}

}  // namespace

void UTIL_CLEANUPFILENAME(const char* src, char* dst) {
  int n = 0;
  while (n < kFileTextSize - 1 && !ends_text(src[n])) {
    dst[n] = static_cast<char>(upshift(static_cast<unsigned char>(src[n])));
    ++n;
  }
  std::memset(dst + n, ' ', static_cast<size_t>(kFileTextSize - n));
}

void UTIL_CLEANUPPARAMNAME(const char* src, char* dst) {
  auto first = static_cast<unsigned char>(src[0]);
  if (first < 0x20) {
    // Already counted: the length byte stays, the characters are upshifted.
    dst[0] = static_cast<char>(first);
    UTIL_UPSHIFT(src + 1, dst + 1, first);
    return;
  }
  int count = 0;
  while (count < kParamNameLimit && !ends_text(src[count])) ++count;
  int skip = src[0] == '=' ? 1 : 0;
  dst[0] = static_cast<char>(count - skip);
  UTIL_UPSHIFT(src + skip, dst + 1, static_cast<int16_t>(count - skip));
}

int16_t UTIL_NAMELEN(const char* name) {
  // A name ends at its first blank; one without a blank ends at its first
  // NUL. No name the library keeps is longer than 47 characters, so the count
  // never runs past 48 bytes.
  int16_t n = 0;
  while (n < kFileTextSize && !ends_text(name[n])) ++n;
  return n;
}

int16_t UTIL_FNAMECOLLAPSE(const char* internal, char* external) {
  std::string text = zeb::platform::collapse_name(internal);
  std::memcpy(external, text.data(), text.size());
  external[text.size()] = '\0';
  return static_cast<int16_t>(text.size());
}

int16_t UTIL_SAMEFILE(int16_t fnum1, int16_t fnum2) {
  zeb::platform::Result<zeb::platform::FileInfo> file1 = zeb::platform::file_info(fnum1);
  if (!file1.ok()) return file1.code();
  zeb::platform::Result<zeb::platform::FileInfo> file2 = zeb::platform::file_info(fnum2);
  if (!file2.ok()) return file2.code();
  const std::string& name1 = file1->name;
  const std::string& name2 = file2->name;
  if (name1.size() > kFileTextSize || name2.size() > kFileTextSize) return err::kOutOfBounds;
  int16_t answer = FILENAME_COMPARE_(name1.data(), static_cast<int16_t>(name1.size()), name2.data(),
                                     static_cast<int16_t>(name2.size()));
  if (answer == -1) return err::kOk;
  if (answer == 0) return err::kNotSameFile;
  return answer;
}

void UTIL_UPSHIFT(const void* src, void* dst, int16_t len) {
  const auto* s = static_cast<const unsigned char*>(src);
  auto* d = static_cast<unsigned char*>(dst);
  for (int16_t i = 0; i < len; ++i) d[i] = upshift(s[i]);
}

void UTIL_FILL(void* dst, int16_t len, int16_t ch) {
  if (len > 0) std::memset(dst, ch & 0xFF, static_cast<size_t>(len));
}

int16_t UTIL_DOUBLE(const char* text, int16_t len, int32_t* result) {
  int end = 0;
  if (!convert_decimal(text, len, result, &end) || end != len) return err::kBadNumber;
  return err::kOk;
}

int16_t UTIL_IPADDR(const char* text, int16_t len, uint8_t* result) {
  if (len < 0 || len > kNumberTextLimit) return err::kBadAddress;
  int at = 0;
  for (int field = 0; field < 4; ++field) {
    int32_t value = 0;
    int used = 0;
    if (!convert_decimal(text + at, len - at, &value, &used) || value < 0 || value > 255) {
      return err::kBadAddress;
    }
    at += used;
    if (field < 3) {
      if (at >= len || text[at] != '.') return err::kBadAddress;
      ++at;
    } else if (at != len) {
      return err::kBadAddress;
    }
    result[field] = static_cast<uint8_t>(value);
  }
  return err::kOk;
}

int64_t UTIL_CIVILTIME() { return PROCESSOR_CLOCK() + zeb::kJulianEpochOffset; }
