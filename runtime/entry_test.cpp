// The entry points for programs. Start-up takes the process's one library
// segment, so every case that starts the library runs in a child process and
// reports through its exit status (0: all held, else the number of the check
// that failed).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "zeb.h"

namespace {

int run_child(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int16_t start() { return ZEB_STARTUP(zeb::mask({1, 2}), 100, 0); }

int g_fired[4];
void fire(int16_t arg1, int16_t, int32_t arg3) { g_fired[arg1] += arg3; }

// Every entry point, called as a program would call it.
struct Call {
  const char* name;
  std::function<int16_t()> call;
};

std::vector<Call> every_entry_point() {
  static char buffer[64];
  static void* handle;
  static int32_t delay;
  static PoolStats stats;
  return {
      {"ZEB_MEMALLOC", [] { return ZEB_MEMALLOC(&handle, 16); }},
      {"ZEB_MEMFREE", [] { return ZEB_MEMFREE(buffer); }},
      {"ZEB_MEMSTATS", [] { return ZEB_MEMSTATS(zeb::mask({1}), &stats); }},
      {"ZEB_TIMERINSERT",
       [] {
         return ZEB_TIMERINSERT(zeb::mask({1, 2, 3}), &handle, fire, 1);
       }},
      {"ZEB_TIMERDELETE", [] { return ZEB_TIMERDELETE(0); }},
      {"ZEB_TIMERDELAY", [] { return ZEB_TIMERDELAY(&delay); }},
  };
}

TEST(EntryPoints, RefusedBeforeStartup) {
  for (const Call& c : every_entry_point()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run_child([&] { return c.call() == 309 ? 0 : 1; }), 0);
  }
}

TEST(EntryPoints, MaskBitsBeyondTheLastParameter) {
  struct Case {
    const char* name;
    std::function<int16_t()> call;
  } cases[] = {
      {"ZEB_MEMSTATS", [] { return ZEB_MEMSTATS(zeb::mask({3})); }},
      {"ZEB_TIMERINSERT",
       [] {
         return ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 8}));
       }},
      {"ZEB_TIMERDELETE", [] { return ZEB_TIMERDELETE(zeb::mask({5})); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run_child([&] {
                if (start() != 0) return 100;
                return c.call() == 2 ? 0 : 1;
              }),
              0);
  }
}

TEST(EntryPoints, PoolOfTheLibrary) {
  EXPECT_EQ(run_child([] {
              if (start() != 0) return 100;
              void* a = nullptr;
              if (ZEB_MEMALLOC(&a, 100) != 0 || a == nullptr) return 1;
              // The buffer lies in the library's pool, behind its context.
              if (static_cast<char*>(a) <= zeb::library_base()) return 2;
              if (ZEB_MEMFREE(a) != 0) return 3;
              if (ZEB_MEMFREE(a) != 304) return 4;  // already given back
              // The whole pool of 100 pages cannot be one buffer.
              if (ZEB_MEMALLOC(&a, 100 * 2048) != 303) return 5;
              return 0;
            }),
            0);
}

// The caller's mask arrives moved down one place with the pool in front:
// reset alone resets without filling, stats and reset fill and then reset.
TEST(EntryPoints, MemStatsMasks) {
  EXPECT_EQ(run_child([] {
              if (start() != 0) return 100;
              void* a = nullptr;
              ZEB_MEMALLOC(&a, 100);
              PoolStats stats{};
              stats.alloc_requests = -7;
              if (ZEB_MEMSTATS(zeb::mask({2}), &stats, 1) != 0) return 1;
              if (stats.alloc_requests != -7) return 2;  // not filled
              ZEB_MEMALLOC(&a, 100);
              if (ZEB_MEMSTATS(zeb::mask({1, 2}), &stats, 1) != 0) return 3;
              if (stats.alloc_requests != 1) return 4;  // counted since the reset
              if (ZEB_MEMSTATS(zeb::mask({1}), &stats) != 0) return 5;
              if (stats.alloc_requests != 0) return 6;
              if (ZEB_MEMSTATS(0) != 0) return 7;  // nothing asked, nothing done
              return 0;
            }),
            0);
}

TEST(EntryPoints, TimersOfTheLibrary) {
  EXPECT_EQ(run_child([] {
              if (start() != 0) return 100;
              void* t1 = nullptr;
              void* t2 = nullptr;
              // Due now, with arguments 1 and 10; a later one with 2 and 20;
              // a third one with only the procedure and ticks.
              if (ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 5, 7}), &t1, fire, 0, 0, 1, 0, 10) != 0)
                return 1;
              if (ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 5, 7}), &t2, fire, 100000, 0, 2, 0, 20) != 0)
                return 2;
              if (ZEB_TIMERINSERT(zeb::mask({2, 3}), nullptr, fire, 100000) != 0) return 3;
              if (ZEB_TIMERINSERT(zeb::mask({1, 3})) != 29) return 4;  // no procedure
              int32_t delay = 0;
              if (ZEB_TIMERDELAY(&delay) != 0) return 5;
              if (g_fired[1] != 10 || g_fired[2] != 0) return 6;
              if (delay < 99000 || delay > 100000) return 7;
              // By handle, then by selector (argument 1 = 0: the third).
              if (ZEB_TIMERDELETE(zeb::mask({1}), t2) != 0) return 8;
              if (ZEB_TIMERDELETE(zeb::mask({2}), nullptr, 0) != 0) return 9;
              if (ZEB_TIMERDELAY(&delay) != 0 || delay != -1) return 10;
              return 0;
            }),
            0);
}

}  // namespace
