// A console reporter for benchmarks that compare the library with what a
// caller would otherwise use. After the usual table it prints, for each
// named pair, how many times faster the library's benchmark ran: the other
// benchmark's processor time per iteration divided by the library's. With
// --benchmark_repetitions the medians are compared, so one run of the
// binary gives the ratios from the same conditions.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zeb::bench {

class SpeedRatioReporter : public benchmark::ConsoleReporter {
 public:
  struct Pair {
    std::string ours;    // benchmark name with its arguments, e.g. "BM_A/16"
    std::string theirs;  // the benchmark it is compared with
    std::string label;   // what the ratio line says
  };

  explicit SpeedRatioReporter(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[name] = run.GetAdjustedCPUTime();
        medians_[name] = true;
      } else if (run.run_type == Run::RT_Iteration && !medians_[name] && !run.error_occurred) {
        times_[name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nSpeed ratios (the other's CPU time per iteration / the library's):\n");
    for (const Pair& pair : pairs_) {
      auto ours = times_.find(pair.ours);
      auto theirs = times_.find(pair.theirs);
      if (ours == times_.end() || theirs == times_.end() || ours->second <= 0) continue;
      std::printf("%-40s %6.2fx  (%.1f vs %.1f ns)\n", pair.label.c_str(),
                  theirs->second / ours->second, ours->second, theirs->second);
    }
    std::fflush(stdout);
  }

 private:
  std::vector<Pair> pairs_;
  std::map<std::string, double> times_;
  std::map<std::string, bool> medians_;
};

// Runs the registered benchmarks with the reporter; the body of main().
inline int run_with_ratios(int argc, char** argv, std::vector<SpeedRatioReporter::Pair> pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SpeedRatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace zeb::bench
