// ENV_SPAWN of a trivial child against posix_spawn and waitpid of the same
// program, with no ASSIGNs or PARAMs and with 200 (100 of each) handed on:
// to the library's child as messages, to posix_spawn's as 200 more
// environment variables. The program is this binary: started with
// ZEB_SPAWN_BENCH_CHILD set it answers its start-up conversation (from its
// library parent, or from its command line when posix_spawn started it) and
// ends. ENV_SPAWN returns when the conversation closes, while waitpid
// returns when the child has ended: BM_EnvSpawn/N/1 also waits for the
// child's end (through a pidfd), which is the like-for-like comparison;
// BM_EnvSpawn/N/0 times ENV_SPAWN alone, as a caller sees it. Beside the
// wall-clock time, child_cpu_us is the processor time of the children per
// spawn (from the children reaped meanwhile), steadier than the wall clock
// on a busy machine.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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
#include "platform/ipc/messages.h"

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

// The processor time of the children reaped so far, in microseconds.
double children_cpu_us() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
  return us(usage.ru_utime) + us(usage.ru_stime);
}

void count_children_cpu(benchmark::State& state, double before) {
  state.counters["child_cpu_us"] =
      benchmark::Counter(children_cpu_us() - before, benchmark::Counter::kAvgIterations);
}

// Waits until the process pid has ended (it is reaped by the library's
// watcher; a pid already gone has ended).
void wait_for_end(long pid) {
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return;
  pollfd ended = {fd, POLLIN, 0};
  while (poll(&ended, 1, -1) < 0) {
  }
  close(fd);
}

void BM_EnvSpawn(benchmark::State& state) {
  const int handed_on = static_cast<int>(state.range(0));
  const bool to_the_end = state.range(1) != 0;
  std::vector<char> area(1 << 18);
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
  for (int i = 0; i < handed_on / 2; ++i) {
    std::string name = "PARAMETER" + std::to_string(i), value = "value-" + std::to_string(i);
    ENV_ADDPARAM(env, name.data(), static_cast<int16_t>(name.size()), value.data(),
                 static_cast<int16_t>(value.size()));
    std::string logical = "LOGICAL" + std::to_string(i);
    std::string m(zeb::platform::kAssignMinLength, '\0');
    m[0] = static_cast<char>(0xFF);  // code -2, big-endian
    m[1] = static_cast<char>(0xFE);
    m[zeb::platform::kAssignNameLengthOffset] = static_cast<char>(logical.size());
    std::memcpy(&m[zeb::platform::kAssignNameOffset], logical.data(), logical.size());
    std::memcpy(&m[zeb::platform::kAssignFileOffset], "$VOL    SUBVOL  FILE    ", 24);
    ENV_ASSIGNPROC_(env, m.data(), static_cast<int16_t>(m.size()));
  }
  std::string program = own_program();
  const double cpu_before = children_cpu_us();
  for (auto _ : state) {
    int16_t error = 0;
    int16_t id[4] = {};
    int16_t result =
        ENV_SPAWN(zeb::mask({1, 2, 7, 8}), env, program.data(), nullptr, 0, 0, nullptr, id, &error);
    if (result != 0) {
      state.SkipWithError(("ENV_SPAWN failed: " + std::to_string(result)).c_str());
      return;
    }
    if (to_the_end) {
      // The identifier holds the host pid, big-endian, in bytes 2 to 5.
      const auto* b = reinterpret_cast<const unsigned char*>(id);
      wait_for_end((static_cast<long>(b[2]) << 24) | (b[3] << 16) | (b[4] << 8) | b[5]);
    }
  }
  count_children_cpu(state, cpu_before);
}
BENCHMARK(BM_EnvSpawn)
    ->Args({0, 0})
    ->Args({200, 0})
    ->Args({0, 1})
    ->Args({200, 1})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_PosixSpawnWaitpid(benchmark::State& state) {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  exe[n > 0 ? n : 0] = '\0';
  char* argv[] = {exe, nullptr};
  std::vector<std::string> entries;
  for (int i = 0; i < state.range(0); ++i) {
    entries.push_back("ZEB_BENCH_VARIABLE_" + std::to_string(i) + "=value-" + std::to_string(i));
  }
  std::vector<char*> envp;
  for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
  for (std::string& e : entries) envp.push_back(e.data());
  envp.push_back(nullptr);
  const double cpu_before = children_cpu_us();
  for (auto _ : state) {
    pid_t pid;
    if (posix_spawn(&pid, exe, nullptr, nullptr, argv, envp.data()) != 0) {
      state.SkipWithError("posix_spawn failed");
      return;
    }
    int status;
    waitpid(pid, &status, 0);
  }
  count_children_cpu(state, cpu_before);
}
BENCHMARK(BM_PosixSpawnWaitpid)->Arg(0)->Arg(200)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("ZEB_SPAWN_BENCH_CHILD") != nullptr) run_child();
  setenv("ZEB_SPAWN_BENCH_CHILD", "1", 1);
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_EnvSpawn/0/1", "BM_PosixSpawnWaitpid/0",
        "ENV_SPAWN to the child's end / (posix_spawn + waitpid), nothing handed on, median time",
        RatioReporter::Ratio::kRealTime},
       {"BM_EnvSpawn/200/1", "BM_PosixSpawnWaitpid/200",
        "ENV_SPAWN to the child's end / (posix_spawn + waitpid), 200 ASSIGNs and PARAMs, median "
        "time",
        RatioReporter::Ratio::kRealTime},
       {"BM_EnvSpawn/0/0", "BM_PosixSpawnWaitpid/0",
        "ENV_SPAWN to the close / (posix_spawn + waitpid), nothing handed on, median time",
        RatioReporter::Ratio::kRealTime},
       {"BM_EnvSpawn/200/0", "BM_PosixSpawnWaitpid/200",
        "ENV_SPAWN to the close / (posix_spawn + waitpid), 200 ASSIGNs and PARAMs, median time",
        RatioReporter::Ratio::kRealTime}});
}
