// The format engine against what a caller would otherwise use: snprintf and,
// when available, fmt::format_to_n, on the survey's drive line and the first
// pool statistics line. Each iteration formats one line into a 160-byte
// buffer, as the log path does. The speed ratios are printed at the end; run
// with --benchmark_repetitions=5 for medians.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include <zeb/format/format.h>
#include "bench/ratio_reporter.h"

#ifdef ZEB_HAVE_FMT
#include <fmt/format.h>
#endif

namespace {

const char kDriveName[] = "$DATA01";
int16_t g_drive_len = 7;
int32_t g_rpm = 7212;

int64_t g_allocs = 1234567, g_frees = 1234000;
int32_t g_used = 567, g_maxused = 98765;

// Times `format`, which writes one line into a 160-byte buffer.
template <typename Format>
void time_lines(benchmark::State& state, Format format) {
  char line[160];
  for (auto _ : state) {
    auto n = format(line);
    benchmark::DoNotOptimize(n);
    benchmark::DoNotOptimize(line);
  }
}

void BM_DriveLine_UtilFormat(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return UTIL_FORMAT(zeb::mask({1, 2, 3, 4, 5, 6}), "Drive: \\a8.%\\ Effective RPM: \\d\\", line,
                       160, kDriveName, &g_drive_len, &g_rpm);
  });
}
BENCHMARK(BM_DriveLine_UtilFormat);

void BM_DriveLine_Snprintf(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return std::snprintf(line, 160, "Drive: %-8.*s Effective RPM: %d",
                         static_cast<int>(g_drive_len), kDriveName, static_cast<int>(g_rpm));
  });
}
BENCHMARK(BM_DriveLine_Snprintf);

void BM_PoolLine_UtilFormat(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return UTIL_FORMAT(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8}),
                       "Pool Alloc: \\q8\\  Free:   \\q8\\  Used:    \\d8\\  Maxused:\\d8\\", line,
                       160, &g_allocs, &g_frees, &g_used, &g_maxused);
  });
}
BENCHMARK(BM_PoolLine_UtilFormat);

void BM_PoolLine_Snprintf(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return std::snprintf(line, 160, "Pool Alloc: %8lld  Free:   %8lld  Used:    %8d  Maxused:%8d",
                         static_cast<long long>(g_allocs), static_cast<long long>(g_frees),
                         static_cast<int>(g_used), static_cast<int>(g_maxused));
  });
}
BENCHMARK(BM_PoolLine_Snprintf);

#ifdef ZEB_HAVE_FMT
void BM_DriveLine_Fmt(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return fmt::format_to_n(line, 160, "Drive: {:<8} Effective RPM: {}",
                            fmt::string_view(kDriveName, static_cast<size_t>(g_drive_len)), g_rpm)
        .size;
  });
}
BENCHMARK(BM_DriveLine_Fmt);

void BM_PoolLine_Fmt(benchmark::State& state) {
  time_lines(state, [](char* line) {
    return fmt::format_to_n(line, 160,
                            "Pool Alloc: {:8}  Free:   {:8}  Used:    {:8}  Maxused:{:8}", g_allocs,
                            g_frees, g_used, g_maxused)
        .size;
  });
}
BENCHMARK(BM_PoolLine_Fmt);
#endif

}  // namespace

int main(int argc, char** argv) {
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_DriveLine_UtilFormat", "BM_DriveLine_Snprintf", "UTIL_FORMAT / snprintf, drive line"},
       {"BM_PoolLine_UtilFormat", "BM_PoolLine_Snprintf", "UTIL_FORMAT / snprintf, pool line"},
       {"BM_DriveLine_UtilFormat", "BM_DriveLine_Fmt", "UTIL_FORMAT / fmt, drive line"},
       {"BM_PoolLine_UtilFormat", "BM_PoolLine_Fmt", "UTIL_FORMAT / fmt, pool line"}});
}
