// Terminal files over real pseudo-terminals: the test holds the master side
// and plays the terminal.
#include <zeb/platform/terminal.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/files/file.h"
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/testing/testing.h"

namespace {

using zeb::mask;
using zeb::platform::syscalls;

// A pseudo-terminal whose slave is named for FILE_OPEN_ ("$PTSn"). It starts
// in canonical mode without echo or output processing, as a terminal that
// echoes locally.
struct Pty {
  int master = -1;
  std::string name;
  Pty() {
    std::string path;
    EXPECT_EQ(syscalls().openpty(&master, &path), 0);
    name = "$PTS" + path.substr(path.rfind('/') + 1);
    struct termios s {};
    tcgetattr(master, &s);
    s.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    s.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(master, TCSANOW, &s);
  }
  ~Pty() {
    if (master >= 0) close(master);
  }
  void send(const std::string& text) const {
    ASSERT_EQ(write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // What the program wrote, gathered until the line is quiet for 100 ms.
  std::string received() const {
    std::string text;
    char buf[4096];
    struct pollfd p {
      master, POLLIN, 0
    };
    while (poll(&p, 1, 100) > 0 && (p.revents & POLLIN) != 0) {
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<size_t>(n));
    }
    return text;
  }
  int16_t open(int16_t nowait = 1) const {
    int16_t f = -2;
    EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3, 6}), name.data(), static_cast<int16_t>(name.size()), &f, 0,
                         0, nowait),
              0);
    return f;
  }
  struct termios settings() const {
    struct termios s {};
    tcgetattr(master, &s);
    return s;
  }
};

int16_t await(int16_t* f, int16_t* count, int32_t limit) {
  return AWAITIOX(mask({1, 3, 5}), f, nullptr, count, nullptr, limit);
}

// One pseudo-terminal with its slave open as a nowait terminal file, closed
// at the end of the test.
class TerminalFile : public ::testing::Test {
 protected:
  void TearDown() override { FILE_CLOSE_(mask({1}), f); }
  Pty pty;
  int16_t f = pty.open();
};

TEST(TerminalNames, DeviceNamesMapToHostPaths) {
  const struct {
    const char* volume;
    const char* path;
  } cases[] = {
      {"$PTS3", "/dev/pts/3"},
      {"$PTS1234", "/dev/pts/1234"},
      {"$ZTTY", "/dev/tty"},
      {"$TTY2", "/dev/tty2"},
      {"$TTYS0", "/dev/ttyS0"},
      {"$TTYUSB1", "/dev/ttyUSB1"},
      {"$PTS", ""},
      {"$PTSX", ""},
      {"$DATA", ""},
      {"$ZHOME", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zeb::platform::terminal_device_path(c.volume), c.path) << c.volume;
  }
}

TEST(TerminalOpen, DeviceTypeFollowsZebTerminal) {
  Pty pty;
  for (const char* kind : {"", "6530", "6530x"}) {
    zeb::testing::set_variable("ZEB_TERMINAL", kind);
    int16_t f = pty.open();
    int16_t info[5] = {-1, -1, -1, -1, -1};
    ASSERT_EQ(FILE_GETINFO_(mask({1, 6}), f, nullptr, nullptr, 0, nullptr, info), 0);
    EXPECT_EQ(info[0], 6) << kind;
    EXPECT_EQ(info[1], std::string(kind) == "6530" ? 4 : 0) << kind;
    EXPECT_EQ(FILE_CLOSE_(mask({1}), f), 0);
  }
  zeb::testing::set_variable("ZEB_TERMINAL", std::nullopt);
}

TEST(TerminalOpen, RefusesWhatIsNoTerminal) {
  int16_t f = 0;
  const std::string missing = "$PTS9999";
  EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3}), missing.data(), 8, &f), zeb::err::kNoSuchDevice);
  EXPECT_EQ(f, -2);
  // A nowait depth is for terminals only; /dev/null is not one.
  int fd_saved = dup(0);
  int null_fd = ::open("/dev/null", O_RDONLY);
  dup2(null_fd, 0);
  EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3, 6}), "$ZIN", 4, &f, 0, 0, 1), zeb::err::kInvalidOperation);
  dup2(fd_saved, 0);
  close(fd_saved);
  close(null_fd);
  Pty pty;
  EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3, 6}), pty.name.data(), static_cast<int16_t>(pty.name.size()),
                       &f, 0, 0, 2),
            zeb::err::kTooManyNowait);
}

TEST_F(TerminalFile, WriteReadSendsThenReadsOneLine) {
  char buf[32] = "prompt> ";
  ASSERT_EQ(WRITEREADX(mask({1, 2, 3, 4}), f, buf, 8, 20), 0);
  EXPECT_EQ(pty.received(), "prompt> ");
  pty.send("hello\r");  // the terminal's CR ends the line
  int16_t count = -1, which = f;
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(which, f);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), "hello");
  // A plain write: WRITEREADX with read count 0 adds nothing; WRITEX in
  // conversational mode is a line.
  ASSERT_EQ(WRITEREADX(mask({1, 2, 3, 4}), f, buf, 3, 0), 0);
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(count, 0);
  ASSERT_EQ(WRITEX(mask({1, 2, 3}), f, "line", 4), 0);
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(pty.received(), "helline\n");
}

TEST_F(TerminalFile, TimeOutLeavesTheReadUntilCancel) {
  char buf[16];
  ASSERT_EQ(READX(mask({1, 2, 3}), f, buf, 16), 0);
  int16_t count = -1, which = f, last = 0;
  EXPECT_EQ(await(&which, &count, 5), zeb::err::kTimedOut);
  EXPECT_EQ(count, 0);
  FILE_GETINFO_(mask({1, 2}), f, &last);
  EXPECT_EQ(last, zeb::err::kTimedOut);
  EXPECT_EQ(await(&which, &count, 0), zeb::err::kTimedOut);
  // Still outstanding: a second operation is refused, the input completes it.
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3, 4}), f, buf, 1, 1), zeb::err::kTooManyNowait);
  pty.send("ok\n");
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), "ok");
  // Cancel ends an outstanding read; nothing is left to wait for.
  ASSERT_EQ(READX(mask({1, 2, 3}), f, buf, 16), 0);
  EXPECT_EQ(CANCEL(f), 0);
  EXPECT_EQ(CANCEL(f), zeb::err::kNoOutstanding);
  EXPECT_EQ(await(&which, &count, 5), zeb::err::kNoOutstanding);
}

TEST(TerminalIo, AnyFileCompletesWhicheverIsReadyFirst) {
  Pty a, b;
  int16_t fa = a.open(), fb = b.open();
  char ba[8], bb[8];
  ASSERT_EQ(READX(mask({1, 2, 3}), fa, ba, 8), 0);
  ASSERT_EQ(READX(mask({1, 2, 3}), fb, bb, 8), 0);
  b.send("bee\n");
  int16_t which = -1, count = 0;
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(which, fb);
  EXPECT_EQ(std::string(bb, 3), "bee");
  which = -1;
  EXPECT_EQ(await(&which, &count, 5), zeb::err::kTimedOut);
  a.send("ay\n");
  which = -1;
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(which, fa);
  which = -1;
  EXPECT_EQ(await(&which, &count, 5), zeb::err::kNoOutstanding);
  FILE_CLOSE_(mask({1}), fa);
  FILE_CLOSE_(mask({1}), fb);
}

TEST_F(TerminalFile, BlockModeReadTakesTheBurst) {
  const int16_t raw[4] = {0, 0, 0, 1};
  ASSERT_EQ(SETMODE(mask({1, 2, 3}), f, 8, 1), 0);
  ASSERT_EQ(SETPARAM(mask({1, 2, 3, 4}), f, 3, raw, 8), 0);
  char buf[8];
  ASSERT_EQ(READX(mask({1, 2, 3}), f, buf, 6), 0);
  pty.send("AB");
  // The second part is sent only once the first has reached the terminal.
  const int slave = ::open(("/dev/pts/" + pty.name.substr(4)).c_str(), O_RDONLY | O_NOCTTY);
  ASSERT_GE(slave, 0);
  struct pollfd first {
    slave, POLLIN, 0
  };
  ASSERT_EQ(poll(&first, 1, -1), 1);
  close(slave);
  pty.send("CD\rEFGH");  // no line end in block mode; the read count stops it
  int16_t which = f, count = 0;
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), "ABCD\rE");
  ASSERT_EQ(READX(mask({1, 2, 3}), f, buf, 8), 0);
  ASSERT_EQ(await(&which, &count, 500), 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), "FGH");
}

TEST_F(TerminalFile, HangUpEndsTheWaitWithAnError) {
  char buf[8];
  ASSERT_EQ(READX(mask({1, 2, 3}), f, buf, 8), 0);
  close(pty.master);
  pty.master = -1;
  int16_t which = f, count = 0;
  EXPECT_EQ(await(&which, &count, 1000), zeb::err::kDeviceError);
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3, 4}), f, buf, 2, 0), 0);
  EXPECT_EQ(await(&which, &count, 1000), zeb::err::kDeviceError);
}

TEST(TerminalIo, WrongFilesAndMissingParameters) {
  Pty pty;
  int16_t waited = pty.open(0), nowait = pty.open();
  char buf[4] = "abc";
  int16_t which = waited, count = 0;
  EXPECT_EQ(await(&which, &count, 0), zeb::err::kWaitedFile);
  EXPECT_EQ(CANCEL(waited), zeb::err::kWaitedFile);
  which = 200;
  EXPECT_EQ(await(&which, &count, 0), zeb::err::kNotOpenFile);
  EXPECT_EQ(AWAITIOX(mask({5}), nullptr), zeb::err::kMissingParameter);
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3}), nowait, buf, 3), zeb::err::kMissingParameter);
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3, 4}), nowait, buf, -1, 0), zeb::err::kBadCount);
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3, 4}), 200, buf, 1, 0), zeb::err::kNotOpenFile);
  EXPECT_EQ(SETMODE(mask({1, 2, 3}), nowait, 8, 2), zeb::err::kOutOfBounds);
  EXPECT_EQ(SETMODE(mask({1, 2, 3}), nowait, 22, 5), zeb::err::kInvalidOperation);
  EXPECT_EQ(SETMODE(mask({1, 2}), nowait, 99), zeb::err::kInvalidOperation);
  EXPECT_EQ(SETPARAM(mask({1, 2}), nowait, 4), zeb::err::kInvalidOperation);
  EXPECT_EQ(SETPARAM(mask({1, 2, 3, 4}), nowait, 3, buf, 4), zeb::err::kBadCount);
  // A waited write-read waits for its reply.
  pty.send("yes\n");
  int16_t got = -1;
  EXPECT_EQ(WRITEREADX(mask({1, 2, 3, 4, 5}), waited, buf, 2, 4, &got), 0);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(pty.received(), "ab");
  FILE_CLOSE_(mask({1}), waited);
  FILE_CLOSE_(mask({1}), nowait);
}

TEST(TerminalModes, ParameterSetSavesAndRestoresTheTty) {
  Pty pty;
  struct termios before = pty.settings();
  int16_t f = pty.open();
  const int16_t raw[4] = {0, 0, 0, 1};
  int16_t saved[4] = {}, count = 0, mode[2] = {-1, -1};
  ASSERT_EQ(SETMODE(mask({1, 2, 3, 5}), f, 8, 1, 0, mode), 0);
  EXPECT_EQ(mode[0], 0);  // was conversational
  ASSERT_EQ(SETPARAM(mask({1, 2, 3, 4, 5, 6}), f, 3, raw, 8, saved, &count), 0);
  EXPECT_EQ(count, 8);
  EXPECT_EQ(static_cast<uint16_t>(saved[1]), before.c_iflag & 0xFFFF);
  EXPECT_EQ(static_cast<uint16_t>(saved[2]), before.c_oflag & 0xFFFF);
  struct termios now = pty.settings();
  EXPECT_EQ(now.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(now.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(now.c_oflag & OPOST, 0u);
  EXPECT_EQ(now.c_cc[VMIN], 0);
  EXPECT_EQ(now.c_cc[VTIME], 1);
  ASSERT_EQ(SETMODE(mask({1, 2, 3, 5}), f, 8, 0, 0, mode), 0);
  EXPECT_EQ(mode[0], 1);
  ASSERT_EQ(SETPARAM(mask({1, 2, 3, 4}), f, 3, saved, 8), 0);
  now = pty.settings();
  EXPECT_EQ(now.c_lflag, before.c_lflag);
  EXPECT_EQ(now.c_iflag, before.c_iflag);
  EXPECT_EQ(now.c_oflag, before.c_oflag);
  // Closing gives the tty back what it had at the open.
  ASSERT_EQ(SETMODE(mask({1, 2, 3}), f, 8, 1), 0);
  FILE_CLOSE_(mask({1}), f);
  EXPECT_EQ(pty.settings().c_lflag, before.c_lflag);
}

TEST_F(TerminalFile, LineSpeedInTheHighByte) {
  const struct {
    speed_t speed;
    int high;
  } cases[] = {{B38400, 255}, {B9600, 96}, {B1200, 12}, {B1800, 18}, {B300, 3}};
  for (const auto& c : cases) {
    struct termios s = pty.settings();
    cfsetospeed(&s, c.speed);
    tcsetattr(pty.master, TCSANOW, &s);
    int16_t words[2] = {-1, -1};
    ASSERT_EQ(SETMODE(mask({1, 2, 5}), f, 22, 0, 0, words), 0);
    EXPECT_EQ(words[0], static_cast<int16_t>(c.high << 8)) << c.high;
  }
}

// A job in the background of its terminal's session (the terminal is its
// controlling terminal, another group is in the foreground) changes the
// terminal's mode and closes it: it is not stopped by SIGTTOU, the change is
// made, and the close gives the terminal its settings back.
TEST(TerminalModes, BackgroundJobChangesModesWithoutBeingStopped) {
  Pty pty;
  const std::string path = "/dev/pts/" + pty.name.substr(4);
  const struct termios before = pty.settings();
  pid_t leader = fork();
  if (leader == 0) {
    setsid();
    int tty = open(path.c_str(), O_RDWR);
    if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0) _exit(40);
    pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      signal(SIGTTOU, SIG_DFL);
      int16_t f = -2, mode[2] = {-1, -1};
      if (FILE_OPEN_(mask({1, 2, 3}), pty.name.data(), static_cast<int16_t>(pty.name.size()), &f) !=
          0) {
        _exit(10);
      }
      if (SETMODE(mask({1, 2, 3, 5}), f, 8, 1, 0, mode) != 0) _exit(11);
      struct termios now {};
      if (tcgetattr(tty, &now) != 0 || (now.c_lflag & ICANON) != 0) _exit(12);
      FILE_CLOSE_(mask({1}), f);
      _exit(0);
    }
    setpgid(job, job);
    int status = 0;
    waitpid(job, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
      kill(job, SIGKILL);
      waitpid(job, &status, 0);
      _exit(20);
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 30);
  }
  int status = 0;
  ASSERT_EQ(waitpid(leader, &status, 0), leader);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "20: the job was stopped";
  EXPECT_EQ(pty.settings().c_lflag, before.c_lflag);
}

TEST(Delay, WaitsOnTheProcessorClock) {
  zeb::platform::clock_freeze();
  int64_t start = PROCESSOR_CLOCK();
  DELAY(250);
  DELAY(0);
  DELAY(-5);
  EXPECT_EQ(PROCESSOR_CLOCK() - start, 2500000);
  zeb::platform::clock_release();
}

}  // namespace
