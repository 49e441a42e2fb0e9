// Shared conventions of every public procedure: the parameter mask, truth
// values and the fixed widths of the library's values.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace zeb {

// Parameter n (counted from 1 after the mask) is present when bit 32-n of the
// mask is set: bit 31 is the first parameter, bit 30 the second, and so on.
constexpr bool present(uint32_t mask, int n) {
  return n >= 1 && n <= 32 && ((mask >> (32 - n)) & 1u) != 0;
}

// The mask bit that stands for parameter n.
constexpr uint32_t param_bit(int n) { return 1u << (32 - n); }

// The mask for the parameters numbered in params, written by number so that a
// call can be checked against the procedure's parameter list:
// mask({1, 2, 4}) is 0xD0000000. A number outside 1-32 is refused (at compile
// time where the mask is a constant).
constexpr uint32_t mask(std::initializer_list<int> params) {
  uint32_t m = 0;
  for (int n : params) {
    if (n < 1 || n > 32) throw "parameter numbers run from 1 to 32";
    m |= param_bit(n);
  }
  return m;
}

// True when no bit beyond a procedure's last parameter (count params) is set.
constexpr bool mask_fits(uint32_t mask, int params) {
  return params >= 32 || (mask & ((1u << (32 - params)) - 1u)) == 0;
}

// A wrapper that adds a leading parameter passes the caller's mask on moved
// down one place, with bit 31 set for the added parameter.
constexpr uint32_t mask_with_leading(uint32_t mask) { return (mask >> 1) | 0x80000000u; }

// 16-bit truth values.
constexpr int16_t kTrue = -1;
constexpr int16_t kFalse = 0;

// Bytes in a page: the unit of file extents and of segment sizes.
constexpr int32_t kPageBytes = 2048;

// A file number that names no open file.
constexpr int16_t kNotOpen = -2;

}  // namespace zeb
