// Start-up cost of the whole program: vorn with nothing to measure (one
// simulated volume of subtype 36, so only start-up, the 18 banner lines and
// shut-down run) against a C program that writes the same 18 lines with
// puts. Each iteration starts the program as a new process with standard
// output on /dev/null and waits for it; the ratio of the medians is printed.
//
// And the time from a program's start to its first line: a minimal program
// on the library (start-up, one log line, shut-down) against a C program
// that writes one line with write(2). The clock runs from the spawn to the
// first line feed read from the program's standard output (a pipe).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/ratio_reporter.h"

extern char** environ;

namespace {

// Runs path once; false when it could not be started or did not exit 0.
bool run_once(const char* path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(path), nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void run_program(benchmark::State& state, const char* path) {
  for (auto _ : state) {
    if (!run_once(path)) {
      state.SkipWithError("the program failed");
      return;
    }
  }
}

// Seconds from the spawn of path to the first line feed on its standard
// output, or a negative value when it could not be started, wrote no line
// or did not exit 0.
double first_line_once(const char* path) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
  char* argv[] = {const_cast<char*>(path), nullptr};
  pid_t pid = 0;
  auto start = std::chrono::steady_clock::now();
  int rc = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  double seconds = -1;
  char buffer[256];
  ssize_t n;
  while (rc == 0 && (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0) {
    if (seconds < 0 &&
        std::string(buffer, static_cast<size_t>(n)).find('\n') != std::string::npos) {
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
  }
  close(pipe_fds[0]);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return seconds;
}

void first_line(benchmark::State& state, const char* path) {
  for (auto _ : state) {
    double seconds = first_line_once(path);
    if (seconds < 0) {
      state.SkipWithError("the program failed or wrote no line");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void BM_LibraryFirstLine(benchmark::State& state) { first_line(state, FIRST_LINE_PATH); }
BENCHMARK(BM_LibraryFirstLine)->Unit(benchmark::kMicrosecond)->UseManualTime();

void BM_WriteFirstLine(benchmark::State& state) { first_line(state, WRITE_LINE_PATH); }
BENCHMARK(BM_WriteFirstLine)->Unit(benchmark::kMicrosecond)->UseManualTime();

void BM_VornNothingToMeasure(benchmark::State& state) { run_program(state, VORN_PATH); }
BENCHMARK(BM_VornNothingToMeasure)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_PutsEighteenLines(benchmark::State& state) { run_program(state, PUTS_PATH); }
BENCHMARK(BM_PutsEighteenLines)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  setenv("ZEB_VOLUMES", "$SKIP=sim:rpm=7200,subtype=36", 1);
  using zeb::bench::RatioReporter;
  return zeb::bench::run_with_ratios(
      argc, argv,
      {{"BM_VornNothingToMeasure", "BM_PutsEighteenLines",
        "vorn with nothing to measure / C program with puts", RatioReporter::Ratio::kRealTime},
       {"BM_LibraryFirstLine", "BM_WriteFirstLine",
        "first line: library program / C program with write", RatioReporter::Ratio::kRealTime}});
}
