// The library's CRCs against what a user would otherwise call: zlib's crc32
// for CRC-32, and the plain bit-at-a-time loop for CRC-16 (ARC), over buffers
// from a short record to a megabyte. Compare the bytes-per-second columns
// of the pairs.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "util/checksum.h"

namespace {

const std::vector<uint8_t>& data() {
  static const std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> v(1 << 20);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  return bytes;
}

void BM_UtilCrc32(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(UTIL_CRC32(0, p, n));
  state.SetBytesProcessed(state.iterations() * n);
}

void BM_ZlibCrc32(benchmark::State& state) {
  const auto n = static_cast<uInt>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, p, n));
  state.SetBytesProcessed(state.iterations() * n);
}

void BM_UtilCrc16(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(UTIL_CRC16(0, p, n));
  state.SetBytesProcessed(state.iterations() * n);
}

uint16_t bitwise_crc16(uint16_t crc, const uint8_t* p, size_t n) {
  while (n--) {
    crc ^= *p++;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void BM_BitwiseCrc16(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(bitwise_crc16(0, p, n));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}

}  // namespace

BENCHMARK(BM_UtilCrc32)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_ZlibCrc32)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_UtilCrc16)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_BitwiseCrc16)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);
