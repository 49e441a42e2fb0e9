// The host seam: each way the platform reaches the host goes through the
// table, a scope puts the whole table back, and the clock and the volume
// table built on it behave for tests as for programs.
#include "platform/host/syscalls.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/segment.h>
#include <zeb/platform/this_process.h>
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

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
      {"fallocate", [](Syscalls& s) { fail_eio(s.fallocate); },
       [] {
         char swap[24];
         std::memcpy(swap, "$SCRATCH                ", 24);
         int16_t error = CREATE(zeb::mask({1}), swap);
         if (error == 0) error = ALLOCATESEGMENT(zeb::mask({1, 2, 3}), 7, 8192, swap);
         DEALLOCATESEGMENT(zeb::mask({1}), 7);
         return error;
       },
       190},
      {"read_system_file", [](Syscalls& s) { fail_eio(s.read_system_file); },
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
      {"rename", [](Syscalls& s) { fail_eio(s.rename); },
       [&scratch] {
         std::string problem;
         return zeb::platform::keyfile_write(scratch.path("keys"), 1, {"a1", "b2"}, &problem);
       },
       190},
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

// Every entry of the table, by name. The size check below fails when an
// entry is added to the table and not here.
// clang-format off
#define ZEB_SEAM_ENTRIES(X)                                                                   \
  X(open) X(openat) X(close) X(read) X(write) X(pread) X(pwrite) X(fstat) X(ftruncate)      \
  X(fsync) X(fallocate) X(dup) X(memfd_create) X(mmap) X(munmap) X(madvise)                 \
  X(file_size_limit) X(stat) X(lstat) X(access) X(mkdir) X(rmdir) X(unlink) X(unlinkat)     \
  X(rename) X(link_open_file) X(readlink) X(readlinkat) X(realpath) X(list_directory) X(read_system_file) X(kernel_release)        \
  X(clock_ticks) X(getpid) X(getuid) X(geteuid) X(user_names) X(spawn) X(pidfd_open)        \
  X(wait_exit) X(kill_child) X(socketpair) X(fgetxattr) X(fsetxattr) X(fchmod) X(unix_socket)             \
  X(bind_unix) X(listen) X(accept) X(connect_unix) X(send) X(recv) X(start_thread) X(send_records) X(receive_records) X(yield_processor) X(connect_unix_waiting) X(epoll_create) X(epoll_ctl) X(epoll_wait) X(peer_credentials)      \
  X(socket_kind) X(try_lock) X(lock) X(socket_listening) X(set_cloexec) X(chmod) X(getcwd) X(getppid) X(exit_process) X(hold_sigpipe)   \
  X(release_sigpipe) X(environment) X(monotonic_ns) X(realtime_ns) X(process_time_ns)       \
  X(local_offset_s) X(sleep_until_ns) X(poll) X(tcgetattr) X(tcsetattr) X(openpty)          \
  X(spawn_on_terminal) X(waitpid)
// clang-format on

#define ZEB_COUNT_ENTRY(name) +1
static_assert(sizeof(Syscalls) ==
                  (0 ZEB_SEAM_ENTRIES(ZEB_COUNT_ENTRY)) * sizeof(std::function<int()>),
              "an entry of the table is missing from ZEB_SEAM_ENTRIES");

// One entry: set in the host's table, emptied inside an override scope,
// and back (the host's own call) when the scope ends.
struct EntryCheck {
  const char* name;
  std::function<bool()> real_set;
  std::function<void()> clear_live;
  std::function<bool()> live_set;
  std::function<bool()> live_is_real;  // same kind of callable as the host's
};

template <typename F>
EntryCheck entry_check(const char* name, F Syscalls::*entry) {
  using zeb::platform::real_syscalls;
  return {name, [entry] { return static_cast<bool>(real_syscalls().*entry); },
          [entry] { syscalls().*entry = nullptr; },
          [entry] { return static_cast<bool>(syscalls().*entry); },
          [entry] {
            return (syscalls().*entry).target_type() == (real_syscalls().*entry).target_type();
          }};
}

TEST(Seam, EveryEntryIsSetAndAScopePutsEachBack) {
#define ZEB_ENTRY_CHECK(name) entry_check(#name, &Syscalls::name),
  const EntryCheck checks[] = {ZEB_SEAM_ENTRIES(ZEB_ENTRY_CHECK)};
#undef ZEB_ENTRY_CHECK
  for (const EntryCheck& c : checks) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.real_set());
    EXPECT_TRUE(c.live_set());
    {
      SyscallOverride scope;
      c.clear_live();
      EXPECT_FALSE(c.live_set());
    }
    EXPECT_TRUE(c.live_set());
    EXPECT_TRUE(c.live_is_real());
  }
}

// A write to a pipe nobody reads fails with EPIPE and leaves no SIGPIPE
// behind, whether SIGPIPE was blocked before or not; one that was pending
// before stays for the program.
TEST(Seam, AWriteToAClosedPipeRaisesNoSignal) {
  struct PipeCase {
    bool blocked_before;
    bool pending_before;
  };
  for (PipeCase c : {PipeCase{false, false}, PipeCase{true, false}, PipeCase{true, true}}) {
    SCOPED_TRACE(::testing::Message()
                 << "blocked " << c.blocked_before << ", pending " << c.pending_before);
    sigset_t pipe_only, old;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    ASSERT_EQ(pthread_sigmask(c.blocked_before ? SIG_BLOCK : SIG_UNBLOCK, &pipe_only, &old), 0);
    if (c.pending_before) {
      ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
    }
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(zeb::platform::write_all_no_sigpipe(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
    sigset_t mask, pending;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &mask), 0);
    EXPECT_EQ(sigismember(&mask, SIGPIPE) == 1, c.blocked_before);
    ASSERT_EQ(sigpending(&pending), 0);
    EXPECT_EQ(sigismember(&pending, SIGPIPE) == 1, c.pending_before);
    if (c.pending_before) {
      struct timespec zero = {0, 0};
      EXPECT_EQ(sigtimedwait(&pipe_only, nullptr, &zero), SIGPIPE);
    }
    ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &old, nullptr), 0);
  }
}

// The write between holding and releasing SIGPIPE is the table's: a write
// that fails with EPIPE is released with the signal discarded, errno kept.
TEST(Seam, TheSigpipeEntriesFrameTheTablesWrite) {
  SyscallOverride scope;
  std::vector<std::string> calls;
  syscalls().hold_sigpipe = [&calls](Syscalls::SigpipeHold* hold) {
    calls.push_back("hold");
    hold->was_blocked = true;  // nothing to undo
  };
  syscalls().write = [&calls](int, const void*, size_t) -> long {
    calls.push_back("write");
    errno = EPIPE;
    return -1;
  };
  syscalls().release_sigpipe = [&calls](const Syscalls::SigpipeHold& hold, bool discard) {
    calls.push_back(std::string("release ") + (hold.was_blocked ? "blocked " : "") +
                    (discard ? "discard" : "keep"));
  };
  EXPECT_EQ(zeb::platform::write_all_no_sigpipe(99, "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  EXPECT_EQ(calls, (std::vector<std::string>{"hold", "write", "release blocked discard"}));
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

// A descriptor of the library: above the standard ones, closed on exec.
bool library_descriptor(int fd) { return fd > 2 && (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

// The checks of a child whose standard input and output are closed; the
// exit status names the first that failed.
int files_of_a_process_without_stdin_and_stdout(const std::string& root) {
  std::string name;
  int16_t f = -2;
  if (create_temp("$SCRATCH", &name) != 0 || open_name(name, &f) != 0) return 10;
  if (!library_descriptor(zeb::platform::host_fd(f))) return 11;
  if (create_temp("$SIM", &name) != 0 || open_name(name, &f) != 0) return 12;
  if (!library_descriptor(zeb::platform::host_fd(f))) return 13;
  char named[] = "$SCRATCH.SUB.NAMED";
  int16_t length = sizeof named - 1;
  if (FILE_CREATE_(zeb::mask({1, 2, 3}), named, length, &length) != 0) return 14;
  if (open_name(named, &f) != 0 || !library_descriptor(zeb::platform::host_fd(f))) return 15;
  char swap[24];
  std::memcpy(swap, "$SCRATCH                ", 24);
  if (CREATE(zeb::mask({1}), swap) != 0) return 16;
  zeb::platform::Result<int> opened = zeb::platform::open_internal_for_mapping(swap);
  int mapped = opened.ok() ? *opened : -1;
  if (!library_descriptor(mapped)) return 17;
  if (open_name("$ZERR", &f) != 0 || !library_descriptor(zeb::platform::host_fd(f))) return 18;
  if (open_name("$ZOUT", &f) != 16) return 19;  // there is no standard output to stand for
  std::string text;
  std::vector<std::string> names;
  if (syscalls().read_system_file("/proc/self/stat", &text) != 0) return 20;
  if (syscalls().list_directory(root.c_str(), &names) != 0) return 21;
  int memfd = syscalls().memfd_create("check");
  if (!library_descriptor(memfd)) return 22;
  // Whatever the library opened, 0 and 1 are still closed.
  if (fcntl(0, F_GETFD) != -1 || fcntl(1, F_GETFD) != -1) return 23;
  return 0;
}

TEST(Descriptors, TheLibraryNeverTakesAClosedStandardDescriptor) {
  zeb::testing::ScratchVolume scratch("$SCRATCH", "$SIM=sim:rpm=6000");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(0);
    close(1);
    _exit(files_of_a_process_without_stdin_and_stdout(scratch.root()));
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A sleep that fails for another reason than an interruption is not tried
// again: the disk reads the clock for the rest of its wait, which ends.
TEST(SimulatedDisk, AFailedSleepIsNotRetried) {
  zeb::testing::ScratchVolume scratch("$SCRATCH", "$SIM=sim:rpm=6000");
  std::string name;
  int16_t f = -2;
  ASSERT_EQ(create_temp("$SIM", &name), 0);
  ASSERT_EQ(open_name(name, &f), 0);
  SyscallOverride scope;
  int64_t now = 60LL * 1000000000;  // block 0 under the head
  int sleeps = 0;
  syscalls().monotonic_ns = [&now] { return now += 1000; };
  syscalls().sleep_until_ns = [&sleeps](int64_t) {
    ++sleeps;
    errno = EINVAL;
    return -1;
  };
  char block[512] = {};
  ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  EXPECT_EQ(sleeps, 1);
  // The next passage of block 0 is a revolution (10 ms) on.
  EXPECT_GE(now, 60LL * 1000000000 + 10000000);
  EXPECT_LT(now, 60LL * 1000000000 + 10010000);
  EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
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

// The clock is the host's: a test's host starts with a clock that runs, and
// one it froze is put back when it goes, leaving the frozen clock of the
// host before it as it was.
TEST(Clock, EachHostHasAClockOfItsOwn) {
  namespace zp = zeb::platform;
  zp::clock_freeze();
  const int64_t outer = PROCESSOR_CLOCK();
  for (int64_t advance : {int64_t{0}, int64_t{5000000}}) {
    zp::ScopedHost scope(zp::host().config());
    EXPECT_FALSE(zp::clock_frozen());
    zp::clock_freeze();
    const int64_t inner = PROCESSOR_CLOCK();
    zp::clock_advance(advance);
    EXPECT_EQ(PROCESSOR_CLOCK(), inner + advance);
  }
  EXPECT_TRUE(zp::clock_frozen());
  EXPECT_EQ(PROCESSOR_CLOCK(), outer);
  zp::clock_advance(7);
  EXPECT_EQ(PROCESSOR_CLOCK(), outer + 7);
  zp::clock_release();
  EXPECT_FALSE(zp::clock_frozen());
}

}  // namespace
