// ZEB_LOG of the survey's drive line against what a C program would write:
// fprintf of the same line to the same file, buffered as stdio does, and
// fprintf followed by fflush, which puts each line out at once as the log
// path does (one write per line). The library's home terminal and the
// fprintf stream share one file: /dev/null, or ZEB_BENCH_LOG_FILE when set
// (a regular file there grows by every line written). Run with
// --benchmark_repetitions=5 for medians.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <zeb/zeb.h>
#include "bench/ratio_reporter.h"

namespace {

FILE* g_stream = nullptr;
const char kDriveName[] = "$DATA01";
int16_t g_drive_len = 7;
int32_t g_rpm = 7212;

void BM_DriveLine_ZebLog(benchmark::State& state) {
  for (auto _ : state) {
    int16_t error = ZEB_LOG(zeb::mask({1, 2, 3, 4}), "Drive: \\a8.%\\ Effective RPM: \\d\\",
                            kDriveName, &g_drive_len, &g_rpm);
    if (error != 0) state.SkipWithError("ZEB_LOG failed");
  }
}
BENCHMARK(BM_DriveLine_ZebLog);

void fprintf_drive_line() {
  std::fprintf(g_stream, "Drive: %-8.*s Effective RPM: %d\n", static_cast<int>(g_drive_len),
               kDriveName, static_cast<int>(g_rpm));
}

void BM_DriveLine_Fprintf(benchmark::State& state) {
  for (auto _ : state) fprintf_drive_line();
  std::fflush(g_stream);
}
BENCHMARK(BM_DriveLine_Fprintf);

void BM_DriveLine_FprintfFlush(benchmark::State& state) {
  for (auto _ : state) {
    fprintf_drive_line();
    std::fflush(g_stream);
  }
}
BENCHMARK(BM_DriveLine_FprintfFlush);

}  // namespace

int main(int argc, char** argv) {
  const char* path = std::getenv("ZEB_BENCH_LOG_FILE");
  int target = open(path != nullptr ? path : "/dev/null", O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (target < 0) {
    std::perror("log_bench: cannot open the log file");
    return 1;
  }
  // The library takes its home terminal from standard output at start-up
  // (a duplicate of it), so standard output points at the file only then.
  std::fflush(stdout);
  int saved = dup(1);
  dup2(target, 1);
  int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0029);
  dup2(saved, 1);
  close(saved);
  if (error != 0) {
    std::fprintf(stderr, "log_bench: start-up failed with error %d\n", error);
    return 1;
  }
  g_stream = fdopen(target, "a");
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_DriveLine_ZebLog", "BM_DriveLine_Fprintf", "ZEB_LOG / fprintf, drive line"},
       {"BM_DriveLine_ZebLog", "BM_DriveLine_FprintfFlush",
        "ZEB_LOG / fprintf+fflush, drive line"}});
}
