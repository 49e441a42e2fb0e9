// The survey's cost per pass against a plain pwrite + O_DSYNC loop on the
// same volume. Both rewrite one 512-byte block of a fresh O_TMPFILE file 60
// times; the survey goes through the library's file table and error checks.
// The volume is the directory ZEB_BENCH_DIR (default: the current directory).
// The figures of simulated disks sleeping in real time are measured here too
// (the tests run them on the virtual clock, where they are exact).
//
// The survey of 1, 10 and 100 simulated disks on the virtual clock, where a
// pass takes no real time, measures what a volume costs beyond its passes:
// the device walk that finds it, its scratch file and its measurement's own
// work. It should not grow with the number of volumes.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include <zeb/zeb.h>
#include "platform/files/files.h"
#include "platform/volumes/volumes.h"
#include "survey/survey.h"

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

// One survey of a simulated disk in real time: the figure it shows, and how
// often it came out above the disk's speed (never, by the disk's promise) or
// more than two percent below it (a late program on a loaded machine).
void BM_SimulatedDiskRealTime(benchmark::State& state) {
  const int32_t speed = static_cast<int32_t>(state.range(0));
  const std::string name = "$SIM" + std::to_string(speed / 100);
  int32_t lowest = INT32_MAX, highest = 0;
  int64_t above = 0, low = 0, runs = 0;
  for (auto _ : state) {
    int32_t rpm = 0;
    if (VORN(name.c_str(), static_cast<int16_t>(name.size()), &rpm) != 0) {
      state.SkipWithError("measurement failed");
      return;
    }
    ++runs;
    lowest = std::min(lowest, rpm);
    highest = std::max(highest, rpm);
    if (rpm > speed) ++above;
    if (rpm < speed - speed / 50) ++low;
  }
  state.counters["lowest"] = lowest;
  state.counters["highest"] = highest;
  state.counters["above_speed"] = static_cast<double>(above);
  state.counters["low_2pct"] = static_cast<double>(low);
  state.counters["runs"] = static_cast<double>(runs);
}
BENCHMARK(BM_SimulatedDiskRealTime)
    ->Arg(7200)
    ->Arg(15000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

// The program's walk over n simulated disks on the virtual clock: the next
// disk after the last, measured, until none is left. Processor time per
// iteration is the whole survey; the reporter divides it by n.
void BM_SurveyVolumes(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::string table;
  for (int i = 0; i < n; ++i) {
    table += "$SV" + std::to_string(i) + "=sim:rpm=7200,clock=virtual;";
  }
  zeb::platform::install_volume_table(table);
  for (auto _ : state) {
    int measured = 0;
    int32_t ldev = 0;
    for (;;) {
      zeb::platform::DeviceQuery query;
      query.ldev = ldev;
      query.next = true;
      query.type = zeb::kDeviceTypeDisk;
      zeb::platform::Result<zeb::platform::DeviceInfo> device = zeb::platform::find_device(query);
      if (!device.ok()) break;
      int32_t rpm = 0;
      if (VORN(device->name.data(), static_cast<int16_t>(device->name.size()), &rpm) != 0 ||
          rpm != 7200) {
        state.SkipWithError("measurement failed");
        break;
      }
      ++measured;
      ldev = device->ldev;
    }
    if (measured != n) state.SkipWithError("the walk missed a disk");
  }
  zeb::platform::restore_volume_table();
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SurveyVolumes)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Prints the survey's time per pass as a ratio of the plain loop's, and the
// processor time per simulated volume at each size.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark; without, its run.
    for (const Run& run : runs) {
      std::string name = run.run_name.function_name;
      const bool per_volume = name == "BM_SurveyVolumes";
      if (per_volume) name += "/" + run.run_name.args;
      // Real time for the passes on a device, processor time for the
      // simulated volumes (their waits are virtual).
      const double time = per_volume ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[name] = time;
        medians_.insert(name);
      } else if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
        times_[name] = time;
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
    double one = 0;
    for (int n : {1, 10, 100}) {
      auto it = times_.find("BM_SurveyVolumes/" + std::to_string(n));
      if (it == times_.end()) continue;
      const double per_volume = it->second * 1000 / n;  // ms per survey -> us per volume
      if (n == 1) one = per_volume;
      std::printf("simulated volumes: %3d, processor time per volume %.1f us", n, per_volume);
      if (one > 0 && n > 1) std::printf(" (%.2f times that of one volume)", per_volume / one);
      std::printf("\n");
    }
  }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string table = "$BENCH=" + bench_dir() + ";$SIM72=sim:rpm=7200;$SIM150=sim:rpm=15000";
  setenv("ZEB_VOLUMES", table.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
