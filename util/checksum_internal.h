// The two ways UTIL_CRC32 can update its register, exposed so that the tests
// can hold each against the same known answers and against each other, and
// the benchmarks can time each. Internal to the library's build; not
// installed.
//
// Both take and return the CRC-32 register (the inverted CRC, as between
// UTIL_CRC32's entry and exit inversions) and give exactly the result of the
// plain byte loop over the reflected polynomial 0xEDB88320.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::util {

// Table look-ups, eight bytes per step; runs on every processor.
uint32_t crc32_update_tables(uint32_t reg, const uint8_t* p, size_t n);

// True when this build has the folding code and the processor it runs on
// has carry-less multiplication (PCLMULQDQ). Decided once per process.
bool crc32_folding_available();

// Folds 16-byte blocks with carry-less multiplication and finishes the last
// 0 to 15 bytes by table. Call it only when crc32_folding_available().
uint32_t crc32_update_folding(uint32_t reg, const uint8_t* p, size_t n);

// UTIL_CRC32 folds buffers of at least this many bytes when it can; shorter
// ones go by table, which is faster for them.
constexpr size_t kCrc32FoldMinimum = 16;

}  // namespace zeb::util
