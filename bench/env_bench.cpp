// ENV_INQUIRE item 9 (a PARAM's value by name) on a store of 10, 100 and
// 1,000 PARAMs against a std::unordered_map<std::string, std::string>
// look-up of the same names, both copying the value out. The names asked
// for are spread over the whole list, newest to oldest.
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

std::string name_of(int i) { return "PARAMETER" + std::to_string(i); }
std::string value_of(int i) { return "value-" + std::to_string(i * 7919); }

struct Store {
  std::vector<char> area = std::vector<char>(1 << 18);
  EnvRecord* env = nullptr;
  explicit Store(int params) {
    MEM_DEFINEPOOL(area.data(), static_cast<int32_t>(area.size()));
    void* buffer = nullptr;
    MEM_ALLOC(area.data(), &buffer, sizeof(EnvRecord));
    env = static_cast<EnvRecord*>(buffer);
    std::memset(env, ' ', sizeof *env);
    zeb::env_set_pool(env, area.data());
    env->flags = 0x0001;
    env->param_list = env->assign_list = zeb::kEmptyList;
    env->startup_len = 0;
    for (int i = 0; i < params; ++i) {
      std::string n = name_of(i), v = value_of(i);
      ENV_ADDPARAM(env, n.data(), static_cast<int16_t>(n.size()), v.data(),
                   static_cast<int16_t>(v.size()));
    }
  }
};

// Keys as a program passes them: text ended by a NUL, in any case.
std::vector<std::string> keys(int params) {
  std::vector<std::string> k;
  for (int i = 0; i < params; i += params < 70 ? 1 : 7) {
    k.push_back("parameter" + std::to_string(i));
  }
  return k;
}

void BM_EnvInquireParam(benchmark::State& state) {
  const int params = static_cast<int>(state.range(0));
  Store store(params);
  std::vector<std::string> ks = keys(params);
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
BENCHMARK(BM_EnvInquireParam)->Arg(10)->Arg(100)->Arg(1000);

void BM_UnorderedMapParam(benchmark::State& state) {
  const int params = static_cast<int>(state.range(0));
  std::unordered_map<std::string, std::string> map;
  for (int i = 0; i < params; ++i) map[name_of(i)] = value_of(i);
  std::vector<std::string> ks = keys(params);
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
BENCHMARK(BM_UnorderedMapParam)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace

int main(int argc, char** argv) {
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {
          {"BM_EnvInquireParam/10", "BM_UnorderedMapParam/10", "PARAM by key, 10 entries"},
          {"BM_EnvInquireParam/100", "BM_UnorderedMapParam/100", "PARAM by key, 100 entries"},
          {"BM_EnvInquireParam/1000", "BM_UnorderedMapParam/1000", "PARAM by key, 1,000 entries"},
          {"BM_EnvInquireParam/1000", "BM_EnvInquireParam/10",
           "ENV_INQUIRE time, 1,000 entries / 10 entries", RatioReporter::Ratio::kCpuTime},
      });
}
