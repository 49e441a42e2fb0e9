// ENV_SPAWN of a trivial child, from the start to the close of the start-up
// conversation, against posix_spawn and waitpid of the same program. The
// program is this binary: started with ZEB_SPAWN_BENCH_CHILD set it answers
// its start-up conversation (from its library parent, or from its command
// line when posix_spawn started it) and ends.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zeb/platform/receive.h>
#include <zeb/zeb.h>
#include "bench/ratio_reporter.h"

extern char** environ;

namespace {

// The child's part: answers its start-up conversation (70 to the start-up
// message, 0 to everything else) and ends after "close". Started by
// posix_spawn it has no library parent, and the platform plays the
// conversation from its command line instead.
void run_child() {
  int16_t fnum = -1;
  if (FILE_OPEN_(zeb::mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) std::_Exit(1);
  char buffer[600];
  for (;;) {
    int16_t count = 0;
    int16_t error = READUPDATE(zeb::mask({1, 2, 3, 4}), fnum, buffer, 596, &count);
    if (error != 0 && error != 6) std::_Exit(2);
    const int16_t code = static_cast<int16_t>((static_cast<unsigned char>(buffer[0]) << 8) |
                                              static_cast<unsigned char>(buffer[1]));
    REPLY(zeb::mask({5}), nullptr, 0, nullptr, 0, error == 0 && code == -1 ? 70 : 0);
    if (error == 6 && (code == -104 || code == -31)) std::_Exit(0);
  }
}

std::string own_program() {
  char name[24];
  PROCESSINFO(zeb::mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, name);
  return std::string(name, 24);
}

void BM_EnvSpawn(benchmark::State& state) {
  std::vector<char> area(1 << 16);
  MEM_DEFINEPOOL(area.data(), static_cast<int32_t>(area.size()));
  void* buffer = nullptr;
  MEM_ALLOC(area.data(), &buffer, sizeof(EnvRecord));
  EnvRecord* env = static_cast<EnvRecord*>(buffer);
  std::memset(env, ' ', sizeof *env);
  zeb::env_set_pool(env, area.data());
  env->flags = 1;
  env->in_fnum = env->out_fnum = env->term_fnum = zeb::kNotOpen;
  env->param_list = env->assign_list = zeb::kEmptyList;
  env->startup_len = 0;
  std::string program = own_program();
  for (auto _ : state) {
    int16_t error = 0;
    int16_t result = ENV_SPAWN(zeb::mask({1, 2, 8}), env, program.data(), nullptr, 0, 0, nullptr,
                               nullptr, &error);
    if (result != 0) {
      state.SkipWithError(("ENV_SPAWN failed: " + std::to_string(result)).c_str());
      return;
    }
  }
}
BENCHMARK(BM_EnvSpawn)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

void BM_PosixSpawnWaitpid(benchmark::State& state) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = '\0';
  char* argv[] = {exe, nullptr};
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, exe, nullptr, nullptr, argv, environ) != 0) {
      state.SkipWithError("posix_spawn failed");
      return;
    }
    int status;
    waitpid(pid, &status, 0);
  }
}
BENCHMARK(BM_PosixSpawnWaitpid)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("ZEB_SPAWN_BENCH_CHILD") != nullptr) run_child();
  setenv("ZEB_SPAWN_BENCH_CHILD", "1", 1);
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_EnvSpawn", "BM_PosixSpawnWaitpid", "ENV_SPAWN / (posix_spawn + waitpid), median time",
        RatioReporter::Ratio::kRealTime}});
}
