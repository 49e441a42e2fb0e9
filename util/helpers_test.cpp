#include <zeb/util/helpers.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zeb/platform/clock.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/procinfo.h>
#include "gtest/gtest.h"
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/messages.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"
#include "util/helpers_internal.h"

namespace {

// The child's part when this binary was started by a test below: it writes
// what it finds to the file ZEB_SPAWN_TEST_OUT and ends, or waits to be
// killed.
struct ChildMode {
  ChildMode() {
    const char* mode = std::getenv("ZEB_SPAWN_TEST_CHILD");
    if (mode == nullptr) return;
    if (std::strcmp(mode, "wait") == 0) {
      for (int i = 0; i < 3000; ++i) ::usleep(10000);
      ::_exit(0);
    }
    std::ostringstream out;
    int16_t mom[4], own[4];
    UTIL_MOM(mom);
    PROCESSINFO(zeb::mask({1, 2}), MYPID(), own);
    out << "mom " << zeb::testing::hex(mom, 8) << "\nown " << zeb::testing::hex(own, 8) << "\n";
    errno = 0;
    out << "nice " << ::getpriority(PRIO_PROCESS, 0) << "\nfds";
    if (DIR* d = ::opendir("/proc/self/fd")) {
      std::vector<int> fds;
      while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.' && std::atoi(e->d_name) != ::dirfd(d)) {
          fds.push_back(std::atoi(e->d_name));
        }
      }
      ::closedir(d);
      std::sort(fds.begin(), fds.end());
      for (int fd : fds) out << " " << fd;
    }
    const char* channel = std::getenv("ZEB_RECEIVE_FD");
    out << "\nchannel " << (channel != nullptr ? channel : "none") << "\n";
    std::ofstream(std::getenv("ZEB_SPAWN_TEST_OUT")) << out.str();
    ::_exit(0);
  }
} g_child_mode;

// The program file name of this test binary, as PROCESSINFO gives it.
std::string OwnProgram() {
  char name[24];
  PROCESSINFO(zeb::mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, name);
  return std::string(name, 24);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Starts this binary in the given child mode; returns the error word.
int16_t StartChild(const char* mode, const std::string& out, int16_t* id,
                   const char* name = nullptr, int16_t priority = -1) {
  zeb::testing::ScopedVariable child("ZEB_SPAWN_TEST_CHILD", mode);
  zeb::testing::ScopedVariable log("ZEB_SPAWN_TEST_OUT", out);
  std::string program = OwnProgram();
  int16_t error = -1;
  int16_t word = name != nullptr ? NEWPROCESS(zeb::mask({1, 2, 5, 6, 7}), program.data(), priority,
                                              0, -1, id, &error, name)
                                 : NEWPROCESS(zeb::mask({1, 2, 5, 6}), program.data(), priority, 0,
                                              -1, id, &error);
  EXPECT_EQ(word, error);
  return word;
}

// Waits for a report child's output file to be complete.
std::string Report(const std::string& path, long pid) {
  EXPECT_TRUE(zeb::testing::process_gone(pid));
  return ReadFile(path);
}

TEST(Rnd, SequenceAndRanges) {
  struct Case {
    int16_t seed, range, result, next_seed;
  } cases[] = {
      {0, 10, 1, 11},
      {11, 10, 2, -2704},     // 62832
      {-2704, 10, 3, 23963},  // the third seed of the sequence from 0
      {0, 0, 11, 11},         // range 0: the new seed itself
      {11, 0, -2704, -2704},  // ... as a signed 16-bit value
      {0, 1, 0, 11},
      {11, -1, -2704 + 0, -2704},  // range 65535: 62832 stays
      {11, -32768, 62832 - 32768, -2704},
  };
  for (const Case& c : cases) {
    int16_t seed = c.seed;
    EXPECT_EQ(UTIL_RND(&seed, c.range), c.result) << c.seed << " " << c.range;
    EXPECT_EQ(seed, c.next_seed);
  }
  // The seeds repeat after 8192 steps, and not before.
  int16_t seed = 0;
  int period = 0;
  do {
    UTIL_RND(&seed, 0);
    ++period;
  } while (seed != 0 && period <= 70000);
  EXPECT_EQ(period, 8192);
}

TEST(StringSearch, InstrAndNoCaseCompare) {
  struct Instr {
    uint32_t mask;
    const char* string;
    const char* pattern;
    int16_t start, result;
  } instr[] = {
      {zeb::mask({1, 2, 3, 4}), "xxab", "ab", 0, 2},
      {zeb::mask({1, 2, 3, 4, 5}), "xxab", "ab", 3, -1},
      {zeb::mask({1, 2, 3, 4, 5}), "abab", "ab", 1, 2},
      {zeb::mask({1, 2, 3, 4, 5}), "xxab", "", 3, 3},  // empty pattern: at start
      {zeb::mask({1, 2, 3, 4}), "xxab", "AB", 0, -1},  // case matters
      {zeb::mask({1, 2, 3, 4}), "ab", "abc", 0, -1},
      {zeb::mask({1, 2, 3, 4, 5}), "xxab", "ab", -1, -1},
      {zeb::mask({1, 2, 4}), "xxab", "ab", 0, -1},  // pattern missing
      {zeb::mask({2, 3, 4}), "xxab", "ab", 0, -1},  // string missing
  };
  for (const Instr& c : instr) {
    EXPECT_EQ(UTIL_INSTR(c.mask, c.string, static_cast<int16_t>(std::strlen(c.string)), c.pattern,
                         static_cast<int16_t>(std::strlen(c.pattern)), c.start),
              c.result)
        << c.string << " " << c.pattern << " " << c.start;
  }
  struct NoCase {
    const char* a;
    const char* b;
    int16_t result;
  } nocase[] = {
      {"Hello", "HELP", 3}, {"abc", "ABC", 3}, {"a[", "A{", 1},  // [ and { are no letters
      {"@", "`", 0},        {"", "x", 0},      {"Zz", "zZ9", 2},
  };
  for (const NoCase& c : nocase) {
    EXPECT_EQ(UTIL_NOCASECOMPARE(c.a, static_cast<int16_t>(std::strlen(c.a)), c.b,
                                 static_cast<int16_t>(std::strlen(c.b))),
              c.result)
        << c.a << " " << c.b;
  }
}

TEST(Nodes, SystemNumbersFromText) {
  zeb::platform::SyscallOverride scope;
  zeb::platform::serve_file("/proc/sys/kernel/hostname", "node.example.org\n");
  struct Case {
    const char* text;
    int16_t result, node;
  } cases[] = {
      {"\\NODE.$DATA", 5, 0}, {"\\node", 5, 0},  {"\\OTHER.$DATA", -1, 99}, {"12", 2, 12},
      {"7abc", 1, 7},         {"99999", -1, 99}, {"$DATA.SUB", 0, 0},       {"", 0, 0},
  };
  for (const Case& c : cases) {
    int16_t node = 99;
    EXPECT_EQ(UTIL_GETSYSTEMNUMBER(c.text, &node), c.result) << c.text;
    EXPECT_EQ(node, c.node) << c.text;
  }
}

TEST(Processes, GetPidFromText) {
  struct Case {
    const char* text;
    int16_t result, processor, pin;
  } cases[] = {
      {"2,45", 0, 2, 45},       {"2,45xyz", 0, 2, 45},        {"2.45", 22, 2, -9},
      {"2,x", -1, 2, -9},       {"99999999999,1", 1, -9, -9}, {"$NONE9", 22, -9, -9},
      {"$TOOLONG", 22, -9, -9},
  };
  for (const Case& c : cases) {
    int16_t processor = -9, pin = -9;
    EXPECT_EQ(UTIL_GETPID(c.text, &processor, &pin), c.result) << c.text;
    EXPECT_EQ(processor, c.processor) << c.text;
    EXPECT_EQ(pin, c.pin) << c.text;
  }
  // A named child of this test is found by its name.
  int16_t id[4];
  std::string name = "$Q" + std::to_string(::getpid() % 1000) + "  ";
  name.resize(6, ' ');
  ASSERT_EQ(StartChild("wait", "/dev/null", id, name.c_str()), 0);
  int16_t processor = -9, pin = -9;
  EXPECT_EQ(UTIL_GETPID(name.substr(0, name.find(' ')).c_str(), &processor, &pin), 0);
  EXPECT_EQ((processor << 8) | pin, static_cast<uint16_t>(id[3]));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 6), name);
  // A second process of the same name is refused.
  int16_t other[4];
  EXPECT_EQ(StartChild("wait", "/dev/null", other, name.c_str()),
            zeb::create_error_word(zeb::kCreateNameError, 12));
  long pid = zeb::platform::find_named_process(name.substr(0, name.find(' ')));
  ASSERT_GT(pid, 0);
  ::kill(static_cast<pid_t>(pid), SIGKILL);
  EXPECT_TRUE(zeb::testing::process_gone(pid));
}

TEST(Clock, TimestampIsTheProcessorClockInHundredths) {
  zeb::platform::SyscallOverride scope;
  zeb::platform::clock_freeze();
  const int64_t stamp = UTIL_TIMESTAMP();
  EXPECT_EQ(stamp, PROCESSOR_CLOCK() / 10000);
  EXPECT_EQ(stamp >> 48, 0);
  zeb::platform::clock_advance(1234567);
  EXPECT_EQ(UTIL_TIMESTAMP(), PROCESSOR_CLOCK() / 10000);
  EXPECT_GE(UTIL_TIMESTAMP() - stamp, 123);
  EXPECT_LE(UTIL_TIMESTAMP() - stamp, 124);
}

// The zone is read once per process: each case runs in a child with its own
// TZ, which reports through its exit status.
TEST(Clock, TimeZoneRoundsToTheNearestHour) {
  if (const char* tz = std::getenv("ZEB_SPAWN_TEST_TZ")) {
    (void)tz;
    std::_Exit(UTIL_TIMEZONE() + 64);
  }
  struct Case {
    const char* tz;
    int hours;
  } cases[] = {{"UTC0", 0},     {"EST5", -5},    {"CET-1", 1},
               {"IST-5:30", 6}, {"NST3:30", -3}, {"XXX-13", 13}};
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  for (const Case& c : cases) {
    std::string command = std::string("ZEB_SPAWN_TEST_TZ=1 TZ=") + c.tz + " " + exe +
                          " --gtest_filter=Clock.TimeZoneRoundsToTheNearestHour >/dev/null 2>&1";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status) - 64, c.hours) << c.tz;
  }
}

TEST(Files, FileStatusAndCreateLike) {
  zeb::testing::ScratchVolume volume("$ZS");
  EXPECT_EQ(UTIL_FILESTATUS(200), 16);  // not open
  char model[50] = "$ZS.SUB.MODEL";
  int16_t len = static_cast<int16_t>(std::strlen(model));
  ASSERT_EQ(FILE_CREATE_(zeb::mask({1, 2, 3, 4, 5, 6, 7, 10, 11}), model, sizeof model, &len, 101,
                         2, 4, 8, 0, 0, 80, 1024),
            0);
  int16_t fnum = -1;
  ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), model, len, &fnum), 0);
  EXPECT_EQ(UTIL_FILESTATUS(fnum), 0);
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), fnum, "x", -1), 21);
  EXPECT_EQ(UTIL_FILESTATUS(fnum), 21);
  FILE_CLOSE_(zeb::mask({1}), fnum);
  ASSERT_EQ(::chmod(volume.path("sub/model").c_str(), 0640), 0);

  struct Case {
    const char* new_name;
    const char* model;
    int16_t result;
  } cases[] = {
      {"$ZS.SUB.COPY", "$ZS.SUB.MODEL", 0},
      {"$ZS.OTHER.COPY2 trailing", "$ZS.SUB.MODEL", 0},  // a blank ends the name
      {"$ZS.SUB.COPY", "$ZS.SUB.MODEL", 10},             // exists already
      {"$ZS.SUB.COPY3", "$ZS.SUB.NOMODEL", 11},
      {"$ZS.SUB.COPY4", "$NOVOL.SUB.MODEL", 14},
      {"not a name", "$ZS.SUB.MODEL", 13},
      {"$ZS.SUB.COPY5", "", 13},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UTIL_CREATELIKE(c.new_name, c.model), c.result) << c.new_name;

  for (const char* name : {"$ZS.SUB.COPY", "$ZS.OTHER.COPY2"}) {
    char internal[24];
    ASSERT_GT(FNAMEEXPAND(name, static_cast<int16_t>(std::strlen(name)), internal), 0);
    int16_t error = -1, primary = 0, code = 0, secondary = 0, security = 0, type = -1;
    int16_t maxext = 0, record = 0, block = 0;
    ASSERT_EQ(
        FILEINFO(zeb::mask({2, 3, 6, 10, 11, 16, 21, 22}), 0, &error, internal, nullptr, nullptr,
                 &primary, nullptr, nullptr, nullptr, &code, &secondary, nullptr, nullptr, nullptr,
                 nullptr, &security, nullptr, nullptr, nullptr, nullptr, &type, &maxext),
        0);
    ASSERT_EQ(FILERECINFO(zeb::mask({10, 11, 15}), -1, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, &record, &block, nullptr, nullptr, nullptr,
                          internal),
              0);
    EXPECT_EQ(
        std::vector<int>({error, primary, code, secondary, security, type, maxext, record, block}),
        std::vector<int>({0, 2, 101, 4, 0640, 0, 8, 80, 1024}))
        << name;
  }
}

// Replies of a monitor, given to UTIL_CMON in place of $CMON's.
std::vector<unsigned char> g_reply;
int16_t g_reply_error = 0;
std::vector<unsigned char> g_request;
int16_t Answer(unsigned char* buffer, int16_t* count) {
  g_request.assign(buffer, buffer + zeb::platform::kCmonRequestLength);
  std::memcpy(buffer, g_reply.data(), g_reply.size());
  *count = static_cast<int16_t>(g_reply.size());
  return g_reply_error;
}

TEST(Cmon, RequestAndReplies) {
  zeb::util::set_cmon_exchange(Answer);
  const std::string program = "$VOL    SUB     PROG    ";
  const std::string in = "$IN                     ", out = "$OUT                    ";
  std::vector<unsigned char> full(30, 0);
  std::memcpy(full.data() + 2, "$NEW    SUB     NEWPROG ", 24);
  full[26] = 0;
  full[27] = 77;  // priority 77
  full[28] = 0;
  full[29] = 3;  // processor 3
  struct Case {
    std::vector<unsigned char> reply;
    int16_t error, result;
    std::string program;
    int16_t priority, processor;
  } cases[] = {
      {full, 0, zeb::kTrue, "$NEW    SUB     NEWPROG ", 77, 3},
      {std::vector<unsigned char>(full.begin(), full.begin() + 28), 0, zeb::kTrue,
       "$NEW    SUB     NEWPROG ", 77, 5},
      {std::vector<unsigned char>(full.begin(), full.begin() + 26), 0, zeb::kTrue,
       "$NEW    SUB     NEWPROG ", 100, 5},
      {{0, 0}, 0, zeb::kTrue, program, 100, 5},
      {{0}, 0, zeb::kFalse, program, 100, 5},  // too short to say yes
      {{}, 0, zeb::kFalse, program, 100, 5},
      {{0, 1}, 0, zeb::kFalse, program, 100, 5},
      {{0xFF, 0xFF, 0}, 0, zeb::kFalse, program, 100, 5},
      {{0, 0}, 201, zeb::kTrue, program, 100, 5},  // no answer: defaults (none needed)
  };
  for (const Case& c : cases) {
    g_reply = c.reply;
    g_reply_error = c.error;
    std::string prog = program;
    int16_t priority = 100, processor = 5;
    EXPECT_EQ(UTIL_CMON(prog.data(), &priority, &processor, in.data(), out.data()), c.result);
    EXPECT_EQ(prog, c.program);
    EXPECT_EQ(priority, c.priority);
    EXPECT_EQ(processor, c.processor);
  }
  // The request as the monitor sees it.
  ASSERT_EQ(g_request.size(), 178u);
  EXPECT_EQ(zeb::testing::hex(g_request.data(), 2), "FFCC");      // -52
  EXPECT_EQ(zeb::testing::hex(g_request.data() + 4, 2), "0096");  // own priority 150
  EXPECT_EQ(std::string(g_request.begin() + 6, g_request.begin() + 30), in);
  EXPECT_EQ(std::string(g_request.begin() + 30, g_request.begin() + 54), out);
  EXPECT_EQ(std::string(g_request.begin() + 54, g_request.begin() + 78), program);
  EXPECT_EQ(zeb::testing::hex(g_request.data() + 78, 4), "00640005");
  EXPECT_EQ(std::string(g_request.begin() + 82, g_request.begin() + 106), in);
  EXPECT_EQ(std::string(g_request.begin() + 106, g_request.begin() + 130), out);
  EXPECT_EQ(std::string(g_request.begin() + 130, g_request.end()), std::string(48, ' '));
  zeb::util::set_cmon_exchange(nullptr);
}

TEST(Cmon, WithoutAMonitorDefaultsApply) {
  std::string prog = "$VOL    SUB     PROG    ";
  const std::string names(24, ' ');
  struct Case {
    int16_t priority, processor, want_priority, want_processor;
  } cases[] = {
      {-1, -1, 149, static_cast<int16_t>(static_cast<uint16_t>(MYPID()) >> 8)},
      {120, 1, 120, 1},
  };
  for (const Case& c : cases) {
    int16_t priority = c.priority, processor = c.processor;
    EXPECT_EQ(UTIL_CMON(prog.data(), &priority, &processor, names.data(), names.data()),
              zeb::kTrue);
    EXPECT_EQ(priority, c.want_priority);
    EXPECT_EQ(processor, c.want_processor);
  }
  EXPECT_EQ(prog, "$VOL    SUB     PROG    ");
}

TEST(NewProcess, ChildKnowsItsCreatorAndInheritsOnlyTheStandardDescriptors) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/report";
  // A descriptor of the program's own, not close-on-exec, stays behind.
  int stray = ::open("/dev/null", O_RDONLY);
  ASSERT_GT(stray, 2);
  int16_t id[4];
  ASSERT_EQ(StartChild("report", out, id, nullptr, 140), 0);
  ::close(stray);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(id);
  EXPECT_EQ(b[0], 0x80);
  std::string report = Report(out, zeb::testing::host_pid(id));
  int16_t own[4];
  ASSERT_EQ(PROCESSINFO(zeb::mask({1, 2}), MYPID(), own), 0);
  errno = 0;
  int nice = ::getpriority(PRIO_PROCESS, 0);
  std::istringstream lines(report);
  std::string line, channel;
  std::getline(lines, line);
  EXPECT_EQ(line, "mom " + zeb::testing::hex(own, 8));
  std::getline(lines, line);
  EXPECT_EQ(line, "own " + zeb::testing::hex(id, 8));
  std::getline(lines, line);
  EXPECT_EQ(line, "nice " + std::to_string(std::min(nice + 2, 19)));  // priority 140: 2 steps
  std::getline(lines, line);
  std::getline(lines, channel);
  EXPECT_EQ(line, "fds 0 1 2 " + channel.substr(8));
}

TEST(NewProcess, CreationErrorsSayWhy) {
  zeb::testing::ScratchVolume volume("$ZP");
  ASSERT_EQ(::mkdir(volume.path("bin").c_str(), 0755), 0);
  std::ofstream(volume.path("bin/noexec")) << "#!/bin/sh\nexit 0\n";
  std::ofstream(volume.path("bin/garbage")) << "\x01\x02 not a program\n";
  ASSERT_EQ(::chmod(volume.path("bin/garbage").c_str(), 0755), 0);
  ::mkdir(volume.path("bin/dir").c_str(), 0755);
  struct Case {
    const char* program;
    const char* name;
    int16_t word;
  } cases[] = {
      {"$ZP     BIN     MISSING ", nullptr, zeb::create_error_word(3, 11)},
      {"$NOVOL  BIN     PROG    ", nullptr, zeb::create_error_word(3, 14)},
      {"$ZP     BIN             ", nullptr, zeb::create_error_word(3, 13)},
      {"$ZP     BIN     NOEXEC  ", nullptr, zeb::create_error_word(6, 48)},
      {"$ZP     BIN     GARBAGE ", nullptr, zeb::create_error_word(6, 53)},
      {"$ZP     BIN     DIR     ", nullptr, zeb::create_error_word(6, 48)},
      {"$ZHOST  NOWHERE PROG    ", nullptr, zeb::create_error_word(3, 11)},
      {"$ZP     BIN     GARBAGE ", "BAD   ", zeb::create_error_word(8, 13)},
      {"$ZP     BIN     GARBAGE ", "$1A   ", zeb::create_error_word(8, 13)},
  };
  for (const Case& c : cases) {
    int16_t error = -1;
    int16_t word =
        c.name != nullptr
            ? NEWPROCESS(zeb::mask({1, 6, 7}), c.program, 0, 0, 0, nullptr, &error, c.name)
            : NEWPROCESS(zeb::mask({1, 6}), c.program, 0, 0, 0, nullptr, &error);
    EXPECT_EQ(word, c.word) << c.program;
    EXPECT_EQ(error, c.word) << c.program;
  }
  EXPECT_EQ(NEWPROCESS(zeb::mask({6})), zeb::create_error_word(3, 29));
  // The host refuses another process.
  zeb::platform::SyscallOverride scope;
  zeb::platform::syscalls().spawn = [](const char*, char* const*, char* const*, int, int) -> long {
    errno = EAGAIN;
    return -1;
  };
  std::string program = OwnProgram();
  EXPECT_EQ(NEWPROCESS(zeb::mask({1}), program.data()), zeb::create_error_word(2, 53));
}

}  // namespace
