// Fuzz target of the format engine: arbitrary formats, limits, argument
// presence and argument values. The output buffer is exactly limit bytes on
// the heap, so any store beyond the limit is caught by AddressSanitizer.
//
// Input layout: bytes 0-1 the limit (signed 16-bit, little-endian); bytes
// 2-3 the argument slots passed (bit i: slot i+1); then 14 x 24 bytes of
// argument values; the rest is the format. Missing bytes count as 0.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zeb/format/format.h>

namespace {

constexpr size_t kArgBytes = 24;
constexpr size_t kArgBuffer = 256;  // every field reads at most 150 bytes
constexpr size_t kHeader = 4 + 14 * kArgBytes;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[kHeader] = {};
  std::memcpy(header, data, size < kHeader ? size : kHeader);
  int16_t limit = static_cast<int16_t>(header[0] | (header[1] << 8));
  uint16_t passed = static_cast<uint16_t>(header[2] | (header[3] << 8));

  // Each argument: its 24 bytes, then zeros, always NUL-terminated.
  static char args[14][kArgBuffer];
  for (int i = 0; i < 14; ++i) {
    std::memset(args[i], 0, kArgBuffer);
    std::memcpy(args[i], header + 4 + i * kArgBytes, kArgBytes);
  }
  std::vector<char> format;
  if (size > kHeader) format.assign(data + kHeader, data + size);
  format.push_back('\0');

  uint32_t mask = zeb::mask({1, 2, 3});
  for (int i = 0; i < 14; ++i) {
    if (passed & (1u << i)) mask |= 1u << (28 - i);
  }
  const size_t capacity = limit > 0 ? static_cast<size_t>(limit) : 0;
  char* buffer = static_cast<char*>(std::malloc(capacity == 0 ? 1 : capacity));
  int16_t n = UTIL_FORMAT(mask, format.data(), buffer, limit, args[0], args[1], args[2], args[3],
                          args[4], args[5], args[6], args[7], args[8], args[9], args[10], args[11],
                          args[12], args[13]);
  if (n < 0 || static_cast<size_t>(n) > capacity) std::abort();
  std::free(buffer);
  return 0;
}
