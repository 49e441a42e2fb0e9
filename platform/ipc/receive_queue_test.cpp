// $RECEIVE with real processes: the test binary re-runs itself as the
// receiving child (ZEB_RECEIVE_TEST_CHILD names what it does) and talks to
// it over the private channel and the named socket. The conversation of a
// shell-started program runs in this process, on a host of its own.
#include <zeb/platform/receive.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <thread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <zeb/platform/fs.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/receive_queue.h"
#include "platform/processes/conversation.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"

namespace zp = zeb::platform;
using zeb::mask;

namespace {

std::string self_path() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return std::string(path, n > 0 ? static_cast<size_t>(n) : 0);
}

// The child's side: serve $RECEIVE and print one line per message:
// "<error> <count> <code> mom|stranger", replying with the count read as the
// error and the message's first bytes as data; "end <error>" when a read
// fails or after a close.
FILE* out = nullptr;

int serve_queue() {
  int16_t fnum = -1;
  if (FILE_OPEN_(mask({1, 2, 3, 6, 7}), "$RECEIVE", 8, &fnum, 0, 0, 1, 1) != 0) return 10;
  const char* limit_text = std::getenv("ZEB_RECEIVE_TEST_LIMIT");
  int32_t limit = limit_text != nullptr ? std::atoi(limit_text) : -1;
  char buffer[600];
  for (;;) {
    READUPDATE(mask({1, 2, 3}), fnum, buffer, 596);
    int16_t count = 0, f = fnum;
    int16_t error = AWAITIO(mask({1, 3, 5}), &f, nullptr, &count, nullptr, limit);
    if (error != 0 && error != 6) {
      std::fprintf(out, "end %d\n", error);
      return 0;
    }
    int16_t info[17], mom[10];
    FILE_GETRECEIVEINFO_(mask({1}), info);
    PROCESS_GETINFO_(mask({6}), nullptr, nullptr, 0, nullptr, nullptr, mom);
    int code = count >= 2 ? static_cast<int16_t>((static_cast<unsigned char>(buffer[0]) << 8) |
                                                 static_cast<unsigned char>(buffer[1]))
                          : 0;
    std::fprintf(out, "%d %d %d %s\n", error, count, code,
                 std::memcmp(info + 6, mom, sizeof mom) == 0 ? "mom" : "stranger");
    std::fflush(out);
    REPLY(mask({1, 2, 5}), buffer, count, nullptr, 0, count);
    if (code == zp::kCloseCode && error == 6) {
      std::fprintf(out, "end 0\n");
      return FILE_CLOSE_(mask({1}), fnum);
    }
  }
}

// A stranger: sends "open" and one data message to the named process and
// prints the two replies.
int stranger() {
  zp::Result<zp::Connection> made =
      zp::connect_named(std::getenv("ZEB_RECEIVE_TEST_TARGET"), zp::reply_limit_ms());
  if (!made.ok()) {
    std::fprintf(out, "connect %d\n", made.code());
    return 0;
  }
  zp::Connection c = *made;
  auto reply = [&](bool system, const zp::Message& m) -> int {
    zp::Request request;
    request.message = m;
    request.system = system;
    request.timeout_ms = 5000;
    zp::Result<zp::Reply> got = zp::exchange(c, request);
    return got.ok() ? got->error : -1;
  };
  const int r1 = reply(true, zp::open_message());
  const int r2 = reply(false, zp::Message{'\xff', '\xff', 'x', 'y'});
  std::fprintf(out, "%d %d\n", r1, r2);
  zp::close_connection(&c);
  return 0;
}

// Answers what its parent sent ahead of the replies, once the parent has
// opened the gate (a FIFO, so that every message is queued before the first
// read): message i (from 1) gets the error ZEB_RECEIVE_TEST_REPLIES[i-1]
// (a digit string, "0" for 0, "c" for 12). After message
// ZEB_RECEIVE_TEST_AT the child ends with exit or STOP, or waits without
// reading until its parent hangs up ("wait"), as ZEB_RECEIVE_TEST_THEN says.
int answer_ahead() {
  int gate = ::open(std::getenv("ZEB_RECEIVE_TEST_GATE"), O_RDONLY);
  char byte;
  if (gate < 0 || ::read(gate, &byte, 1) != 1) return 20;
  ::close(gate);
  int16_t fnum = -1;
  if (FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) return 10;
  const std::string replies = std::getenv("ZEB_RECEIVE_TEST_REPLIES");
  const int at = std::atoi(std::getenv("ZEB_RECEIVE_TEST_AT"));
  const std::string then = std::getenv("ZEB_RECEIVE_TEST_THEN");
  char buffer[64];
  for (int i = 1; i <= static_cast<int>(replies.size()); ++i) {
    const int16_t error = READUPDATE(mask({1, 2, 3}), fnum, buffer, sizeof buffer);
    if (error != 0) return 11;
    REPLY(mask({5}), nullptr, 0, nullptr, 0, replies[i - 1] == 'c' ? 12 : replies[i - 1] - '0');
    if (i != at) continue;
    if (then == "exit") std::exit(0);
    if (then == "stop") STOP();
    // The parent's channel, watched past the queue: its hang-up ends the
    // wait.
    pollfd hangup = {std::atoi(std::getenv("ZEB_RECEIVE_FD")), 0, 0};
    while (::poll(&hangup, 1, -1) < 0) {
    }
    return 0;
  }
  return 0;
}

// Runs the child's part, once main() runs, when this binary was started as
// one.
// A named process that takes its name and holds it until its parent hangs
// up: the exit status is the open's error.
int take_name() {
  int16_t fnum = -1;
  if (int16_t error = FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum); error != 0) return error;
  char buffer[8];
  int16_t count = 0;
  const int16_t error = READUPDATE(mask({1, 2, 3, 4}), fnum, buffer, sizeof buffer, &count);
  FILE_CLOSE_(mask({1}), fnum);
  return error == 201 ? 0 : 99;
}

// A named echo server: answers every message with its own bytes and error
// 0 until its parent sends "close", then prints "served N" (the data
// messages of strangers). ZEB_RECEIVE_TEST_FILES, when set, is its limit of
// descriptors.
int echo() {
  rlimit limit{};
  if (const char* files = std::getenv("ZEB_RECEIVE_TEST_FILES")) {
    limit.rlim_cur = limit.rlim_max = std::strtoul(files, nullptr, 10);
  } else if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;  // as many requesters as the host lets it hold
  }
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 11;
  int16_t fnum = -1;
  if (FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) return 10;
  int16_t mom[10];
  PROCESS_GETINFO_(mask({6}), nullptr, nullptr, 0, nullptr, nullptr, mom);
  long served = 0;
  char buffer[600];
  for (;;) {
    int16_t count = 0, info[17];
    const int16_t error = READUPDATE(mask({1, 2, 3, 4}), fnum, buffer, 596, &count);
    if (error != 0 && error != 6) {
      std::fprintf(out, "end %d\n", error);
      return 12;
    }
    FILE_GETRECEIVEINFO_(mask({1}), info);
    const bool mine = std::memcmp(info + 6, mom, sizeof mom) == 0;
    served += error == 0 && !mine;
    REPLY(mask({1, 2, 5}), buffer, count, nullptr, 0, 0);
    if (error == 6 && mine && count >= 2 && buffer[0] == '\xff' && buffer[1] == '\x98') {
      std::fprintf(out, "served %ld\n", served);
      return FILE_CLOSE_(mask({1}), fnum);
    }
  }
}

class ChildMode : public testing::Environment {
 public:
  void SetUp() override {
    const char* mode = std::getenv("ZEB_RECEIVE_TEST_CHILD");
    if (mode == nullptr) return;
    // An ordinary end: the name is given back at exit.
    if (std::string(mode) == "take") std::exit(take_name());
    out = std::fopen(std::getenv("ZEB_RECEIVE_TEST_OUT"), "w");
    int status = std::string(mode) == "serve"   ? serve_queue()
                 : std::string(mode) == "echo"  ? echo()
                 : std::string(mode) == "ahead" ? answer_ahead()
                                                : stranger();
    std::fclose(out);
    std::_Exit(status);
  }
};
testing::Environment* const kChildMode = testing::AddGlobalTestEnvironment(new ChildMode);

// A private scratch directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zeb-recv-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

using zeb::testing::file_text;

// A child started on this test program, and the file it writes its report to.
struct RunningChild {
  zp::Child child;
  std::string out;
};

RunningChild start(const ScratchDir& dir, std::vector<std::string> env, bool channel = true) {
  RunningChild run;
  run.out = dir.path() + "/out-" + std::to_string(std::rand());
  env.push_back("ZEB_SOCKET_DIR=" + dir.path() + "/sockets");
  env.push_back("ZEB_RECEIVE_TEST_OUT=" + run.out);
  EXPECT_TRUE(zp::start_child({self_path()}, env, channel, &run.child).ok());
  return run;
}

std::string finish(RunningChild* run) {
  EXPECT_EQ(zp::wait_child(&run->child), 0);
  return file_text(run->out);
}

int16_t send(const zp::Connection& c, bool system, const zp::Message& m,
             std::string* data = nullptr, int16_t max = 0) {
  char buffer[64];
  zp::Request request;
  request.message = m;
  request.system = system;
  request.reply_to = std::span<char>(buffer, static_cast<size_t>(max));
  request.timeout_ms = 10000;
  zp::Result<zp::Reply> reply = zp::exchange(c, request);
  EXPECT_EQ(reply.code(), 0);
  if (!reply.ok()) return -1;
  if (data != nullptr) data->assign(buffer, static_cast<size_t>(reply->length));
  return reply->error;
}

TEST(ReceiveTest, PrivateChannelDeliversCutsAndAnswers) {
  ScratchDir dir;
  RunningChild run = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve"});
  const zp::Connection& c = run.child.channel;
  // The reply's error is the count the child read; its data the message's
  // first bytes, cut to what the sender accepts.
  EXPECT_EQ(send(c, true, zp::open_message()), 32);
  EXPECT_EQ(send(c, false, zp::Message(700, 'a')), 596);
  std::string data;
  EXPECT_EQ(send(c, false, zp::Message{'\xff', '\xfe', 'x', 'y', 'z'}, &data, 3), 5);
  EXPECT_EQ(data, "\xff\xfex");
  EXPECT_EQ(send(c, false, zp::Message{}), 0);
  EXPECT_EQ(send(c, true, zp::close_message()), 4);
  EXPECT_EQ(finish(&run),
            "6 32 -103 mom\n0 596 24929 mom\n0 5 -2 mom\n0 0 0 mom\n6 4 -104 mom\nend 0\n");
}

TEST(ReceiveTest, StrangersReachANamedProcessAndAreNotTheMother) {
  ScratchDir dir;
  RunningChild run = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve", "ZEB_PROCESS_NAME=$RT1"});
  const zp::Connection& c = run.child.channel;
  EXPECT_EQ(send(c, true, zp::open_message()), 32);  // the child's queue is open now
  RunningChild other =
      start(dir, {"ZEB_RECEIVE_TEST_CHILD=stranger", "ZEB_RECEIVE_TEST_TARGET=$rt1"}, false);
  EXPECT_EQ(finish(&other), "32 4\n");
  EXPECT_EQ(send(c, true, zp::close_message()), 4);
  EXPECT_EQ(finish(&run),
            "6 32 -103 mom\n6 32 -103 stranger\n0 4 -1 stranger\n6 4 -104 mom\nend 0\n");
  // The socket is gone with the queue; the directory is private.
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/sockets/RT1"));
  struct stat st {};
  ASSERT_EQ(stat((dir.path() + "/sockets").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  RunningChild late =
      start(dir, {"ZEB_RECEIVE_TEST_CHILD=stranger", "ZEB_RECEIVE_TEST_TARGET=$RT1"}, false);
  EXPECT_EQ(finish(&late), "connect 14\n");
}

TEST(ReceiveTest, ASecondProcessOfTheSameNameIsRefused) {
  ScratchDir dir;
  RunningChild first = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve", "ZEB_PROCESS_NAME=$RT2"});
  EXPECT_EQ(send(first.child.channel, true, zp::open_message()), 32);
  RunningChild second = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve", "ZEB_PROCESS_NAME=$RT2"});
  EXPECT_EQ(zp::wait_child(&second.child), 10);  // FILE_OPEN_ of $RECEIVE failed
  EXPECT_EQ(send(first.child.channel, true, zp::close_message()), 4);
  finish(&first);
}

TEST(ReceiveTest, EndsOfTheWaitAreReported) {
  ScratchDir dir;
  // Nothing arrives within the limit: 40.
  // The parent keeps its end open until the child has ended.
  RunningChild silent = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve", "ZEB_RECEIVE_TEST_LIMIT=5"});
  int status = -1;
  EXPECT_EQ(zp::syscalls().waitpid(silent.child.pid, &status, false), silent.child.pid);
  EXPECT_EQ(status, 0);
  zp::close_connection(&silent.child.channel);
  EXPECT_EQ(file_text(silent.out), "end 40\n");
  // The parent goes away after "open": the wait ends with 201 at once.
  RunningChild gone = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve"});
  EXPECT_EQ(send(gone.child.channel, true, zp::open_message()), 32);
  zp::close_connection(&gone.child.channel);
  EXPECT_EQ(finish(&gone), "6 32 -103 mom\nend 201\n");
}

// A parent's channel that hangs up before the conversation is over, or
// that can carry no conversation at all, ends the wait at once with 201.
TEST(ReceiveTest, AChannelThatCannotFinishTheStartupGives201AtOnce) {
  ScratchDir dir;
  // The parent hangs up before "open" (also: a pair whose other end is
  // closed when the child looks).
  RunningChild early = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve", "ZEB_RECEIVE_TEST_LIMIT=6000"});
  zp::close_connection(&early.child.channel);
  EXPECT_EQ(finish(&early), "end 201\n");
  // The descriptor is a listening socket of the parent's.
  int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/l", dir.path().c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  const std::string out_path = dir.path() + "/listening";
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
  env.push_back("ZEB_RECEIVE_TEST_CHILD=serve");
  env.push_back("ZEB_RECEIVE_TEST_LIMIT=6000");
  env.push_back("ZEB_RECEIVE_TEST_OUT=" + out_path);
  env.push_back("ZEB_RECEIVE_FD=" + std::to_string(listener));
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string path = self_path();
  char* argv[] = {path.data(), nullptr};
  long pid = zp::syscalls().spawn(path.c_str(), argv, envp.data(), listener, 0);
  ASSERT_GT(pid, 0);
  int status = -1;
  EXPECT_EQ(zp::syscalls().waitpid(pid, &status, false), pid);
  EXPECT_EQ(status, 0);
  ::close(listener);
  EXPECT_EQ(file_text(out_path), "end 201\n");
}

// Two hundred processes of different names start together in one socket
// directory: each gets its name, and when they end nothing of theirs stays.
TEST(ReceiveTest, ParallelNamedStartupsNeverCollide) {
  ScratchDir dir;
  std::vector<RunningChild> runs;
  for (int i = 0; i < 200; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "$P%03d", i);
    runs.push_back(
        start(dir, {"ZEB_RECEIVE_TEST_CHILD=take", std::string("ZEB_PROCESS_NAME=") + name}));
  }
  int failures = 0;
  for (RunningChild& run : runs) failures += zp::wait_child(&run.child) != 0;
  EXPECT_EQ(failures, 0);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path() + "/sockets")) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{".sweep"});
}

// The reply limit is hundredths of a second; a value that is no number in
// range is the default, never "no limit" or "no wait".
TEST(ReceiveTest, ReplyLimitIsReadInHundredthsWithASafeDefault) {
  struct Case {
    const char* value;  // nullptr: unset
    int ms;
  } cases[] = {{nullptr, 30000},   {"", 30000},   {"1", 10},          {"250", 2500},
               {"0", 30000},       {"-5", 30000}, {"12x", 30000},     {"8640000", 86400000},
               {"8640001", 30000}, {" 7", 30000}, {"99999999", 30000}};
  for (const Case& c : cases) {
    std::vector<std::string> entries;
    if (c.value != nullptr) entries.push_back(std::string("ZEB_REPLY_LIMIT=") + c.value);
    zp::ScopedHost host(zp::Configuration::from_entries(entries));
    EXPECT_EQ(zp::reply_limit_ms(), c.ms) << (c.value ? c.value : "unset");
  }
}

TEST(ReceiveTest, ARecordThatIsNoMessageIsRefusedWithoutReachingTheQueue) {
  ScratchDir dir;
  RunningChild run = start(dir, {"ZEB_RECEIVE_TEST_CHILD=serve"});
  int fd = run.child.channel.fd;
  for (std::string bad : {std::string("x"), std::string("\x07\0\0\0ab", 6), std::string()}) {
    ASSERT_EQ(::send(fd, bad.data(), bad.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bad.size()));
    char reply[8];
    ASSERT_EQ(::recv(fd, reply, sizeof reply, 0), 2);
    EXPECT_EQ(reply[0], 0);
    EXPECT_EQ(reply[1], 2);
  }
  EXPECT_EQ(send(run.child.channel, true, zp::close_message()), 4);
  EXPECT_EQ(finish(&run), "6 4 -104 mom\nend 0\n");
}

// Messages a parent sends ahead of their replies are read with one call and
// answered in batches: every reply comes, in order, also from a child that
// ends (exit, STOP) with replies held, and a refusal comes at once from a
// child that then stops reading, so the parent never waits for a reply held
// back. A record that is no message among them is refused in its turn.
TEST(ReceiveTest, RepliesToMessagesSentAheadComeInOrderAndNoneIsHeldBack) {
  struct Case {
    const char* what;
    const char* replies;  // the child's answers, in order
    const char* at;       // after which message it ends or stops reading
    const char* then;
    std::vector<std::string> records;  // "-" stands for a record that is no message
    std::vector<int> expected;         // the replies read, then 201 when the child ended
  } cases[] = {
      {"all answered", "0120", "9", "wait", {"a", "b", "c", "d"}, {0, 1, 2, 0}},
      {"ends with exit", "000", "2", "exit", {"a", "b", "c"}, {0, 0, 201}},
      {"ends with STOP", "000", "2", "stop", {"a", "b", "c"}, {0, 0, 201}},
      {"refuses, then stops reading", "0c0", "2", "wait", {"a", "b", "c"}, {0, 12}},
      {"a record that is no message", "00", "9", "wait", {"a", "-", "b"}, {0, 2, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const std::string gate = dir.path() + "/gate";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    RunningChild run = start(dir, {"ZEB_RECEIVE_TEST_CHILD=ahead", "ZEB_RECEIVE_TEST_GATE=" + gate,
                                   std::string("ZEB_RECEIVE_TEST_REPLIES=") + c.replies,
                                   std::string("ZEB_RECEIVE_TEST_AT=") + c.at,
                                   std::string("ZEB_RECEIVE_TEST_THEN=") + c.then});
    const zp::Connection& channel = run.child.channel;
    for (const std::string& r : c.records) {
      const std::string record = r == "-" ? std::string("x") : std::string("\1\0\0\0", 4) + r;
      ASSERT_EQ(::send(channel.fd, record.data(), record.size(), MSG_NOSIGNAL),
                static_cast<ssize_t>(record.size()));
    }
    // Every message is queued before the child reads the first.
    const int opened = ::open(gate.c_str(), O_WRONLY);
    ASSERT_GE(opened, 0);
    ASSERT_EQ(::write(opened, "g", 1), 1);
    ::close(opened);
    std::vector<int> got;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      zp::Result<zp::Reply> reply = zp::next_reply(channel, {}, 10000);
      got.push_back(reply.ok() ? reply->error : reply.code());
    }
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(zp::wait_child(&run.child), 0);
  }
}

TEST(ReceiveTest, StartupMessageIsPaddedToAnEvenLength) {
  char defaults[17] = "$VOL    SUB     ", in[25] = "$ZIN                    ",
       out[25] = "$ZOUT                   ";
  struct Case {
    std::string text;
    size_t length;
  };
  for (const Case& c : {Case{"", 68}, Case{"a", 68}, Case{"ab", 70}, Case{"abc", 70},
                        Case{std::string(529, 'x'), 596}}) {
    zp::Message m = zp::startup_message(defaults, in, out, c.text);
    ASSERT_EQ(m.size(), c.length) << c.text.size();
    EXPECT_EQ(std::string(m.data(), 2), "\xff\xff");
    EXPECT_EQ(std::string(m.data() + 2, 64), std::string(defaults) + in + out);
    EXPECT_EQ(std::string(m.data() + 66, c.text.size()), c.text);
    EXPECT_EQ(std::string(m.data() + 66 + c.text.size()), "");  // NUL bytes to the end
    EXPECT_EQ(m.back(), '\0');
  }
  zp::Message a = zp::assign_message("OUTFILE", "$DATA   SUB     FILE    ");
  ASSERT_EQ(a.size(), 108u);
  EXPECT_EQ(a[34], 7);
  EXPECT_EQ(std::string(a.data() + 35, 31), "OUTFILE" + std::string(24, ' '));
  EXPECT_EQ(std::string(a.data() + 66, 4), std::string("\x80\0\0\0", 4));
  EXPECT_EQ(std::string(a.data() + 70, 24), "$DATA   SUB     FILE    ");
  zp::Message p = zp::param_message({{"SPEED", "fast"}, {"", ""}});
  EXPECT_EQ(std::string(p.data(), p.size()), std::string("\xff\xfd\0\x02\x05SPEED\x04"
                                                         "fast\0\0",
                                                         17));
}

// The in-process queue of a program started from a shell, and the errors of
// the queue's procedures, in the order a program meets them.
TEST(ReceiveTest, ShellStartedConversationAndQueueErrors) {
  ScratchDir dir;
  const std::string long_name = "ZEB_ASSIGN_" + std::string(32, 'L');  // left out
  // A host of its own: the queue, its conversation and the replies to it
  // are this host's alone.
  zp::ScopedHost host(zp::Configuration::from_entries({
      "ZEB_DEFAULTS=$vol.sub",
      "ZEB_PARAM_Speed=fast",
      "ZEB_PARAM_BIG=" + std::string(256, 'v'),  // left out
      "ZEB_ASSIGN_OUTF=f1",                      // gets the defaults
      "ZEB_ASSIGN_BAD=$1.2.3",                   // left out
      long_name + "=$A.B.C",
      "ZEB_SOCKET_DIR=" + dir.path() + "/s",
      "ZEB_PROCESS_NAME=$RT3",
  }));
  zp::Result<std::vector<zp::ShellMessage>> played = zp::shell_conversation();
  ASSERT_EQ(played.code(), 0);
  const std::vector<zp::ShellMessage>& expected = *played;
  std::string text;
  for (const std::string& a : zp::command_arguments()) text += (text.empty() ? "" : " ") + a;
  ASSERT_EQ(expected.size(), 5u);
  EXPECT_EQ(expected[0].bytes, zp::open_message());
  EXPECT_EQ(expected[1].bytes, zp::startup_message("$VOL    SUB     ", "$ZIN                    ",
                                                   "$ZOUT                   ", text));
  EXPECT_EQ(expected[2].bytes, zp::assign_message("OUTF", "$VOL    SUB     F1      "));
  EXPECT_EQ(expected[3].bytes, zp::param_message({{"Speed", "fast"}}));
  EXPECT_EQ(expected[4].bytes, zp::close_message());

  std::set<int> before;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    before.insert(std::stoi(e.path().filename().string()));
  }
  int16_t fnum = -1, second = -1;
  ASSERT_EQ(FILE_OPEN_(mask({1, 2, 3}), "$receive", 8, &fnum), 0);
  EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &second), 12);
  // New descriptors (the socket and the lock) stay above 2 and are not
  // handed to children.
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    int fd = std::stoi(e.path().filename().string());
    if (before.count(fd) != 0 || fcntl(fd, F_GETFD) < 0) continue;
    EXPECT_GT(fd, 2);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << fd;
  }
  char buffer[600];
  int16_t count = -1, f = fnum, error = -1;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(READUPDATE(mask({1, 2, 3, 4}), fnum, buffer, 596, &count),
              expected[i].system ? 6 : 0);
    ASSERT_EQ(static_cast<size_t>(count), expected[i].bytes.size());
    EXPECT_EQ(std::memcmp(buffer, expected[i].bytes.data(), expected[i].bytes.size()), 0);
    FILE_GETINFO_(mask({1, 2}), fnum, &error);
    EXPECT_EQ(error, expected[i].system ? 6 : 0);
    if (i == 0) {
      EXPECT_EQ(READUPDATE(mask({1, 2, 3}), fnum, buffer, 596), 2);  // no reply yet
    }
    EXPECT_EQ(REPLY(mask({5}), nullptr, 0, nullptr, 0, static_cast<int16_t>(i == 1 ? 70 : 0)), 0);
  }
  EXPECT_EQ(REPLY(mask({5}), nullptr, 0, nullptr, 0, 0), 2);  // nothing to answer
  EXPECT_EQ(zp::shell_replies(), (std::vector<int16_t>{0, 70, 0, 0, 0}));
  // A waited queue has nothing to complete; a wait with no message ends
  // in time.
  EXPECT_EQ(AWAITIO(mask({1}), &f), 26);
  EXPECT_EQ(READX(mask({1, 2, 3}), fnum, buffer, 10), 2);
  ASSERT_EQ(FILE_CLOSE_(mask({1}), fnum), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/s/RT3"));

  // Nowait depth 1: the conversation is not played again.
  ASSERT_EQ(FILE_OPEN_(mask({1, 2, 3, 6}), "$RECEIVE", 8, &fnum, 0, 0, 1), 0);
  f = -1;
  EXPECT_EQ(AWAITIO(mask({1, 5}), &f, nullptr, nullptr, nullptr, 0), 26);
  EXPECT_EQ(READUPDATE(mask({1, 2, 3}), fnum, buffer, 596), 0);
  EXPECT_EQ(READUPDATE(mask({1, 2, 3}), fnum, buffer, 596), 28);
  EXPECT_EQ(AWAITIO(mask({1, 5}), &f, nullptr, nullptr, nullptr, 0), 40);  // still outstanding
  EXPECT_EQ(AWAITIO(mask({1, 5}), &f, nullptr, nullptr, nullptr, 1), 40);  // cancelled
  EXPECT_EQ(AWAITIO(mask({1, 5}), &f, nullptr, nullptr, nullptr, 1), 26);
  FILE_CLOSE_(mask({1}), fnum);
}

TEST(ReceiveTest, SocketDirectoryMustBeThisUsersOwnAndPrivate) {
  ScratchDir dir;
  std::string d = dir.path();
  mkdir((d + "/open").c_str(), 0755);
  chmod((d + "/open").c_str(), 0755);
  mkdir((d + "/real").c_str(), 0700);
  symlink((d + "/real").c_str(), (d + "/link").c_str());
  std::ofstream(d + "/file") << "x";
  mkdir((d + "/other").c_str(), 0700);
  bool root = geteuid() == 0 && chown((d + "/other").c_str(), 65534, 65534) == 0;
  struct Case {
    std::string path;
    bool create;
    int16_t error;
  };
  const std::string overlong = d + "/" + std::string(120 - d.size(), 'x');
  for (const Case& c :
       {Case{d + "/new", true, 0}, Case{d + "/new", false, 0}, Case{d + "/missing", false, 11},
        Case{d + "/open", true, 48}, Case{d + "/link", true, 48}, Case{d + "/file", true, 48},
        Case{overlong, true, 13}, Case{"relative-sockets", true, 13}}) {
    const zp::Status checked = zp::check_socket_directory(c.path, c.create);
    EXPECT_EQ(checked.code(), c.error) << c.path;
    // A refusal names the directory, and makes nothing.
    if (c.error == 48 || c.error == 13) {
      EXPECT_NE(checked.what().find(c.path), std::string::npos) << checked.what();
    }
    if (c.error == 13) {
      EXPECT_FALSE(std::filesystem::exists(c.path)) << c.path;
    }
  }
  if (root) {
    const zp::Status other = zp::check_socket_directory(d + "/other", true);
    EXPECT_EQ(other.code(), 48);
    EXPECT_NE(other.what().find(d + "/other"), std::string::npos) << other.what();
  }
}

}  // namespace

namespace {

// Each host has a queue of its own: a second host opens its own under the
// same number, and the socket of a named process goes with its host even
// when the queue was never closed.
TEST(QueueHost, EachHostHasItsOwnQueueAndItsSocketGoesWithIt) {
  ScratchDir dir;
  const std::string sockets = dir.path() + "/s";
  auto config = [&](const char* name) {
    return zp::Configuration::from_entries(
        {"ZEB_SOCKET_DIR=" + sockets, std::string("ZEB_PROCESS_NAME=") + name});
  };
  {
    zp::ScopedHost a(config("$QA"));
    ASSERT_EQ(zp::receive_open(40, 0).code(), 0);
    EXPECT_TRUE(zp::receive_holds(40));
    EXPECT_TRUE(std::filesystem::exists(sockets + "/QA"));
    {
      zp::ScopedHost b(config("$QB"));
      EXPECT_FALSE(zp::receive_holds(40));
      ASSERT_EQ(zp::receive_open(40, 0).code(), 0);
      EXPECT_EQ(zp::receive_open(41, 0).code(), 12);
      // The typed calls serve this host's conversation: "open" first, and
      // no reply before a read.
      char buffer[64];
      zp::Result<zp::Delivery> got = zp::receive_read(buffer);
      ASSERT_TRUE(got.ok()) << got.status().to_string();
      EXPECT_TRUE(got->system);
      EXPECT_EQ(got->count, zp::kOpenLength);
      EXPECT_EQ(zp::receive_read(buffer).code(), 2);  // the message awaits its reply
      ASSERT_EQ(zp::receive_info().value()[0], 0);    // a system message
      EXPECT_EQ(zp::receive_reply({}, 0).code(), 0);
      EXPECT_EQ(zp::receive_reply({}, 0).code(), 2);  // nothing to answer
      EXPECT_EQ(zp::shell_replies(), (std::vector<int16_t>{0}));
    }
    EXPECT_FALSE(std::filesystem::exists(sockets + "/QB"));
    EXPECT_TRUE(zp::receive_holds(40));
    // At exit only the socket's path is removed.
    zp::receive_at_exit();
    EXPECT_FALSE(std::filesystem::exists(sockets + "/QA"));
  }
  EXPECT_FALSE(zp::receive_holds(40));
}

}  // namespace

namespace {

// A named process under load: many openers at once, openers it cannot
// take, and openers that wait for room in its queue of connections.

// Opens the named process as FILE_OPEN_ does: the connection, then
// "open". The reply's error, or the transport's.
int16_t open_named(const std::string& name, zp::Connection* c, int timeout_ms = 10000) {
  zp::Result<zp::Connection> made = zp::connect_named(name, timeout_ms);
  if (!made.ok()) return made.code();
  *c = *made;
  const zp::Message open = zp::open_message();
  zp::Request request;
  request.message = open;
  request.system = true;
  request.timeout_ms = 10000;
  zp::Result<zp::Reply> got = zp::exchange(*c, request);
  return got.ok() ? got->error : got.code();
}

// True when the echo server answers text with text.
bool echoed(const zp::Connection& c, const std::string& text) {
  char reply[600];
  zp::Request request;
  request.message = text;
  request.reply_to = reply;
  request.timeout_ms = 10000;
  zp::Result<zp::Reply> got = zp::exchange(c, request);
  return got.ok() && got->error == 0 && std::string(reply, got->length) == text;
}

// One requester as a program is written: FILE_OPEN_ of the server, each
// message with WRITEREADX and its reply checked, FILE_CLOSE_. The exit
// status: 0, the open's error, or 250 for a reply that is not its request.
int request(int who, int messages) {
  int16_t f = -1;
  if (int16_t error = FILE_OPEN_(mask({1, 2, 3}), "$ECHO", 5, &f); error != 0) {
    return std::min<int>(error, 249);
  }
  for (int m = 0; m < messages; ++m) {
    char text[64], buffer[64];
    std::memset(text, '.', sizeof text);
    std::snprintf(text, sizeof text, "requester %d message %d", who, m);
    std::memcpy(buffer, text, sizeof text);
    int16_t got = 0;
    if (WRITEREADX(mask({1, 2, 3, 4, 5}), f, buffer, 64, 64, &got) != 0 || got != 64 ||
        std::memcmp(buffer, text, sizeof text) != 0) {
      return 250;
    }
  }
  return FILE_CLOSE_(mask({1}), f) == 0 ? 0 : 251;
}

// Five hundred requesters start together (on one signal: the gate's
// close) against one server: every one is served, every reply is its
// request, and the server counts every message.
TEST(ReceiveLoad, FiveHundredRequestersAtOnceAreAllServed) {
  constexpr int kRequesters = 500, kMessages = 4;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_max < kRequesters + 64) {
    GTEST_SKIP() << "the descriptor limit holds fewer than " << kRequesters << " requesters";
  }
  ScratchDir dir;
  zeb::testing::ScopedVariable sockets("ZEB_SOCKET_DIR", dir.path() + "/sockets");
  RunningChild server = start(dir, {"ZEB_RECEIVE_TEST_CHILD=echo", "ZEB_PROCESS_NAME=$ECHO"});
  ASSERT_EQ(send(server.child.channel, true, zp::open_message()), 0);  // it listens now
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < kRequesters; ++i) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      // The read ends when the parent closes the gate: all start at once.
      (void)!::read(gate[0], &go, 1);
      std::_Exit(request(i, kMessages));
    }
    ASSERT_GT(pid, 0);
    pids.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  std::map<int, int> statuses;  // exit status: how many requesters
  for (pid_t pid : pids) {
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ++statuses[WIFEXITED(status) ? WEXITSTATUS(status) : -1];
  }
  EXPECT_EQ(statuses, (std::map<int, int>{{0, kRequesters}}));
  EXPECT_EQ(send(server.child.channel, true, zp::close_message()), 0);
  EXPECT_EQ(finish(&server), "served " + std::to_string(kRequesters * kMessages) + "\n");
}

// Who a named process takes: this user's openers while it has descriptors
// for them (each answered, whoever else came); the first one beyond its
// descriptors is refused with 61 and those it holds go on being served;
// another user's opener is refused with 48 (only root can be another user
// here: the socket directory is opened to it as a race against the
// directory would).
TEST(ReceiveLoad, OpenersBeyondTheDescriptorsOrOfAnotherUserAreRefused) {
  ScratchDir dir;
  const std::string sockets = dir.path() + "/sockets";
  zeb::testing::ScopedVariable variable("ZEB_SOCKET_DIR", sockets);
  RunningChild server = start(
      dir, {"ZEB_RECEIVE_TEST_CHILD=echo", "ZEB_PROCESS_NAME=$ECHO", "ZEB_RECEIVE_TEST_FILES=24"});
  ASSERT_EQ(send(server.child.channel, true, zp::open_message()), 0);
  struct Case {
    const char* who;
    bool other_user;
    int16_t refusal;  // what the opener beyond those taken gets
  };
  for (const Case& c : {Case{"another user", true, 48}, Case{"this user", false, 61}}) {
    if (c.other_user) {
      if (::geteuid() != 0) continue;  // no other user to be without root
      ASSERT_EQ(::chmod(sockets.c_str(), 0711), 0);
      ASSERT_EQ(::chmod((sockets + "/ECHO").c_str(), 0777), 0);
      zeb::testing::ChildRun other = zeb::testing::run_in_child([] {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 100;
        zp::Connection c;
        return static_cast<int>(open_named("$ECHO", &c));
      });
      ASSERT_EQ(::chmod(sockets.c_str(), 0700), 0);
      EXPECT_EQ(other.status, c.refusal) << c.who;
      continue;
    }
    std::vector<zp::Connection> held;
    int16_t error = 0;
    while (held.size() < 64) {
      zp::Connection c;
      error = open_named("$ECHO", &c);
      if (error != 0) break;
      held.push_back(c);
    }
    EXPECT_EQ(error, c.refusal) << c.who << " after " << held.size();
    EXPECT_GT(held.size(), 4u) << c.who;
    for (size_t i = 0; i < held.size(); ++i) {
      EXPECT_TRUE(echoed(held[i], "still served " + std::to_string(i))) << c.who << " " << i;
    }
    for (zp::Connection& c : held) zp::close_connection(&c);
  }
  EXPECT_EQ(send(server.child.channel, true, zp::close_message()), 0);
  const std::string out = finish(&server);
  EXPECT_EQ(out.rfind("served ", 0), 0u) << out;
}

// The system call the thread tid is blocked in, or -1 when it runs.
long blocked_in(pid_t tid) {
  const std::string text = file_text("/proc/self/task/" + std::to_string(tid) + "/syscall");
  return text.empty() || text[0] == 'r' ? -1 : std::atol(text.c_str());
}

// An open waits while the process's queue of connections is full, and is
// taken when the process accepts another; it gives 40 only when its limit
// passes, and 14 when nobody listens. The process here is a listener of
// the test's own with room for one waiting connection, already taken.
TEST(ReceiveLoad, OpensWaitTheirTurnInAFullQueue) {
  ScratchDir dir;
  const std::string sockets = dir.path() + "/sockets";
  ASSERT_EQ(::mkdir(sockets.c_str(), 0700), 0);
  zeb::testing::ScopedVariable variable("ZEB_SOCKET_DIR", sockets);
  struct Case {
    const char* name;
    bool listens;
    bool accepts;  // once the open waits
    int limit_ms;
    int16_t expected;
  };
  for (const Case& c : {Case{"$FULLA", true, true, -1, 0}, Case{"$FULLB", true, false, 20, 40},
                        Case{"$NONE", false, false, -1, 14}}) {
    int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0), filler = -1;
    ASSERT_GE(listener, 0);
    if (c.listens) {
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s", sockets.c_str(),
                    c.name + 1);
      ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
      ASSERT_EQ(::listen(listener, 0), 0);
      filler = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
      ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    std::atomic<pid_t> tid{0};
    std::atomic<bool> done{false};
    int16_t result = -1;
    std::thread opener([&] {
      tid = static_cast<pid_t>(::syscall(SYS_gettid));
      zp::Result<zp::Connection> made = zp::connect_named(c.name, c.limit_ms);
      result = made.code();
      if (made.ok()) ::close(made->fd);
      done = true;
    });
    if (c.accepts) {
      // Taken once it waits in its connect, and not before.
      while (tid == 0 || (!done && blocked_in(tid) != SYS_connect)) std::this_thread::yield();
      EXPECT_FALSE(done) << c.name << " did not wait";
      const int taken = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      EXPECT_GE(taken, 0);
      ::close(taken);
    }
    opener.join();
    EXPECT_EQ(result, c.expected) << c.name;
    ::close(filler);
    ::close(listener);
  }
}

// The wait in line and the wait for the reply to "open" share one reply
// limit: what the first took (here 20 of 30 s, on a clock the test moves)
// is not there for the second, so an open never takes more than the limit.
TEST(ReceiveLoad, AnOpenWaitsInLineAndForItsReplyWithinOneLimit) {
  ScratchDir dir;
  const std::string sockets = dir.path() + "/sockets";
  ASSERT_EQ(::mkdir(sockets.c_str(), 0700), 0);
  zeb::testing::ScopedVariable variable("ZEB_SOCKET_DIR", sockets);
  // A process that takes the connection and never answers.
  int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/SLOW", sockets.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  int64_t now = zp::syscalls().monotonic_ns();
  int line_wait = -2, reply_wait = -2;
  {
    zp::SyscallOverride scope;
    zp::syscalls().monotonic_ns = [&] { return now; };
    zp::syscalls().connect_unix_waiting = [&](int fd, const char* path, int timeout_ms) {
      line_wait = timeout_ms;
      now += 20000 * int64_t{1000000};  // its turn came after 20 s
      return scope.saved().connect_unix_waiting(fd, path, timeout_ms);
    };
    zp::syscalls().poll = [&](pollfd* fds, unsigned long n, int timeout_ms) {
      if (timeout_ms > 0) reply_wait = timeout_ms;
      return timeout_ms > 0 ? 0 : scope.saved().poll(fds, n, timeout_ms);
    };
    int16_t filenum = -1;
    EXPECT_EQ(FILE_OPEN_(mask({1, 2, 3}), "$SLOW", 5, &filenum), 40);
  }
  EXPECT_EQ(line_wait, 30000);
  EXPECT_EQ(reply_wait, 10000);
  ::close(listener);
}

}  // namespace
