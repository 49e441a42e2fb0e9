// The library's CRCs against what a user would otherwise call: zlib's crc32
// for CRC-32, and the plain bit-at-a-time loop for CRC-16 (ARC), over buffers
// from a short record to a megabyte. UTIL_CRC32 is also timed along each of
// its two paths (table look-ups, and folding where the processor has
// carry-less multiplication). The speed ratios against zlib are printed at
// the end; run with --benchmark_repetitions=5 for medians.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <zeb/util/checksum.h>
#include "bench/ratio_reporter.h"
#include "util/checksum_internal.h"

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

// Times `crc` over the first state.range(0) bytes of the random data.
template <typename Crc>
void time_crc(benchmark::State& state, Crc crc) {
  const auto n = static_cast<size_t>(state.range(0));
  const uint8_t* p = data().data();
  for (auto _ : state) benchmark::DoNotOptimize(crc(p, n));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n));
}

void BM_UtilCrc32(benchmark::State& state) {
  time_crc(state,
           [](const uint8_t* p, size_t n) { return UTIL_CRC32(0, p, static_cast<int32_t>(n)); });
}

void BM_TablesCrc32(benchmark::State& state) {
  time_crc(state,
           [](const uint8_t* p, size_t n) { return zeb::util::crc32_update_tables(~0u, p, n); });
}

void BM_FoldingCrc32(benchmark::State& state) {
  if (!zeb::util::crc32_folding_available()) {
    state.SkipWithError("no carry-less multiplication on this processor");
    return;
  }
  time_crc(state,
           [](const uint8_t* p, size_t n) { return zeb::util::crc32_update_folding(~0u, p, n); });
}

void BM_ZlibCrc32(benchmark::State& state) {
  time_crc(state, [](const uint8_t* p, size_t n) { return crc32(0, p, static_cast<uInt>(n)); });
}

void BM_UtilCrc16(benchmark::State& state) {
  time_crc(state,
           [](const uint8_t* p, size_t n) { return UTIL_CRC16(0, p, static_cast<int32_t>(n)); });
}

uint16_t bitwise_crc16(uint16_t crc, const uint8_t* p, size_t n) {
  while (n--) {
    crc ^= *p++;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void BM_BitwiseCrc16(benchmark::State& state) {
  time_crc(state, [](const uint8_t* p, size_t n) { return bitwise_crc16(0, p, n); });
}

// Sizes from a short record to a megabyte, either side of the folding
// threshold.
constexpr int kSizes[] = {16, 63, 64, 256, 1024, 4096, 65536, 1 << 20};

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : kSizes) b->Arg(n);
}

}  // namespace

BENCHMARK(BM_UtilCrc32)->Apply(sizes);
BENCHMARK(BM_TablesCrc32)->Apply(sizes);
BENCHMARK(BM_FoldingCrc32)->Apply(sizes);
BENCHMARK(BM_ZlibCrc32)->Apply(sizes);
BENCHMARK(BM_UtilCrc16)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_BitwiseCrc16)->Arg(16)->Arg(256)->Arg(4096)->Arg(1 << 20);

int main(int argc, char** argv) {
  std::vector<zeb::bench::RatioReporter::Pair> pairs;
  for (const char* path : {"UtilCrc32", "TablesCrc32", "FoldingCrc32"}) {
    for (int n : kSizes) {
      std::string arg = std::to_string(n);
      pairs.push_back({std::string("BM_") + path + "/" + arg, "BM_ZlibCrc32/" + arg,
                       std::string(path) + " / zlib crc32, " + arg + " bytes"});
    }
  }
  return zeb::bench::run_with_ratios(argc, argv, std::move(pairs));
}
