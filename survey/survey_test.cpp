// The survey: the ordering, the trimmed mean, one measurement on simulated
// and real volumes with injected faults, and the whole program's output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/zeb.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"
#include "survey/report.h"
#include "survey/survey.h"

namespace {

using zeb::testing::lines_of;
using zeb::testing::ScratchVolume;

bool file_number_open(int16_t filenum) {
  int16_t last = 0;
  return FILE_GETINFO_(zeb::mask({1, 2}), filenum, &last) == 0;
}

TEST(Compare, SignedAndStrict) {
  int32_t a = 5, b = 5, minus = -1, zero = 0, low = INT32_MIN, high = INT32_MAX;
  EXPECT_EQ(COMPARE(&a, &b), 0);
  EXPECT_EQ(COMPARE(&minus, &zero), -1);
  EXPECT_EQ(COMPARE(&zero, &minus), 0);
  EXPECT_EQ(COMPARE(&low, &high), -1);
  EXPECT_EQ(COMPARE(&high, &low), 0);
}

// Forty middle intervals of the given value, with ten below and ten above.
std::vector<int32_t> table_with_middle(int32_t middle, int32_t low, int32_t high) {
  std::vector<int32_t> t(60, middle);
  for (int i = 0; i < 10; ++i) {
    t[i] = low;
    t[59 - i] = high;
  }
  std::shuffle(t.begin(), t.end(), std::mt19937(42));
  return t;
}

// The time of a JSON object: Unix seconds in the proleptic Gregorian
// calendar, UTC, across leap days, centuries and the epoch.
TEST(Report, UtcTimeOfUnixSeconds) {
  struct Case {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {-1, "1969-12-31T23:59:59Z"},
      {951782400, "2000-02-29T00:00:00Z"},
      {1709251199, "2024-02-29T23:59:59Z"},
      {4107542399, "2100-02-28T23:59:59Z"},
      {4107542400, "2100-03-01T00:00:00Z"},
      {253402300799, "9999-12-31T23:59:59Z"},
  };
  for (const Case& k : cases) EXPECT_EQ(zeb::utc_time(k.seconds), k.text) << k.seconds;
}

TEST(TrimmedMean, MiddleFortyGiveTheRpm) {
  auto t = table_with_middle(8333, 8333, 8333);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 7200);
  t = table_with_middle(8334, 8334, 8334);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 7199);
  t = table_with_middle(11111, 11111, 11111);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 5400);
  t = table_with_middle(16667, 16667, 16667);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 3599);
  // The table ends sorted ascending.
  EXPECT_TRUE(std::is_sorted(t.begin(), t.end()));
}

// The spread: nearest-rank percentiles of the passes as timed, the table
// in pass order left as it was.
TEST(TrimmedMean, SpreadOfThePasses) {
  std::vector<int32_t> t(60);
  for (int i = 0; i < 60; ++i) t[i] = (i + 1) * 100;
  std::shuffle(t.begin(), t.end(), std::mt19937(7));
  const std::vector<int32_t> before = t;
  zeb::PassFigures f = zeb::pass_figures(t.data());
  EXPECT_EQ(t, before);
  EXPECT_EQ(f.min, 100);
  EXPECT_EQ(f.median, 3000);  // the 30th of 60
  EXPECT_EQ(f.p90, 5400);     // the 54th
  EXPECT_EQ(f.p99, 6000);     // the 60th: with sixty passes p99 is the slowest
  EXPECT_EQ(f.max, 6000);
  EXPECT_EQ(f.trimmed_mean, 3050);  // passes 11 to 50
  EXPECT_EQ(f.rpm, 60000000 / 3050);
  EXPECT_EQ(f.rpm, zeb::survey_rpm(t.data()));
}

TEST(TrimmedMean, OutliersChangeNothing) {
  auto t = table_with_middle(8333, 0, INT32_MAX);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 7200);
  t = table_with_middle(8333, -5, 8333);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 7200);
  t = table_with_middle(8334, 1, 2000000000);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 7199);
}

TEST(TrimmedMean, NoDivisionByZeroAndNoOverflow) {
  // A volume whose writes never reach a device: the mean is below 1 us.
  auto t = table_with_middle(0, 0, 5);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 60000000);
  // Forty intervals near the 32-bit limit: the mean is still right.
  t = table_with_middle(INT32_MAX, INT32_MAX, INT32_MAX);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 0);
  t = table_with_middle(60000000, 1, INT32_MAX);
  EXPECT_EQ(zeb::survey_rpm(t.data()), 1);
}

// Simulated disks on the virtual clock, and a real directory volume.
class Measurement : public ::testing::Test {
 protected:
  ScratchVolume volume_{"$REAL",
                        "$S72=sim:rpm=7200,clock=virtual;$S54=sim:rpm=5400;"
                        "$S15=sim:rpm=15000;$S151=sim:rpm=15001;$BAD=sim:rpm=7200,fail=31"};
};

TEST_F(Measurement, SimulatedDisksGiveTheirExactSpeed) {
  ASSERT_TRUE(zeb::platform::clock_frozen());
  // A revolution of 15001 rpm is 3999.73 us: the whole-microsecond clock
  // shows 15003.
  const struct {
    const char* name;
    int32_t rpm;
  } disks[] = {{"$S72", 7200}, {"$S54", 5400}, {"$S15", 15000}, {"$S151", 15003}, {"$S72", 7200}};
  for (const auto& d : disks) {
    int32_t rpm = -1;
    ASSERT_EQ(VORN(d.name, static_cast<int16_t>(std::strlen(d.name)), &rpm), 0) << d.name;
    EXPECT_EQ(rpm, d.rpm) << d.name;
  }
  EXPECT_FALSE(file_number_open(0));
}

TEST_F(Measurement, NameLengthLimit) {
  int32_t rpm = -1;
  char name[51];
  std::memset(name, 'A', sizeof name);
  name[0] = '$';
  // 50 bytes reach the file system, which refuses the name; 51 do not.
  EXPECT_EQ(VORN(name, 50, &rpm), 13);
  EXPECT_EQ(VORN(name, 51, &rpm), 22);
  EXPECT_EQ(VORN(name, -1, &rpm), 22);
  EXPECT_EQ(VORN("$NONE", 5, &rpm), 14);
  EXPECT_EQ(rpm, -1);
}

TEST_F(Measurement, FailureInPassThirtyLeavesTheResultAlone) {
  int32_t rpm = 1234;
  // The 31st write on $BAD (pass 30) fails with an I/O error.
  EXPECT_EQ(VORN("$BAD", 4, &rpm), 190);
  EXPECT_EQ(rpm, 1234);
  EXPECT_FALSE(file_number_open(0));  // the scratch file was closed
}

struct WriteLog {
  std::vector<long long> offsets;
  std::vector<size_t> sizes;
  int fail_at = 0;
};
WriteLog g_writes;

long recording_pwrite(int fd, const void* buf, size_t count, long long offset) {
  g_writes.offsets.push_back(offset);
  g_writes.sizes.push_back(count);
  if (static_cast<int>(g_writes.offsets.size()) == g_writes.fail_at) {
    errno = EIO;
    return -1;
  }
  return zeb::platform::real_syscalls().pwrite(fd, buf, count, offset);
}

using RealVolume = Measurement;

TEST_F(RealVolume, SixtyWritesOf512BytesAtByteZero) {
  zeb::platform::SyscallOverride restore;
  g_writes = WriteLog{};
  zeb::platform::syscalls().pwrite = recording_pwrite;
  int32_t rpm = -1;
  ASSERT_EQ(VORN("$REAL", 5, &rpm), 0);
  EXPECT_GT(rpm, 0);
  ASSERT_EQ(g_writes.offsets.size(), 60u);
  EXPECT_TRUE(std::all_of(g_writes.offsets.begin(), g_writes.offsets.end(),
                          [](long long o) { return o == 0; }));
  EXPECT_TRUE(
      std::all_of(g_writes.sizes.begin(), g_writes.sizes.end(), [](size_t s) { return s == 512; }));
  EXPECT_EQ(volume_.entries(), 0);
}

TEST_F(RealVolume, InjectedFailureInPassThirty) {
  zeb::platform::SyscallOverride restore;
  g_writes = WriteLog{};
  g_writes.fail_at = 31;
  zeb::platform::syscalls().pwrite = recording_pwrite;
  int32_t rpm = 4321;
  EXPECT_EQ(VORN("$REAL", 5, &rpm), 190);
  EXPECT_EQ(rpm, 4321);
  EXPECT_EQ(g_writes.offsets.size(), 31u);  // nothing after the failed pass
  EXPECT_FALSE(file_number_open(0));
  EXPECT_EQ(volume_.entries(), 0);
}

// Runs the vorn program with a volume table and, on top of it, variables
// env: what it left, its standard error after its standard output.
zeb::testing::ChildRun run_vorn(const std::string& table, std::vector<std::string> env = {}) {
  env.push_back("ZEB_VOLUMES=" + table);
  zeb::testing::Program vorn;
  vorn.path = VORN_PATH;
  vorn.env = std::move(env);
  zeb::testing::ChildRun run = zeb::testing::run_program(vorn);
  run.out += run.err;
  return run;
}

const char* const kHelp[] = {
    "",
    "VORN reports the effective RPM of each disk on the host",
    "system.  Effective RPM is the rate at which a program can",
    "repeatedly write to the same physical sector on a disk drive.",
    "",
    "mEffective RPM may be 1/2 actual RPM on some drives such as",
    "older models.  It may be reported lower than actual on",
    "a busy drive.  In some cases it has been shown reduced on",
    "mirrored drives, such as some mirrored pairs, where it shows as 1/3",
    "the physical RPM of the drive.",
    "",
    "This information should be useful in tuning an application by",
    "moving high activity files to faster access drives.",
    "",
};

TEST(Program, BannerHelpAndOneLinePerMeasuredDisk) {
  const zeb::testing::ChildRun run = run_vorn(
      "$S72=sim:rpm=7200,clock=virtual;$S54=sim:rpm=5400;$SKIP=sim:rpm=7200,subtype=36;"
      "$BAD=sim:rpm=7200,fail=31;$SEVENC=sim:rpm=6000");
  EXPECT_EQ(run.status, zeb::kSomeVolumesFailed);  // $BAD
  auto lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 22u) << run.out;
  EXPECT_FALSE(lines[0].empty());
  for (int i = 0; i < 14; ++i) EXPECT_EQ(lines[1 + i], kHelp[i]) << "line " << i + 2;
  EXPECT_FALSE(lines[15].empty());
  EXPECT_FALSE(lines[16].empty());
  EXPECT_EQ(lines[17], "");
  // The virtual clock: exact figures however loaded the machine.
  EXPECT_EQ(lines[18], "Drive: $S72     Effective RPM: 7200");
  EXPECT_EQ(lines[19], "Drive: $S54     Effective RPM: 5400");
  EXPECT_EQ(lines[20], "Drive: $BAD     Error: 190 (device error)");
  // Seven characters: the padding blank and the format's own blank.
  EXPECT_EQ(lines[21], "Drive: $SEVENC  Effective RPM: 6000");
}

TEST(Program, WalkContinuesFromTheReturnedDeviceNumber) {
  // Sparse device numbers: a walk that counted on by itself instead of
  // taking each returned number would visit a volume twice.
  const zeb::testing::ChildRun run = run_vorn(
      "$A=sim:rpm=6000,ldev=5,clock=virtual;$SKIP=sim:rpm=6000,subtype=36,ldev=9;"
      "$B=sim:rpm=3600,ldev=20");
  EXPECT_EQ(run.status, 0);
  auto lines = lines_of(run.out);
  ASSERT_EQ(lines.size(), 20u) << run.out;
  EXPECT_EQ(lines[18], "Drive: $A       Effective RPM: 6000");
  EXPECT_EQ(lines[19], "Drive: $B       Effective RPM: 3600");
}

TEST(Program, AllDisksSkippedPrintsOnlyTheBanner) {
  const zeb::testing::ChildRun run =
      run_vorn("$A=sim:rpm=7200,subtype=36;$B=sim:rpm=7200,subtype=36");
  EXPECT_EQ(run.status, zeb::kNothingMeasured);
  EXPECT_EQ(lines_of(run.out).size(), 18u) << run.out;
}

TEST(Program, FailedStartupMeasuresNothing) {
  // No swap volume can hold the library's segment.
  const zeb::testing::ChildRun run = run_vorn("$S72=sim:rpm=7200", {"TMPDIR=/nonexistent/zeb"});
  EXPECT_EQ(run.status, zeb::kAbendStatus);
  EXPECT_EQ(
      run.out,
      "vorn: library start-up failed: cannot create a temporary file in /nonexistent/zeb: error 11 "
      "(file not in directory or record not in file; No such file or directory)\n");
}

TEST(Program, NoScratchFileSurvivesKill) {
  // Many volumes on one real directory keep the program measuring for a while.
  zeb::testing::ScratchDirectory dir;
  std::string table;
  for (char c = 'A'; c <= 'T'; ++c) table += std::string("$V") + c + "=" + dir.path() + ";";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("ZEB_VOLUMES", table.c_str(), 1);
    close(out[0]);
    dup2(out[1], 1);
    execl(VORN_PATH, VORN_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // The first drive's line means the program is past start-up and on to
  // the next drive, with most of the survey still ahead of it.
  std::string seen;
  char c;
  while (seen.find("Drive:") == std::string::npos || seen.back() != '\n') {
    if (read(out[0], &c, 1) != 1) break;
    seen += c;
  }
  kill(child, SIGKILL);
  close(out[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status));
  std::vector<std::string> left;
  ASSERT_EQ(zeb::platform::real_syscalls().list_directory(dir.path().c_str(), &left), 0);
  EXPECT_EQ(left.size(), 0u);
}

TEST(Program, LongNamesAreCutInTheLine) {
  char line[160];
  const char name[] = "$ABCDEFGHIJ";
  int16_t length = 11;
  int32_t rpm = 7200;
  int16_t n = UTIL_FORMAT(zeb::mask({1, 2, 3, 4, 5, 6}), "Drive: \\a8.%\\ Effective RPM: \\d\\",
                          line, 160, name, &length, &rpm);
  EXPECT_EQ(std::string(line, static_cast<size_t>(n)), "Drive: $ABCDEFG Effective RPM: 7200");
}

}  // namespace
