// The host seam: each way the platform reaches the host goes through the
// table, a scope puts the whole table back, and the clock and the volume
// table built on it behave for tests as for programs.
#include "platform/syscalls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "platform/cpuinfo.h"
#include "platform/host.h"
#include "platform/platform.h"
#include "platform/procinfo.h"
#include "platform/testing.h"
#include "platform/volumes.h"

namespace {

using zeb::platform::FileStatus;
using zeb::platform::SyscallOverride;
using zeb::platform::Syscalls;
using zeb::platform::syscalls;

// Makes a temporary file on volume; the error, or 0 and its name.
int16_t create_temp(const std::string& volume, std::string* name = nullptr) {
  char buffer[40];
  std::memcpy(buffer, volume.data(), volume.size());
  int16_t length = static_cast<int16_t>(volume.size());
  int16_t error = FILE_CREATE_(zeb::mask({1, 2, 3}), buffer, 40, &length);
  if (error == 0 && name != nullptr) *name = std::string(buffer, static_cast<size_t>(length));
  return error;
}

int16_t open_name(const std::string& name, int16_t* filenum) {
  return FILE_OPEN_(zeb::mask({1, 2, 3}), name.data(), static_cast<int16_t>(name.size()), filenum);
}

// Every entry fails with EIO.
template <typename R, typename... A>
void fail_eio(std::function<R(A...)>& entry) {
  entry = [](A...) -> R {
    errno = EIO;
    return static_cast<R>(-1);
  };
}

// What a procedure makes of one entry of the table, replaced.
struct Case {
  const char* entry;
  std::function<void(Syscalls&)> replace;
  std::function<int64_t()> observe;  // runs with the entry replaced
  int64_t expected;
};

TEST(Seam, EveryHostCallOfTheProceduresGoesThroughTheTable) {
  zeb::testing::ScratchVolume scratch("$SCRATCH", "$SIM=sim:rpm=6000");
  const Case cases[] = {
      {"open", [](Syscalls& s) { fail_eio(s.open); }, [] { return create_temp("$SCRATCH"); }, 190},
      {"memfd_create", [](Syscalls& s) { fail_eio(s.memfd_create); },
       [] { return create_temp("$SIM"); }, 190},
      {"mkdir", [](Syscalls& s) { fail_eio(s.mkdir); },
       [] {
         char name[] = "$SCRATCH.NEWSUB.F";
         int16_t length = sizeof name - 1;
         return FILE_CREATE_(zeb::mask({1, 2, 3}), name, length, &length);
       },
       190},
      {"dup", [](Syscalls& s) { fail_eio(s.dup); },
       [] {
         int16_t f = -2;
         return open_name("$ZOUT", &f);
       },
       190},
      {"read_file", [](Syscalls& s) { fail_eio(s.read_file); },
       [] { return CPUTIMES(0, 0, nullptr, nullptr, nullptr, nullptr); }, 190},
      {"kernel_release",
       [](Syscalls& s) {
         s.kernel_release = [](std::string* r) {
           *r = "4.19.0";
           return 0;
         };
       },
       [] { return REMOTETOSVERSION(0); }, 0x0413},
      {"getuid", [](Syscalls& s) { s.getuid = [] { return 4242L; }; },
       [] {
         int16_t creator = 0;
         PROCESS_GETINFO_(zeb::mask({11}), nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                          0, nullptr, nullptr, &creator);
         return creator;
       },
       4242},
      {"readlink",
       [](Syscalls& s) {
         s.readlink = [](const char*, std::string* target) {
           *target = "/opt/x";
           return 0;
         };
       },
       [] {
         char program[16];
         int16_t length = 0;
         PROCESS_GETINFO_(zeb::mask({15, 16, 17}), nullptr, nullptr, 0, nullptr, nullptr, nullptr,
                          nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, program,
                          16, &length);
         return std::string(program, static_cast<size_t>(length)) == "/opt/x" ? 1 : 0;
       },
       1},
      {"user_names",
       [](Syscalls& s) {
         s.user_names = [](long, std::string* user, std::string* group) {
           *user = "ann";
           *group = "staff";
           return 0;
         };
       },
       [] {
         int16_t buffer[8] = {7};
         USERIDTOUSERNAME(buffer);
         return std::memcmp(buffer, "staff   ann     ", 16) == 0 ? 1 : 0;
       },
       1},
      {"monotonic_ns", [](Syscalls& s) { s.monotonic_ns = [] { return int64_t{5000000000}; }; },
       [] { return PROCESSOR_CLOCK() - PROCESSOR_CLOCK(); }, 0},
  };
  for (const Case& c : cases) {
    SyscallOverride scope;
    c.replace(syscalls());
    EXPECT_EQ(c.observe(), c.expected) << c.entry;
  }
  // Out of the scopes, the host's calls are back.
  std::string name;
  EXPECT_EQ(create_temp("$SIM", &name), 0);
  EXPECT_EQ(create_temp("$SCRATCH", &name), 0);
  EXPECT_GT(REMOTEPROCESSORSTATUS(0), 0);
}

TEST(Seam, AFileWrittenThroughTheTableIsReadBackThroughIt) {
  const Syscalls& sys = syscalls();
  int fd = sys.memfd_create("seam-test");
  ASSERT_GT(fd, 2);
  EXPECT_EQ(sys.pwrite(fd, "abcdef", 6, 10), 6);
  FileStatus status;
  ASSERT_EQ(sys.fstat(fd, &status), 0);
  EXPECT_EQ(status.size, 16);
  EXPECT_TRUE(status.is_regular());
  char back[3] = {};
  EXPECT_EQ(sys.pread(fd, back, 3, 12), 3);
  EXPECT_EQ(std::string(back, 3), "cde");
  EXPECT_EQ(sys.fallocate(fd, 0, 4096), 0);
  ASSERT_EQ(sys.fstat(fd, &status), 0);
  EXPECT_EQ(status.size, 4096);
  EXPECT_EQ(sys.close(fd), 0);
  EXPECT_EQ(sys.close(fd), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(VolumeTable, ATestInstallsATableAndGetsTheProcessesTableBack) {
  bool before = zeb::platform::find_volume("$ONE") != nullptr;
  {
    zeb::testing::ScratchVolume scratch("$ONE", "$TWO=sim:rpm=5400,ldev=9;$bad");
    const auto& table = zeb::platform::volumes();
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[0].name, "$ONE");
    EXPECT_EQ(table[0].root, scratch.root());
    EXPECT_EQ(table[0].ldev, 1);
    EXPECT_EQ(table[1].name, "$TWO");
    EXPECT_EQ(table[1].ldev, 9);
    // A file of the simulated disk lives as long as that table.
    std::string name;
    ASSERT_EQ(create_temp("$TWO", &name), 0);
    int16_t f = -2;
    ASSERT_EQ(open_name(name, &f), 0);
    EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
    zeb::platform::install_volume_table("$TWO=sim:rpm=5400");
    EXPECT_EQ(zeb::platform::find_volume("$ONE"), nullptr);
    EXPECT_EQ(open_name(name, &f), 11);
  }
  EXPECT_EQ(zeb::platform::find_volume("$ONE") != nullptr, before);
  EXPECT_EQ(zeb::platform::find_volume("$TWO"), nullptr);
}

TEST(Clock, FrozenTimeMovesOnlyWhenAdvancedOrSleptAndNeverGoesBack) {
  const int64_t start = PROCESSOR_CLOCK();
  zeb::platform::clock_freeze();
  ASSERT_TRUE(zeb::platform::clock_frozen());
  const int64_t frozen = PROCESSOR_CLOCK();
  EXPECT_GE(frozen, start);
  EXPECT_EQ(PROCESSOR_CLOCK(), frozen);
  zeb::platform::clock_advance(1500);
  EXPECT_EQ(PROCESSOR_CLOCK(), frozen + 1500);
  // A sleep returns at once with the clock at its end; one into the past
  // leaves it.
  const Syscalls& sys = syscalls();
  int64_t now = sys.monotonic_ns();
  EXPECT_EQ(sys.sleep_until_ns(now + 2000000), 0);
  EXPECT_EQ(PROCESSOR_CLOCK(), frozen + 3500);
  EXPECT_EQ(sys.sleep_until_ns(now), 0);
  EXPECT_EQ(PROCESSOR_CLOCK(), frozen + 3500);
  // An hour ahead of the host, then released: the clock goes on from there.
  zeb::platform::clock_advance(3600LL * 1000000);
  const int64_t last = PROCESSOR_CLOCK();
  zeb::platform::clock_release();
  EXPECT_FALSE(zeb::platform::clock_frozen());
  EXPECT_GE(PROCESSOR_CLOCK(), last);
  EXPECT_LT(PROCESSOR_CLOCK(), last + 60LL * 1000000);
  // A scope that ends puts back the clock it found.
  {
    SyscallOverride scope;
    zeb::platform::clock_freeze();
  }
  EXPECT_FALSE(zeb::platform::clock_frozen());
  EXPECT_GE(PROCESSOR_CLOCK(), last);
}

}  // namespace
