// The entry points for programs. The library segment, the start-up
// conversation and the tables start-up fills belong to the host in force, so
// each case starts the library in a fresh host of its own, as a new program
// would, and reports what it found (0: all held, else the line of the check
// that failed, ZEB_FAIL_IF). Only the case about the process's standard streams runs in a
// child process, whose standard input and output the test supplies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <zeb/zeb.h>
#include "platform/host/host.h"
#include "platform/testing/testing.h"

namespace {

using zeb::testing::ChildRun;

// Runs body in a child process, standard input reading input and standard
// output captured; the child exits with what body returns (0: all held, else
// the line of the check that failed).
ChildRun run_with_streams(const std::string& input, const std::function<int()>& body) {
  return zeb::testing::run_in_child(body, input.c_str());
}

// A variable of the configuration and its value.
struct Variable {
  const char* name;
  std::string value;
};

// What body returns, run in a fresh host of the process's configuration with
// the given variables set: a library that has not started, with no parent
// to hold a start-up conversation with.
int run_in_host(const std::function<int()>& body, const std::vector<Variable>& variables = {}) {
  zeb::platform::Configuration config = zeb::platform::host().config();
  config.set("ZEB_RECEIVE_FD", std::nullopt);
  for (const Variable& v : variables) config.set(v.name, v.value);
  zeb::platform::ScopedHost scope(std::move(config));
  return body();
}

int16_t start() { return ZEB_STARTUP(zeb::mask({1, 2}), 100, 0); }

int g_fired[4];  // what fire() was given, by its first argument
void fire(int16_t arg1, int16_t, int32_t arg3) { g_fired[arg1] += arg3; }

// Every entry point, called as a program would call it.
struct Call {
  const char* name;
  std::function<int16_t()> call;
};

std::vector<Call> every_entry_point() {
  static char buffer[64];
  static int16_t count, fnum;
  static void* handle;
  static int32_t delay;
  static PoolStats stats;
  return {
      {"ZEB_READINFILE", [] { return ZEB_READINFILE(buffer, 64, &count); }},
      {"ZEB_WRITEOUTFILE", [] { return ZEB_WRITEOUTFILE("x", 1); }},
      {"ZEB_ADDPARAM", [] { return ZEB_ADDPARAM("A", 1, "B", 1); }},
      {"ZEB_SPAWN", [] { return ZEB_SPAWN(zeb::mask({1}), "$SYSTEM SYSTEM  PROG    "); }},
      {"ZEB_ENVINFO",
       [] {
         return ZEB_ENVINFO(zeb::mask({1, 3, 4}), 7, nullptr, buffer, &count);
       }},
      {"ZEB_OPEN",
       [] {
         return ZEB_OPEN(zeb::mask({1, 2}), "=OUT", &fnum);
       }},
      {"ZEB_LOG", [] { return ZEB_LOG(zeb::mask({1}), "x"); }},
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
    EXPECT_EQ(run_in_host([&] { return c.call() == 309 ? 0 : 1; }), 0);
  }
}

TEST(EntryPoints, MaskBitsBeyondTheLastParameter) {
  struct Case {
    const char* name;
    std::function<int16_t()> call;
  } cases[] = {
      {"ZEB_SPAWN",
       [] {
         return ZEB_SPAWN(zeb::mask({1, 9}));
       }},
      {"ZEB_ENVINFO",
       [] {
         return ZEB_ENVINFO(zeb::mask({1, 5}), 0);
       }},
      {"ZEB_OPEN",
       [] {
         return ZEB_OPEN(zeb::mask({1, 2, 11}), "X", nullptr);
       }},
      {"ZEB_MEMSTATS", [] { return ZEB_MEMSTATS(zeb::mask({3})); }},
      {"ZEB_TIMERINSERT",
       [] {
         return ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 8}));
       }},
      {"ZEB_TIMERDELETE", [] { return ZEB_TIMERDELETE(zeb::mask({5})); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run_in_host([&] {
                ZEB_FAIL_IF(start() != 0);
                return c.call() == 2 ? 0 : 1;
              }),
              0);
  }
}

TEST(EntryPoints, PoolOfTheLibrary) {
  EXPECT_EQ(run_in_host([] {
              ZEB_FAIL_IF(start() != 0);
              void* a = nullptr;
              ZEB_FAIL_IF(ZEB_MEMALLOC(&a, 100) != 0 || a == nullptr);
              // The buffer lies in the library's pool, behind its context.
              ZEB_FAIL_IF(static_cast<char*>(a) <= zeb::library_base());
              ZEB_FAIL_IF(ZEB_MEMFREE(a) != 0);
              ZEB_FAIL_IF(ZEB_MEMFREE(a) != 304);  // already given back
              // The whole pool of 100 pages cannot be one buffer.
              ZEB_FAIL_IF(ZEB_MEMALLOC(&a, 100 * 2048) != 303);
              return 0;
            }),
            0);
}

// The caller's mask arrives moved down one place with the pool in front:
// reset alone resets without filling, stats and reset fill and then reset.
TEST(EntryPoints, MemStatsMasks) {
  EXPECT_EQ(run_in_host([] {
              ZEB_FAIL_IF(start() != 0);
              void* a = nullptr;
              ZEB_MEMALLOC(&a, 100);
              PoolStats stats{};
              stats.alloc_requests = -7;
              ZEB_FAIL_IF(ZEB_MEMSTATS(zeb::mask({2}), &stats, 1) != 0);
              ZEB_FAIL_IF(stats.alloc_requests != -7);  // not filled
              ZEB_MEMALLOC(&a, 100);
              ZEB_FAIL_IF(ZEB_MEMSTATS(zeb::mask({1, 2}), &stats, 1) != 0);
              ZEB_FAIL_IF(stats.alloc_requests != 1);  // counted since the reset
              ZEB_FAIL_IF(ZEB_MEMSTATS(zeb::mask({1}), &stats) != 0);
              ZEB_FAIL_IF(stats.alloc_requests != 0);
              ZEB_FAIL_IF(ZEB_MEMSTATS(0) != 0);  // nothing asked, nothing done
              return 0;
            }),
            0);
}

TEST(EntryPoints, TimersOfTheLibrary) {
  std::fill(std::begin(g_fired), std::end(g_fired), 0);
  EXPECT_EQ(
      run_in_host([] {
        ZEB_FAIL_IF(start() != 0);
        void* t1 = nullptr;
        void* t2 = nullptr;
        // Due now, with arguments 1 and 10; a later one with 2 and 20;
        // a third one with only the procedure and ticks.
        ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 5, 7}), &t1, fire, 0, 0, 1, 0, 10) != 0);
        ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 5, 7}), &t2, fire, 100000, 0, 2, 0, 20) !=
                    0);
        ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({2, 3}), nullptr, fire, 100000) != 0);
        ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({1, 3})) != 29);  // no procedure
        int32_t delay = 0;
        ZEB_FAIL_IF(ZEB_TIMERDELAY(&delay) != 0);
        ZEB_FAIL_IF(g_fired[1] != 10 || g_fired[2] != 0);
        ZEB_FAIL_IF(delay < 99000 || delay > 100000);
        // By handle, then by selector (argument 1 = 0: the third).
        ZEB_FAIL_IF(ZEB_TIMERDELETE(zeb::mask({1}), t2) != 0);
        ZEB_FAIL_IF(ZEB_TIMERDELETE(zeb::mask({2}), nullptr, 0) != 0);
        ZEB_FAIL_IF(ZEB_TIMERDELAY(&delay) != 0 || delay != -1);
        return 0;
      }),
      0);
}

// Deleting by selector: every timer whose arguments equal each one given.
// Three due timers (1, 1, 10), (1, 2, 20), (2, 2, 10); what survives fires
// into g_fired[arg1] += arg3.
TEST(EntryPoints, TimerSelectorsOfTheLibrary) {
  struct Case {
    uint32_t mask;
    int16_t arg1, arg2;
    int32_t arg3;
    int fired1, fired2;
  } cases[] = {
      {zeb::mask({2}), 1, 0, 0, 0, 10},         {zeb::mask({3}), 0, 2, 0, 10, 0},
      {zeb::mask({4}), 0, 0, 10, 20, 0},        {zeb::mask({2, 3}), 1, 2, 0, 10, 10},
      {zeb::mask({2, 3, 4}), 1, 2, 10, 30, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    std::fill(std::begin(g_fired), std::end(g_fired), 0);
    EXPECT_EQ(run_in_host([&] {
                ZEB_FAIL_IF(start() != 0);
                const uint32_t all = zeb::mask({2, 3, 5, 6, 7});
                ZEB_FAIL_IF(ZEB_TIMERINSERT(all, nullptr, fire, 0, 0, 1, 1, 10) != 0);
                ZEB_FAIL_IF(ZEB_TIMERINSERT(all, nullptr, fire, 0, 0, 1, 2, 20) != 0);
                ZEB_FAIL_IF(ZEB_TIMERINSERT(all, nullptr, fire, 0, 0, 2, 2, 10) != 0);
                ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({2}), nullptr, fire) != 29);  // no ticks
                ZEB_FAIL_IF(ZEB_TIMERINSERT(zeb::mask({2, 3, 4}), nullptr, fire, -1,
                                            zeb::kTimerPeriodic) != 22);
                ZEB_FAIL_IF(ZEB_TIMERDELETE(c.mask, nullptr, c.arg1, c.arg2, c.arg3) != 0);
                int32_t delay = 0;
                ZEB_FAIL_IF(ZEB_TIMERDELAY(&delay) != 0);
                return g_fired[1] == c.fired1 && g_fired[2] == c.fired2 ? 0 : 8;
              }),
              0);
  }
}

// ZEB_SPAWN hands its parameters on to the library's environment: a missing
// program, a start-up message with no end (refused before anything is
// created) and a program on no volume (its creation error word returned).
TEST(EntryPoints, SpawnForwardsItsParameters) {
  EXPECT_EQ(run_in_host([] {
              ZEB_FAIL_IF(start() != 0);
              const char* missing = "$NOVOL  SUB     PROG    ";
              static char endless[700];
              std::memset(endless, 'x', sizeof endless);
              struct Case {
                uint32_t mask;
                const char* program;
                const char* startup;
                int16_t result, error;
              } cases[] = {
                  {zeb::mask({2}), nullptr, nullptr, 29, -9},
                  {zeb::mask({1, 5, 7}), missing, endless, 22, -9},
                  {zeb::mask({1, 7}), missing, nullptr, 311, zeb::create_error_word(3, 14)},
                  {zeb::mask({1}), missing, nullptr, 311, -9},
              };
              for (const Case& c : cases) {
                int16_t error = -9;
                int16_t id[4];
                ZEB_FAIL_IF(ZEB_SPAWN(c.mask, c.program, nullptr, 0, 0, c.startup, id, &error) !=
                            c.result);
                ZEB_FAIL_IF(error != c.error);
              }
              return 0;
            }),
            0);
}

// The environment's entry points after a start-up from a shell (flags 0x0007:
// the intake, the IN file on standard input, the OUT file on standard output).
TEST(EntryPoints, InAndOutFiles) {
  ChildRun run = run_with_streams("first\nsecond\n", [] {
    ZEB_FAIL_IF(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0007) != 0);
    char buffer[64];
    int16_t count = -1;
    ZEB_FAIL_IF(ZEB_READINFILE(buffer, sizeof buffer, &count) != 0);
    ZEB_FAIL_IF(std::string(buffer, count) != "first");
    ZEB_FAIL_IF(ZEB_WRITEOUTFILE("one", 3) != 0 || ZEB_WRITEOUTFILE("", 0) != 0);
    ZEB_FAIL_IF(ZEB_READINFILE(buffer, sizeof buffer, &count) != 0);
    ZEB_FAIL_IF(std::string(buffer, count) != "second");
    ZEB_FAIL_IF(ZEB_READINFILE(buffer, sizeof buffer, &count) != 1);  // end of file
    ZEB_FAIL_IF(ZEB_WRITEOUTFILE(buffer, -1) == 0);
    return 0;
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "one\n\n");
  // Without flags 0x0002 and 0x0004 neither file is open.
  run = run_with_streams("", [] {
    ZEB_FAIL_IF(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0001) != 0);
    char buffer[8];
    int16_t count;
    ZEB_FAIL_IF(ZEB_READINFILE(buffer, sizeof buffer, &count) != 16);
    ZEB_FAIL_IF(ZEB_WRITEOUTFILE("x", 1) != 16);
    return 0;
  });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
}

TEST(EntryPoints, ParamsAndInquiry) {
  EXPECT_EQ(run_in_host(
                [] {
                  ZEB_FAIL_IF(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0001) != 0);
                  char value[64] = {};
                  int16_t length = 0;
                  // Item, key, buffer and length: the mask arrives one place down with
                  // the environment record in front.
                  ZEB_FAIL_IF(ZEB_ENVINFO(zeb::mask({1, 2, 3, 4}), ENVINFO_PARAM, "COLOUR", value,
                                          &length) != 0);
                  ZEB_FAIL_IF(std::string(value, length) != "BLUE");
                  ZEB_FAIL_IF(ZEB_ADDPARAM("colour", 6, "red", 3) != 0);
                  length = 0;
                  ZEB_FAIL_IF(ZEB_ENVINFO(zeb::mask({1, 2, 4}), ENVINFO_PARAM, "COLOUR", nullptr,
                                          &length) != 0);
                  ZEB_FAIL_IF(length != 3);
                  ZEB_FAIL_IF(ZEB_ENVINFO(zeb::mask({1, 2}), ENVINFO_PARAM, "SHAPE") != 11);
                  ZEB_FAIL_IF(ZEB_ENVINFO(zeb::mask({2}), 0, "X") != 29);  // no item
                  return 0;
                },
                {{"ZEB_PARAM_COLOUR", "blue"}}),
            0);
}

// The volume $DATA with one file, SUB.FILE, that holds "contents".
class EntryPointsOnData : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(volume.path("sub"));
    FILE* f = fopen(volume.path("sub/file").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("contents", f);
    fclose(f);
  }
  zeb::testing::ScratchVolume volume{"$DATA"};
};

TEST_F(EntryPointsOnData, OpenByLogicalName) {
  EXPECT_EQ(
      run_in_host(
          [] {
            ZEB_FAIL_IF(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0001) != 0);
            int16_t fnum = -1;
            ZEB_FAIL_IF(ZEB_OPEN(zeb::mask({1, 2}), "=INPUT", &fnum) != 0 || fnum < 0);
            char buffer[16];
            int16_t count = 0;
            ZEB_FAIL_IF(READX(zeb::mask({1, 2, 3, 4}), fnum, buffer, sizeof buffer, &count) != 0);
            ZEB_FAIL_IF(std::string(buffer, count) != "contents");
            // Parameter 7 (options) reaches FILE_OPEN_ as its parameter 8.
            int16_t second = -1;
            ZEB_FAIL_IF(ZEB_OPEN(zeb::mask({1, 2, 7}), "$DATA.SUB.FILE", &second) != 0 ||
                        second < 0);
            // Without the file number's reference nothing is opened.
            ZEB_FAIL_IF(ZEB_OPEN(zeb::mask({1}), "=INPUT") != 29);
            ZEB_FAIL_IF(ZEB_OPEN(zeb::mask({1, 2}), "=NOSUCH", &fnum) == 0);
            // The block buffer and the primary's handle are ignored:
            // the file opens and reads as without them.
            const int16_t handle[10] = {1, 2, 3};
            int16_t third = -1;
            ZEB_FAIL_IF(ZEB_OPEN(zeb::mask({1, 2, 8, 9, 10}), "=INPUT", &third, 0, 0, 0, 0, 0, 7,
                                 4096, handle) != 0 ||
                        third < 0);
            ZEB_FAIL_IF(READX(zeb::mask({1, 2, 3, 4}), third, buffer, sizeof buffer, &count) != 0 ||
                        std::string(buffer, count) != "contents");
            return 0;
          },
          {{"ZEB_VOLUMES", volume.entry()}, {"ZEB_DEFINE_INPUT", "$DATA.SUB.FILE"}}),
      0);
}

TEST_F(EntryPointsOnData, OpenForwardsAccessAndNowaitDepth) {
  ChildRun run = run_with_streams("", [] {
    ZEB_FAIL_IF(start() != 0);
    // Access 1 reads only, 2 writes only; an access or a nowait depth not
    // marked present is not forwarded. A disk file takes no nowait depth: the
    // open fails, leaves no file number and keeps 2 as the error of file -1.
    struct Case {
      uint32_t mask;
      int16_t access, nowait, opened;
      bool reads, writes;
    } cases[] = {
        {zeb::mask({1, 2, 3}), 1, 0, 0, true, false},
        {zeb::mask({1, 2, 3}), 2, 0, 0, false, true},
        {zeb::mask({1, 2}), 1, 1, 0, true, true},
        {zeb::mask({1, 2, 5}), 0, 1, 2, false, false},
    };
    for (const Case& c : cases) {
      int16_t fnum = 7;
      ZEB_FAIL_IF(ZEB_OPEN(c.mask, "$DATA.SUB.FILE", &fnum, c.access, 0, c.nowait) != c.opened);
      int16_t last = 0;
      ZEB_FAIL_IF(FILEINFO(zeb::mask({1, 2}), -1, &last) != 0 || last != c.opened);
      if (c.opened != 0) {
        ZEB_FAIL_IF(fnum != -2);
        continue;
      }
      char buffer[8];
      int16_t count = 0;
      const bool reads = READX(zeb::mask({1, 2, 3, 4}), fnum, buffer, 8, &count) == 0;
      const bool writes = WRITEX(zeb::mask({1, 2, 3}), fnum, "x", 1) == 0;
      ZEB_FAIL_IF(reads != c.reads || writes != c.writes);
      ZEB_FAIL_IF(FILE_CLOSE_(zeb::mask({1}), fnum) != 0);
    }
    return 0;
  });
  EXPECT_EQ(run.status, 0);
}

}  // namespace
