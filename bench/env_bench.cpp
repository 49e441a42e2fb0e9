// ENV_INQUIRE item 9 (a PARAM's value by name) on a store of 100 PARAMs
// against a std::unordered_map<std::string, std::string> look-up of the same
// names, both copying the value out. The store is a list walked newest first,
// so the benchmark asks for names spread over the whole list.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include "bench/ratio_reporter.h"

namespace {

constexpr int kParams = 100;

std::string name_of(int i) { return "PARAMETER" + std::to_string(i); }
std::string value_of(int i) { return "value-" + std::to_string(i * 7919); }

struct Store {
  std::vector<char> area = std::vector<char>(1 << 16);
  EnvRecord* env = nullptr;
  Store() {
    MEM_DEFINEPOOL(area.data(), static_cast<int32_t>(area.size()));
    void* buffer = nullptr;
    MEM_ALLOC(area.data(), &buffer, sizeof(EnvRecord));
    env = static_cast<EnvRecord*>(buffer);
    std::memset(env, ' ', sizeof *env);
    zeb::env_set_pool(env, area.data());
    env->flags = 0x0001;
    env->param_list = env->assign_list = zeb::kEmptyList;
    env->startup_len = 0;
    for (int i = 0; i < kParams; ++i) {
      std::string n = name_of(i), v = value_of(i);
      ENV_ADDPARAM(env, n.data(), static_cast<int16_t>(n.size()), v.data(),
                   static_cast<int16_t>(v.size()));
    }
  }
};

// Keys as a program passes them: text ended by a NUL, in any case.
std::vector<std::string> keys() {
  std::vector<std::string> k;
  for (int i = 0; i < kParams; i += 7) k.push_back("parameter" + std::to_string(i));
  return k;
}

void BM_EnvInquireParam(benchmark::State& state) {
  Store store;
  std::vector<std::string> ks = keys();
  char buffer[256];
  int16_t length = 0;
  size_t i = 0;
  for (auto _ : state) {
    const std::string& key = ks[i++ % ks.size()];
    if (ENV_INQUIRE(zeb::mask({1, 2, 3, 4, 5}), store.env, ENVINFO_PARAM, key.c_str(), buffer,
                    &length) != 0) {
      state.SkipWithError("look-up failed");
      return;
    }
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_EnvInquireParam);

void BM_UnorderedMapParam(benchmark::State& state) {
  std::unordered_map<std::string, std::string> map;
  for (int i = 0; i < kParams; ++i) map[name_of(i)] = value_of(i);
  std::vector<std::string> ks = keys();
  char buffer[256];
  size_t i = 0;
  for (auto _ : state) {
    // The same work a caller's key needs: bring it to upper case, find it,
    // copy the value out with its NUL.
    std::string key = ks[i++ % ks.size()];
    for (char& c : key) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    auto it = map.find(key);
    if (it == map.end()) {
      state.SkipWithError("look-up failed");
      return;
    }
    std::memcpy(buffer, it->second.c_str(), it->second.size() + 1);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_UnorderedMapParam);

}  // namespace

int main(int argc, char** argv) {
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_EnvInquireParam", "BM_UnorderedMapParam",
        "ENV_INQUIRE item 9 / unordered_map, 100 PARAMs", RatioReporter::Ratio::kCpuTime}});
}
