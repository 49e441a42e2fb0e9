// File-system procedures on real directory volumes and simulated disks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

// Every test of this binary runs on one device table: a scratch directory
// volume and simulated disks, set up before the first test and removed after
// the last.
zeb::testing::ScratchVolume* g_volume = nullptr;

class FsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_volume = new zeb::testing::ScratchVolume(
        "$DIRA", "$SIM=sim:rpm=6000;$RO=sim:rpm=7200,subtype=36;$FAIL=sim:rpm=6000,fail=3");
  }
  void TearDown() override {
    delete g_volume;
    g_volume = nullptr;
  }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new FsEnvironment);

const std::string& dir_a() { return g_volume->root(); }

int16_t create_temp(const char* volume, std::string* name) {
  char buffer[50];
  int16_t length = static_cast<int16_t>(std::strlen(volume));
  std::memcpy(buffer, volume, static_cast<size_t>(length));
  int16_t error =
      FILE_CREATE_(zeb::mask({1, 2, 3, 11}), buffer, 50, &length, 0, 0, 0, 0, 0, 0, 0, 512);
  if (error == 0) *name = std::string(buffer, static_cast<size_t>(length));
  return error;
}

int16_t open_name(const std::string& name, int16_t* fnum) {
  return FILE_OPEN_(zeb::mask({1, 2, 3}), name.data(), static_cast<int16_t>(name.size()), fnum);
}

TEST(DeviceWalk, VisitsTheTableInOrderAndEnds) {
  std::vector<std::string> names;
  std::vector<int16_t> subtypes;
  int32_t ldev = 0;
  for (;;) {
    DeviceLogicalInfo info{};
    int16_t info_len = 0, name_len = 0;
    char name[10];
    int16_t error = DEVICE_GETINFOBYLDEV_(zeb::mask({1, 2, 3, 4, 12, 13, 15, 16, 17}), ldev, &info,
                                          32, &info_len, nullptr, 0, nullptr, nullptr, 0, nullptr,
                                          0, 3, 3, 0, name, 10, &name_len);
    if (error != 0) {
      EXPECT_EQ(error, 19);
      break;
    }
    EXPECT_EQ(info_len, 32);
    EXPECT_GT(info.ldev, ldev);
    EXPECT_EQ(info.devtype, 3);
    names.emplace_back(name, static_cast<size_t>(name_len));
    subtypes.push_back(info.subtype);
    ldev = info.ldev;
  }
  EXPECT_EQ(names, (std::vector<std::string>{"$DIRA", "$SIM", "$RO", "$FAIL"}));
  EXPECT_EQ(subtypes, (std::vector<int16_t>{0, 0, 36, 0}));
}

TEST(DeviceWalk, ExactLookupAndShortBuffers) {
  DeviceLogicalInfo info{};
  int16_t info_len = 0;
  // Options 0: the device with exactly this number.
  ASSERT_EQ(DEVICE_GETINFOBYLDEV_(zeb::mask({1, 2, 3, 4}), 2, &info, 32, &info_len), 0);
  EXPECT_EQ(info.ldev, 2);
  EXPECT_EQ(DEVICE_GETINFOBYLDEV_(zeb::mask({1, 2, 3, 4}), 99, &info, 32, &info_len), 19);
  // A short record buffer gets the first bytes only.
  char small[4] = {};
  ASSERT_EQ(DEVICE_GETINFOBYLDEV_(zeb::mask({1, 2, 3, 4}), 1, small, 4, &info_len), 0);
  EXPECT_EQ(info_len, 4);
  // A name buffer that cannot hold the name is refused.
  char name[3];
  int16_t name_len = 0;
  EXPECT_EQ(DEVICE_GETINFOBYLDEV_(zeb::mask({1, 15, 16, 17}), 1, nullptr, 0, nullptr, nullptr, 0,
                                  nullptr, nullptr, 0, nullptr, 0, 0, 0, 0, name, 3, &name_len),
            22);
  EXPECT_EQ(DEVICE_GETINFOBYLDEV_(0x00000000), 29);
}

TEST(ScratchFile, IsInvisibleAndDiscardedOnLastClose) {
  std::string name;
  ASSERT_EQ(create_temp("$DIRA", &name), 0);
  EXPECT_EQ(name.substr(0, 7), "$DIRA.#");
  EXPECT_EQ(name.size(), 14u);  // "$DIRA.#nnnnnnn"
  // An O_TMPFILE file has no directory entry at any moment.
  EXPECT_EQ(g_volume->entries(), 0);
  int16_t f1 = -2, f2 = -2;
  ASSERT_EQ(open_name(name, &f1), 0);
  ASSERT_EQ(open_name(name, &f2), 0);
  ASSERT_EQ(POSITION(f1, 0), 0);
  int16_t written = 0;
  ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3, 4}), f1, "hello", 5, &written), 0);
  EXPECT_EQ(written, 5);
  // Both opens see the same file; each has its own position.
  char back[8] = {};
  int16_t count = 0;
  ASSERT_EQ(READX(zeb::mask({1, 2, 3, 4}), f2, back, 8, &count), 0);
  EXPECT_EQ(std::string(back, static_cast<size_t>(count)), "hello");
  EXPECT_EQ(READX(zeb::mask({1, 2, 3, 4}), f2, back, 8, &count), 1);  // end of file
  ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), f1), 0);
  ASSERT_EQ(open_name(name, &f1), 0);  // still open through f2
  ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), f1), 0);
  ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), f2), 0);
  // The last close discarded it: the name is gone.
  EXPECT_EQ(open_name(name, &f1), 11);
  int16_t last = 0;
  ASSERT_EQ(FILE_GETINFO_(zeb::mask({1, 2}), -1, &last), 0);
  EXPECT_EQ(last, 11);
  EXPECT_EQ(g_volume->entries(), 0);
}

TEST(ScratchFile, CreationErrors) {
  std::string name;
  EXPECT_EQ(create_temp("$NOSUCH", &name), 14);
  EXPECT_EQ(create_temp("DIRA", &name), 13);
  EXPECT_EQ(create_temp("$DIRA.#0000001", &name), 13);
  char buffer[50] = "$DIRA";
  int16_t length = 5;
  // The returned name must fit the caller's buffer.
  EXPECT_EQ(FILE_CREATE_(zeb::mask({1, 2, 3}), buffer, 6, &length), 22);
}

TEST(WrittenData, IsDurableAndPositioned) {
  std::string name;
  ASSERT_EQ(create_temp("$DIRA", &name), 0);
  int16_t f = -2;
  ASSERT_EQ(open_name(name, &f), 0);
  char block[512];
  std::memset(block, 'X', sizeof block);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(POSITION(f, 0), 0);
    ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  }
  int32_t capacity = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({1}) | zeb::param_bit(18), f, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, &capacity),
            0);
  EXPECT_EQ(capacity, 512);  // three rewrites of one block
  int fd = zeb::platform::host_fd(f);
  ASSERT_GE(fd, 0);
  EXPECT_NE(fcntl(fd, F_GETFL) & O_DSYNC, 0);
  char internal[24];
  int16_t devtype = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({1, 3, 5}), f, nullptr, internal, nullptr, &devtype), 0);
  char external[32];
  int16_t n = FNAMECOLLAPSE(internal, external);
  EXPECT_EQ(std::string(external, static_cast<size_t>(n)), name);
  EXPECT_EQ(devtype >> 6, 3);
  EXPECT_EQ(POSITION(f, -5), 22);
  EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
  EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 16);
  EXPECT_EQ(POSITION(f, 0), 16);
}

TEST(FaultSeam, InjectedWriteFailureBecomesTheLastError) {
  std::string name;
  ASSERT_EQ(create_temp("$DIRA", &name), 0);
  int16_t f = -2;
  ASSERT_EQ(open_name(name, &f), 0);
  zeb::platform::SyscallOverride restore;
  zeb::platform::syscalls().pwrite = [](int, const void*, size_t, long long) -> long {
    errno = ENOSPC;
    return -1;
  };
  char byte = 'X';
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, &byte, 1), 43);
  int16_t last = 0;
  ASSERT_EQ(FILE_GETINFO_(zeb::mask({1, 2}), f, &last), 0);
  EXPECT_EQ(last, 43);
  EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
}

TEST(ErrnoTable, MapsToFileSystemErrors) {
  using zeb::platform::error_from_errno;
  EXPECT_EQ(error_from_errno(0), 0);
  EXPECT_EQ(error_from_errno(ENOENT), 11);
  EXPECT_EQ(error_from_errno(EEXIST), 10);
  EXPECT_EQ(error_from_errno(EACCES), 48);
  EXPECT_EQ(error_from_errno(ENOSPC), 43);
  EXPECT_EQ(error_from_errno(EIO), 190);
  EXPECT_EQ(error_from_errno(EROFS), 101);
  EXPECT_EQ(error_from_errno(12345), 53);
}

// A new temporary file open on a simulated volume, with the process on the
// virtual clock for the length of the test.
class SimulatedDisk : public ::testing::Test {
 protected:
  void SetUp() override { zeb::platform::clock_freeze(); }
  void TearDown() override {
    if (f >= 0) {
      EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
    }
    zeb::platform::clock_release();
  }
  void open_temp(const char* volume) {
    std::string name;
    ASSERT_EQ(create_temp(volume, &name), 0);
    ASSERT_EQ(open_name(name, &f), 0);
  }
  int16_t f = -1;
};

TEST_F(SimulatedDisk, RewritesTakeOneRevolutionEach) {
  ASSERT_NO_FATAL_FAILURE(open_temp("$SIM"));
  char block[512] = {};
  ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  int64_t start = PROCESSOR_CLOCK();
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(POSITION(f, 0), 0);
    ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  }
  // 6000 rpm: 10 ms a revolution.
  EXPECT_EQ(PROCESSOR_CLOCK() - start, 100000);
}

// A program that reads its clock after each write, however late, never
// times a pass shorter than a revolution (6000 rpm: 10 ms): a rewrite waits a
// revolution from the moment it is asked for.
TEST_F(SimulatedDisk, NoPassTimedAfterItsWriteIsShorterThanARevolution) {
  ASSERT_NO_FATAL_FAILURE(open_temp("$SIM"));
  char block[512] = {};
  int64_t previous = PROCESSOR_CLOCK();
  // How late the program reads its clock after each write, in microseconds.
  const int64_t late[] = {0, 9000, 0, 0, 4000, 1, 9999, 0, 2500, 0};
  const int64_t expected[] = {10000, 19000, 10000, 10000, 14000, 10001, 19999, 10000, 12500, 10000};
  for (size_t i = 0; i < std::size(late); ++i) {
    ASSERT_EQ(POSITION(f, 0), 0);
    ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
    zeb::platform::clock_advance(late[i]);
    int64_t now = PROCESSOR_CLOCK();
    EXPECT_EQ(now - previous, expected[i]) << "pass " << i;
    previous = now;
  }
}

TEST_F(SimulatedDisk, TheConfiguredWriteFails) {
  ASSERT_NO_FATAL_FAILURE(open_temp("$FAIL"));
  char block[512] = {};
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 190);
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, block, 512), 0);
}

TEST(NamedFiles, CreateOpenAndDescribeByName) {
  char internal[24];
  ASSERT_EQ(FNAMEEXPAND("$dira.sub.data1", 15, internal), 15);
  EXPECT_EQ(std::string(internal, 24), "$DIRA   SUB     DATA1   ");
  ASSERT_EQ(CREATE(zeb::mask({1, 2, 4, 11}), internal, 4, 0, 4, 0, 0, 0, 0, 0, 0, 16), 0);
  EXPECT_EQ(CREATE(zeb::mask({1, 2, 4, 11}), internal, 4, 0, 4, 0, 0, 0, 0, 0, 0, 16), 10);
  int16_t last = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({1, 2}), -1, &last), 0);
  EXPECT_EQ(last, 10);
  struct stat st;
  ASSERT_EQ(stat((dir_a() + "/sub/data1").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  int16_t error = -1, devtype = 0;
  int32_t capacity = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({2, 3, 5, 18}), 0, &error, internal, nullptr, &devtype, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &capacity),
            0);
  EXPECT_EQ(error, 0);
  EXPECT_EQ((devtype >> 6) & 0x3F, 3);
  EXPECT_EQ(capacity, 64 * 2048);
  char missing[24];
  ASSERT_EQ(FNAMEEXPAND("$DIRA.SUB.NOFILE", 16, missing), 16);
  EXPECT_EQ(FILEINFO(zeb::mask({2, 3, 5, 18}), 0, &error, missing), 11);
  EXPECT_EQ(error, 11);
  unlink((dir_a() + "/sub/data1").c_str());
  rmdir((dir_a() + "/sub").c_str());
}

TEST(NamedFiles, TemporaryByCreateWritesItsNameBack) {
  char internal[24];
  std::memset(internal, ' ', 24);
  std::memcpy(internal, "$SIM", 4);
  ASSERT_EQ(CREATE(zeb::mask({1, 2, 4, 11}), internal, 8, 0, 8, 0, 0, 0, 0, 0, 0, 63), 0);
  EXPECT_EQ(internal[8], '#');
  int32_t capacity = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({3, 18}), 0, nullptr, internal, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &capacity),
            0);
  EXPECT_EQ(capacity, 8 * 63 * 2048);
  zeb::platform::Result<int> opened = zeb::platform::open_internal_for_mapping(internal);
  int fd = opened.ok() ? *opened : -1;
  ASSERT_GE(fd, 0);
  close(fd);
}

TEST(Names, ConvertAndDecompose) {
  char internal[24];
  const char defaults[] = "$DATA   SUBV    ";
  ASSERT_GT(FNAMEEXPAND("file1", 5, internal, defaults), 0);
  EXPECT_EQ(std::string(internal, 24), "$DATA   SUBV    FILE1   ");
  EXPECT_EQ(FNAMEEXPAND("bad..name", 9, internal), 0);
  EXPECT_EQ(FNAMEEXPAND("$1BAD", 5, internal), 0);
  EXPECT_EQ(FNAMEEXPAND("$TOOLONGVOL", 11, internal), 0);
  char external[32];
  int16_t n = FNAMECOLLAPSE("$ZHOME                  ", external);
  EXPECT_EQ(std::string(external, static_cast<size_t>(n)), "$ZHOME");
  n = FNAMECOLLAPSE("                FILE1   ", external);
  EXPECT_EQ(std::string(external, static_cast<size_t>(n)), "FILE1");
  n = FNAMECOLLAPSE("$V      SUB     F       ", external);
  EXPECT_EQ(std::string(external, static_cast<size_t>(n)), "$V.SUB.F");
  // A name on another system: "\\??" for the system this host cannot name,
  // never more than 26 bytes however long the parts.
  const struct {
    const char* internal;
    const char* external;
  } remote[] = {
      {"\\\x05"
       "DATA  SUB     F       ",
       "\\??.$DATA.SUB.F"},
      {"\\\x05"
       "VOLUMESUBVOLXXFILENAME",
       "\\??.$VOLUME.SUBVOLXX.FILEN"},
      {"\\\x05"
       "VOLUME                ",
       "\\??.$VOLUME"},
  };
  for (const auto& r : remote) {
    char bounded[27];
    std::memset(bounded, '#', sizeof bounded);
    n = FNAMECOLLAPSE(r.internal, bounded);
    EXPECT_EQ(std::string(bounded, static_cast<size_t>(n)), r.external);
    EXPECT_EQ(bounded[26], '#') << r.external;  // nothing past the 26 promised
  }
  char piece[8];
  int16_t len = 0;
  ASSERT_EQ(
      FILENAME_DECOMPOSE_(zeb::mask({1, 2, 3, 4, 5, 6}), "$TMP.#0000012", 13, piece, 8, &len, 0),
      0);
  EXPECT_EQ(std::string(piece, static_cast<size_t>(len)), "$TMP");
  ASSERT_EQ(FILENAME_DECOMPOSE_(zeb::mask({1, 2, 3, 4, 5, 6}), "$A.B.C", 6, piece, 8, &len, 2), 0);
  EXPECT_EQ(std::string(piece, static_cast<size_t>(len)), "C");
  EXPECT_EQ(FILENAME_DECOMPOSE_(zeb::mask({1, 2, 3, 4, 5, 6}), "$A.B.C", 6, piece, 0, &len, 0), 22);
}

// Standard input replaced by a pipe for one test, and put back after it.
class StdinPipe : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = dup(0);
    ASSERT_EQ(pipe(ends_), 0);
    ASSERT_EQ(dup2(ends_[0], 0), 0);
    close(ends_[0]);
    ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), "$ZIN", 4, &f_), 0);
    dup2(saved_, 0);
  }
  void TearDown() override {
    FILE_CLOSE_(zeb::mask({1}), f_);
    if (ends_[1] >= 0) close(ends_[1]);
    close(saved_);
  }
  void close_writer() {
    close(ends_[1]);
    ends_[1] = -1;
  }
  int16_t read_line(std::string* line) {
    char buffer[100];
    int16_t count = -1;
    int16_t error = READX(zeb::mask({1, 2, 3, 4}), f_, buffer, 100, &count);
    *line = std::string(buffer, static_cast<size_t>(count < 0 ? 0 : count));
    return error;
  }
  int saved_ = -1;
  int ends_[2] = {-1, -1};
  int16_t f_ = -2;
};

TEST_F(StdinPipe, AnEmptyLineIsNotTheEndOfInput) {
  ASSERT_EQ(write(ends_[1], "\n", 1), 1);
  close_writer();
  std::string line = "x";
  EXPECT_EQ(read_line(&line), 0);
  EXPECT_EQ(line, "");
  EXPECT_EQ(read_line(&line), 1);  // the end of the input
  EXPECT_EQ(read_line(&line), 1);
}

// One read is one line, whatever arrived with it; a line longer than the
// read count comes in pieces, and a last line needs no line feed.
TEST_F(StdinPipe, OneReadIsOneLine) {
  ASSERT_EQ(write(ends_[1], "one\n\ntwo words\nlast", 19), 19);
  close_writer();
  std::string line;
  for (const char* expected : {"one", "", "two words", "last"}) {
    EXPECT_EQ(read_line(&line), 0);
    EXPECT_EQ(line, expected);
  }
  EXPECT_EQ(read_line(&line), 1);
}

TEST_F(StdinPipe, ALongLineComesInPieces) {
  ASSERT_EQ(write(ends_[1], "abcdefg\n", 8), 8);
  close_writer();
  char buffer[3];
  int16_t count = -1;
  std::string pieces;
  while (READX(zeb::mask({1, 2, 3, 4}), f_, buffer, 3, &count) == 0) {
    pieces += std::string(buffer, static_cast<size_t>(count)) + "|";
  }
  EXPECT_EQ(pieces, "abc|def|g|");
}

std::atomic<int> alarms{0};
extern "C" void on_alarm(int) { alarms.fetch_add(1); }

// Whether the thread tid is blocked in a system call.
bool blocked(pid_t tid) {
  const std::string text =
      zeb::testing::file_text("/proc/self/task/" + std::to_string(tid) + "/syscall");
  return !text.empty() && text[0] != 'r';
}

// A read from a stream that a signal interrupts goes on reading: a timer
// interrupts it every 5 ms until the line arrives, which it does only once
// the reader has been interrupted while blocked in its read.
TEST_F(StdinPipe, ASignalDoesNotEndARead) {
  struct sigaction action {};
  action.sa_handler = on_alarm;  // no SA_RESTART: the kernel ends the read
  struct sigaction old {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
  sigset_t alarm_only, previous;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  // The writer is blind to the alarm, so it lands on the reading thread.
  pthread_sigmask(SIG_BLOCK, &alarm_only, &previous);
  const pid_t reader = gettid();
  std::thread writer([this, reader] {
    while (!blocked(reader)) sched_yield();
    const int before = alarms.load();
    while (alarms.load() < before + 3 || !blocked(reader)) sched_yield();
    ASSERT_EQ(write(ends_[1], "late\n", 5), 5);
  });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  struct itimerval every {
    {0, 5000}, { 0, 5000 }
  };
  setitimer(ITIMER_REAL, &every, nullptr);
  std::string line;
  int16_t error = read_line(&line);
  struct itimerval off {};
  setitimer(ITIMER_REAL, &off, nullptr);
  writer.join();
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(line, "late");
}

// Access 1 opens for reading only: a file the process may only read (on a
// read-only file system, or by its permissions) opens and reads; a write
// through it fails.
TEST(Access, ReadOnlyOpensReadOnly) {
  char internal[24];
  ASSERT_EQ(FNAMEEXPAND("$dira.ro.data", 13, internal), 13);
  ASSERT_EQ(CREATE(zeb::mask({1, 2}), internal, 1), 0);
  int16_t f = -2;
  ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), "$DIRA.RO.DATA", 13, &f), 0);
  ASSERT_EQ(WRITEX(zeb::mask({1, 2, 3}), f, "kept", 4), 0);
  ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
  std::vector<int> modes;
  zeb::platform::SyscallOverride scope;
  zeb::platform::syscalls().open = [&modes, &scope](const char* path, int flags, unsigned mode) {
    modes.push_back(flags & O_ACCMODE);
    return scope.saved().open(path, flags, mode);
  };
  for (int16_t access : {0, 1, 2}) {
    ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3, 4}), "$DIRA.RO.DATA", 13, &f, access), 0) << access;
    char back[4] = {};
    int16_t count = 0;
    int16_t read_error = READX(zeb::mask({1, 2, 3, 4}), f, back, 4, &count);
    int16_t write_error = WRITEX(zeb::mask({1, 2, 3}), f, "more", 4);
    EXPECT_EQ(read_error == 0, access != 2) << access;
    EXPECT_EQ(write_error == 0, access != 1) << access;
    if (access == 1) {
      EXPECT_EQ(std::string(back, 4), "kept");
    }
    ASSERT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
  }
  EXPECT_EQ(modes, (std::vector<int>{O_RDWR, O_RDONLY, O_WRONLY}));
  // Looking a file up by name only reads it.
  modes.clear();
  int32_t capacity = 0;
  ASSERT_EQ(FILEINFO(zeb::mask({3, 18}), 0, nullptr, internal, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, &capacity),
            0);
  EXPECT_EQ(modes, (std::vector<int>{O_RDONLY}));
  // The shared volume is left as found, for the cases that count its entries.
  zeb::testing::remove_tree(dir_a() + "/ro");
}

TEST(Streams, HomeTerminalIsStandardOutput) {
  char name[48];
  int16_t len = 0, detail = -1;
  ASSERT_EQ(PROCESS_GETINFO_(zeb::mask({7, 8, 9, 21}), nullptr, nullptr, 0, nullptr, nullptr,
                             nullptr, name, 48, &len, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, 0, nullptr, nullptr, 0, nullptr, &detail),
            0);
  EXPECT_EQ(std::string(name, static_cast<size_t>(len)), "$ZHOME");
  int16_t f = -2;
  ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), name, len, &f), 0);
  int16_t typeinfo[5] = {-1, -1, -1, -1, -1};
  ASSERT_EQ(FILE_GETINFO_(zeb::mask({1, 6}), f, nullptr, nullptr, 0, nullptr, typeinfo), 0);
  EXPECT_EQ(typeinfo[0], 6);
  EXPECT_EQ(typeinfo[1], 0);
  EXPECT_EQ(POSITION(f, 0), 2);
  EXPECT_EQ(FILE_CLOSE_(zeb::mask({1}), f), 0);
}

}  // namespace
