// A console reporter for benchmarks that compare the library with what a
// caller would otherwise use. After the usual table it prints a line for
// each named pair: either how many times faster the library's benchmark ran
// (the other's processor time per iteration divided by the library's), or
// the library's time as a multiple of the other's (processor or wall-clock
// time, in the benchmarks' own unit). With --benchmark_repetitions the
// medians are compared, so one run of the binary gives the ratios from the
// same conditions.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zeb::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  enum class Ratio {
    kSpeed,     // their processor time / ours: "2.50x" under a heading
    kCpuTime,   // our processor time / theirs, on a line of its own
    kRealTime,  // our wall-clock time / theirs, on a line of its own
  };
  struct Pair {
    std::string ours;    // benchmark name with its arguments, e.g. "BM_A/16"
    std::string theirs;  // the benchmark it is compared with
    std::string label;   // what the ratio line says
    Ratio ratio = Ratio::kSpeed;
  };

  explicit RatioReporter(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !medians_[name] && !run.error_occurred)) {
        times_[name] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime(),
                        benchmark::GetTimeUnitString(run.time_unit)};
      }
      if (median) medians_[name] = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    bool heading = false;
    for (const Pair& pair : pairs_) {
      auto ours = times_.find(pair.ours);
      auto theirs = times_.find(pair.theirs);
      if (ours == times_.end() || theirs == times_.end()) continue;
      const Times& a = ours->second;
      const Times& b = theirs->second;
      if (pair.ratio == Ratio::kSpeed) {
        if (a.cpu <= 0) continue;
        if (!heading) {
          std::printf("\nSpeed ratios (the other's CPU time per iteration / the library's):\n");
          heading = true;
        }
        std::printf("%-40s %6.2fx  (%.1f vs %.1f %s)\n", pair.label.c_str(), b.cpu / a.cpu, a.cpu,
                    b.cpu, a.unit);
      } else {
        const bool real = pair.ratio == Ratio::kRealTime;
        const double x = real ? a.real : a.cpu;
        const double y = real ? b.real : b.cpu;
        if (x <= 0 || y <= 0) continue;
        std::printf("%s: %.2f (%.0f %s vs %.0f %s)\n", pair.label.c_str(), x / y, x, a.unit, y,
                    b.unit);
      }
    }
    std::fflush(stdout);
  }

 private:
  struct Times {
    double cpu = 0;
    double real = 0;
    const char* unit = "";
  };
  std::vector<Pair> pairs_;
  std::map<std::string, Times> times_;
  std::map<std::string, bool> medians_;
};

// Runs the registered benchmarks with the reporter; the body of main().
inline int run_with_ratios(int argc, char** argv, std::vector<RatioReporter::Pair> pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(std::move(pairs));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace zeb::bench
