// The survey's cost per pass against a plain pwrite + O_DSYNC loop on the
// same volume. Both rewrite one 512-byte block of a fresh O_TMPFILE file 60
// times; the survey goes through the library's file table and error checks.
// The volume is the directory ZEB_BENCH_DIR (default: the current directory).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "zeb.h"

namespace {

std::string bench_dir() {
  const char* dir = std::getenv("ZEB_BENCH_DIR");
  return dir != nullptr ? dir : ".";
}

void BM_SurveyMeasurement(benchmark::State& state) {
  for (auto _ : state) {
    int32_t rpm = 0;
    if (VORN("$BENCH", 6, &rpm) != 0) {
      state.SkipWithError("measurement failed");
      return;
    }
    benchmark::DoNotOptimize(rpm);
  }
  state.SetItemsProcessed(state.iterations() * 60);
}
BENCHMARK(BM_SurveyMeasurement)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainDsyncRewrites(benchmark::State& state) {
  char block[512];
  std::memset(block, 'X', sizeof block);
  std::string dir = bench_dir();
  for (auto _ : state) {
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_DSYNC, 0600);
    if (fd < 0) {
      state.SkipWithError("O_TMPFILE refused");
      return;
    }
    for (int pass = 0; pass < 60; ++pass) {
      if (pwrite(fd, block, sizeof block, 0) != 512) state.SkipWithError("write failed");
    }
    close(fd);
  }
  state.SetItemsProcessed(state.iterations() * 60);
}
BENCHMARK(BM_PlainDsyncRewrites)->Unit(benchmark::kMillisecond)->UseRealTime();

// Prints the survey's time per pass as a ratio of the plain loop's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark; without, its run.
    for (const Run& run : runs) {
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[name] = run.GetAdjustedRealTime();
        medians_.insert(name);
      } else if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
        times_[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    double survey = times_["BM_SurveyMeasurement"], plain = times_["BM_PlainDsyncRewrites"];
    if (survey > 0 && plain > 0) {
      std::printf("survey / plain O_DSYNC loop, time per pass: %.3f (%.1f us vs %.1f us)\n",
                  survey / plain, survey * 1000 / 60, plain * 1000 / 60);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string table = "$BENCH=" + bench_dir();
  setenv("ZEB_VOLUMES", table.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
