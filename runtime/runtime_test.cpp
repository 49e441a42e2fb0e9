// Start-up, the log path and shut-down. Shut-down ends the process, so each
// case that reaches it runs in a child process whose standard output the
// test reads; the cases that stop before it start the library in a fresh
// host of their own instead.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include <zeb/zeb.h>
#include "platform/host/host.h"
#include "platform/testing/testing.h"

namespace {

// Runs body in a child whose standard output goes to a temporary file.
zeb::testing::ChildRun run_child(const std::function<void()>& body) {
  return zeb::testing::run_in_child([&] {
    body();
    return 99;  // body should have ended the process itself
  });
}

// What body returns (0: all held, else the number of the check that
// failed), run in a fresh host of the process's configuration: a library
// that has not started, with no parent to hold a start-up conversation with.
int run_in_host(const std::function<int()>& body) {
  zeb::platform::Configuration config = zeb::platform::host().config();
  config.set("ZEB_RECEIVE_FD", std::nullopt);
  zeb::platform::ScopedHost scope(std::move(config));
  return body();
}

int count_lines(const std::string& text, const std::string& start) {
  int count = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (text.compare(pos, start.size(), start) == 0) ++count;
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return count;
}

TEST(Startup, DefaultSegmentAndPool) {
  auto r = run_child([] {
    if (ZEB_STARTUP(zeb::mask({2}), 0, 0x0028) != 0) _exit(10);
    char* base = zeb::library_base();
    if (zeb::library_pool() != base + 24) _exit(11);
    if (zeb::library_timers() == nullptr) _exit(12);
    if (zeb::library_flags() != 0x0028) _exit(13);
    // The pool over 1000 pages: a buffer of nearly all of it fits, one as
    // large as the whole area does not.
    void* buffer = nullptr;
    if (MEM_ALLOC(zeb::library_pool(), &buffer, 2047976) != 303) _exit(14);
    if (MEM_ALLOC(zeb::library_pool(), &buffer, 2000000) != 0) _exit(15);
    ZEB_LOG(zeb::mask({1}), "started");
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "started\n");
}

TEST(Startup, FlagsAreRequired) {
  EXPECT_EQ(
      run_in_host([] {
        int16_t error = ZEB_STARTUP(zeb::mask({1}), 1000);
        // Segment, pool and timer list are in place before the check.
        if (error == 29 && zeb::library_pool() != nullptr && zeb::library_timers() != nullptr) {
          return 0;
        }
        return 1;
      }),
      0);
}

TEST(Startup, BadPagesAndMask) {
  EXPECT_EQ(run_in_host([] {
              if (ZEB_STARTUP(zeb::mask({1, 2}), 0, 0x29) != 22) return 1;
              if (ZEB_STARTUP(zeb::mask({1, 2}), 32001, 0x29) != 22) return 2;
              if (ZEB_STARTUP(zeb::mask({1, 2, 3, 4}), 100, 0x29) != 2) return 3;
              return 0;
            }),
            0);
}

TEST(Log, LinesGoToTheHomeTerminalOnly) {
  auto r = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x29);
    ZEB_LOG(zeb::mask({1}), "");
    int32_t rpm = 7200;
    int16_t length = 4;
    ZEB_LOG(zeb::mask({1, 2, 3, 4}), "Drive: \\a8.%\\ Effective RPM: \\d\\", "$S72", &length, &rpm);
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\nDrive: $S72     Effective RPM: 7200\n");
}

TEST(Log, NothingWithoutTheTerminalFlag) {
  auto r = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x00C8);
    ZEB_LOG(zeb::mask({1}), "hidden");
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(Log, ParameterCountAndLineLength) {
  auto r = run_child([] {
    if (ZEB_LOG(zeb::mask({1}), "too early") != 309) _exit(3);  // before start-up
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x29);
    int32_t v = 1;
    // Format and twelve arguments are accepted; a fourteenth is not.
    if (ZEB_LOG(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "\\d\\", &v, &v, &v, &v, &v,
                &v, &v, &v, &v, &v, &v, &v) != 0)
      _exit(1);
    if (ZEB_LOG(zeb::mask({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}), "x") == 0) _exit(2);
    std::string long_line(300, 'L');
    ZEB_LOG(zeb::mask({1}), long_line.c_str());
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1\n" + std::string(160, 'L') + "\n");
}

TEST(Log, PrefixTakesItsShareOfTheLine) {
  auto r = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0129);
    std::string long_line(300, 'L');
    ZEB_LOG(zeb::mask({1}), long_line.c_str());
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  ASSERT_FALSE(r.out.empty());
  EXPECT_EQ(r.out.size(), 161u);  // 160 bytes and the line feed
  // The prefix: date, time and the process, then the message.
  EXPECT_EQ(r.out.find_first_not_of("0123456789/: ,$"), r.out.find('L'));
}

TEST(Shutdown, CompletionCodes) {
  auto normal = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x00E9);
    ZEB_SHUTDOWN(zeb::mask({1}), 0);
  });
  EXPECT_EQ(normal.status, 0);
  EXPECT_EQ(count_lines(normal.out, "Total CPU time: "), 1);
  EXPECT_EQ(count_lines(normal.out, "Elapsed time:   "), 1);
  auto abnormal = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x00E9);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  });
  EXPECT_EQ(abnormal.status, zeb::kAbendStatus);
  EXPECT_EQ(count_lines(abnormal.out, "Total CPU time: "), 0);
}

TEST(Shutdown, ClosingLinesInOrder) {
  auto r = run_child([] {
    ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x20E9);
    ZEB_SHUTDOWN(0);
  });
  EXPECT_EQ(r.status, 0);
  size_t started = r.out.find("started.");
  size_t pool = r.out.find("Pool Alloc: ");
  size_t joins = r.out.find("     Joins: ");
  size_t cpu = r.out.find("Total CPU time: ");
  size_t elapsed = r.out.find("Elapsed time:   ");
  size_t stopped = r.out.find("Stopped.");
  EXPECT_LT(started, pool);
  EXPECT_LT(pool, joins);
  EXPECT_LT(joins, cpu);
  EXPECT_LT(cpu, elapsed);
  EXPECT_LT(elapsed, stopped);
  EXPECT_NE(stopped, std::string::npos);
}

TEST(Shutdown, WithoutStartupEndsAbnormally) {
  auto r = run_child([] { ZEB_SHUTDOWN(0); });
  EXPECT_EQ(r.status, zeb::kAbendStatus);
}

}  // namespace
