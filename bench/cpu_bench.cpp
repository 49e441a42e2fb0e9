// Processor load sampling against what a program would otherwise do: read
// /proc/stat itself and pick the processor with the most idle time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <zeb/cpu/cpu.h>

namespace {

// One sample of every processor: CPU_SAMPLE reads /proc/stat once per
// processor.
void BM_CpuSample(benchmark::State& state) {
  CpuTable table;
  int16_t count = 0;
  if (CPU_INIT(&table, sizeof table, 0, &count) != 0) {
    state.SkipWithError("CPU_INIT failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(CPU_SAMPLE(&table));
  state.counters["processors"] = count;
}
BENCHMARK(BM_CpuSample);

// The plain way: read /proc/stat once with the standard library and parse
// every processor's counters.
void BM_ReadProcStat(benchmark::State& state) {
  std::vector<uint64_t> counters;
  for (auto _ : state) {
    std::ifstream in("/proc/stat");
    std::string line;
    counters.clear();
    while (std::getline(in, line)) {
      if (line.compare(0, 3, "cpu") != 0 || line.size() < 4 || line[3] == ' ') continue;
      std::istringstream fields(line.substr(line.find(' ')));
      uint64_t v = 0;
      while (fields >> v) counters.push_back(v);
    }
    benchmark::DoNotOptimize(counters.data());
  }
}
BENCHMARK(BM_ReadProcStat);

// Choosing a processor does no system call and no allocation.
void BM_CpuLeastBusy(benchmark::State& state) {
  CpuTable table{};
  for (int n = 0; n < 16; ++n) {
    CpuRecord& r = table.cpu[n];
    r.up = 1;
    r.type = static_cast<int16_t>(n % 8);
    r.previous = CpuSample{-1, 0, 0, 0, 0};
    r.current = CpuSample{-1, 1000000, 500000 - n * 1000, 1000, 400000 + n * 1000};
    r.smoothed_clock = 33000;
    r.smoothed_idle = 12000 + n;
  }
  int16_t cpu = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        CPU_LEASTBUSY(zeb::mask({1, 2, 3, 4, 5}), &table, 0xFFFF, &cpu, 3, -1));
    benchmark::DoNotOptimize(cpu);
  }
}
BENCHMARK(BM_CpuLeastBusy);

}  // namespace
