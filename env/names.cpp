// Name and text utilities: case folding, filling and the civil clock.
#include <cstring>

#include "env/env.h"
#include "platform/clock.h"

namespace {

// a-z become A-Z; every other byte stays as it is.
constexpr unsigned char upshift(unsigned char c) {
  return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

void UTIL_UPSHIFT(const void* src, void* dst, int16_t len) {
  const auto* s = static_cast<const unsigned char*>(src);
  auto* d = static_cast<unsigned char*>(dst);
  for (int16_t i = 0; i < len; ++i) d[i] = upshift(s[i]);
}

void UTIL_FILL(void* dst, int16_t len, int16_t ch) {
  if (len > 0) std::memset(dst, static_cast<unsigned char>(ch & 0xFF), static_cast<size_t>(len));
}

int64_t UTIL_CIVILTIME() { return PROCESSOR_CLOCK() + zeb::kJulianEpochOffset; }
