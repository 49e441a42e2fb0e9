// Process spawning with real processes: the test binary re-runs itself as
// the child (ZEB_SPAWN_TEST_CHILD says what it does there) and as the
// process-creation monitor $CMON.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/procinfo.h>
#include <zeb/platform/receive.h>
#include <zeb/platform/this_process.h>
#include <zeb/util/helpers.h>
#include "env/test_env.h"
#include "gtest/gtest.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/messages.h"
#include "platform/processes/conversation.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"

namespace zp = zeb::platform;
using zeb::mask;

namespace {

int16_t Code(const char* m) { return zp::get16(m); }

// A start-up message from the codec: defaults $VOL.SUB, IN $IN, OUT $OUT
// and the given parameter text.
std::string Startup(const std::string& text) {
  const std::string defaults = zeb::test::pad("$VOL", 8) + zeb::test::pad("SUB", 8);
  const std::string in = zeb::test::pad("$IN", 24), out = zeb::test::pad("$OUT", 24);
  zp::Message m = zp::startup_message(defaults.c_str(), in.c_str(), out.c_str(), text);
  return std::string(m.begin(), m.end());
}

// ---------------------------------------------------------------------------
// The child's parts. Each writes what it saw to ZEB_SPAWN_TEST_OUT.

std::string g_log;

// Writes the log whole: the parent sees it complete or not at all.
// The log is always a file of a test's scratch directory, never a device.
void Flush() {
  const std::string out = std::getenv("ZEB_SPAWN_TEST_OUT");
  std::ofstream(out + ".part") << g_log;
  std::rename((out + ".part").c_str(), out.c_str());
}

// Never returns: a process that has stopped answering.
[[noreturn]] void Hang() {
  for (;;) ::pause();
}

int16_t Number(const char* variable, int16_t otherwise) {
  const char* text = std::getenv(variable);
  return text != nullptr ? static_cast<int16_t>(std::atoi(text)) : otherwise;
}

// Serves $RECEIVE by hand: logs each message as "sys|data <length> <hex>",
// answers "open" with ZEB_SPAWN_TEST_OPEN (0 unless set), the start-up
// message with ZEB_SPAWN_TEST_REPLY (70 unless set) and everything else
// with ZEB_SPAWN_TEST_OTHERS (0 unless set), and ends after "close". With ZEB_SPAWN_TEST_DIE set it
// kills itself after answering the start-up message; with ZEB_SPAWN_TEST_STALL ("open", "startup"
// or "close") it stops answering at that message.
int Record() {
  int16_t fnum = -1;
  if (FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) return 10;
  const int16_t startup_reply = Number("ZEB_SPAWN_TEST_REPLY", 70);
  const int16_t other_reply = Number("ZEB_SPAWN_TEST_OTHERS", 0);
  const int16_t open_reply = Number("ZEB_SPAWN_TEST_OPEN", 0);
  const std::string stall =
      std::getenv("ZEB_SPAWN_TEST_STALL") ? std::getenv("ZEB_SPAWN_TEST_STALL") : "";
  if (stall == "open") Hang();
  const int16_t refuse_at = Number("ZEB_SPAWN_TEST_REFUSE_AT", -1);
  int16_t handed_on = 0;
  char buffer[600];
  for (;;) {
    int16_t count = 0;
    int16_t error = READUPDATE(mask({1, 2, 3, 4}), fnum, buffer, zp::kStartupReadCount, &count);
    if (error != 0 && error != 6) return 11;
    g_log += std::string(error == 6 ? "sys " : "data ") + std::to_string(count) + " " +
             zeb::testing::hex(buffer, static_cast<size_t>(count)) + "\n";
    const int16_t code = Code(buffer);
    const bool startup = error == 0 && code == zeb::platform::kStartupCode;
    const bool close = error == 6 && (code == zp::kCloseCode || code == zp::kOldCloseCode);
    if ((stall == "startup" && startup) || (stall == "close" && close)) Hang();
    // ZEB_SPAWN_TEST_REFUSE_AT n: the n-th message handed on (1 the first)
    // is answered with ZEB_SPAWN_TEST_REFUSAL instead, the log written
    // first (a refusal ends the child).
    const bool refused = error == 0 && !startup && ++handed_on == refuse_at;
    const bool open = error == 6 && (code == zp::kOpenCode || code == zp::kOldOpenCode);
    if (refused) Flush();
    REPLY(mask({5}), nullptr, 0, nullptr, 0,
          open      ? open_reply
          : startup ? startup_reply
          : refused ? Number("ZEB_SPAWN_TEST_REFUSAL", 0)
                    : other_reply);
    if (refused) Hang();  // what it got until then stays in the log
    if (error == 0 && code == zeb::platform::kStartupCode &&
        std::getenv("ZEB_SPAWN_TEST_DIE") != nullptr) {
      Flush();
      ::raise(SIGKILL);
    }
    if (error == 6 && (code == zeb::platform::kCloseCode || code == zeb::platform::kOldCloseCode))
      break;
  }
  Flush();
  return 0;
}

// Runs the library's intake into an environment record and reports what
// ENV_INQUIRE gives: the parameter text, the PARAMs named in
// ZEB_SPAWN_TEST_NAMES, the ASSIGN "=OUTPUT", and its nice value.
int Intake() {
  zeb::test::TestEnv env;
  int16_t result = ENV_INITIALIZER_(mask({1, 2, 3, 4}), ENV_STARTUPPROC_, ENV_ASSIGNPROC_,
                                    ENV_PARAMPROC_, env.get());
  g_log += "intake " + std::to_string(result) + "\n";
  char buffer[600];
  int16_t length = 0;
  ENV_INQUIRE(mask({1, 2, 4, 5}), env.get(), ENVINFO_PARAMTEXT, nullptr, buffer, &length);
  g_log += "text " + std::string(buffer, static_cast<size_t>(length)) + "\n";
  std::istringstream names(std::getenv("ZEB_SPAWN_TEST_NAMES"));
  std::string name;
  while (names >> name) {
    length = 0;
    int16_t error =
        ENV_INQUIRE(mask({1, 2, 3, 4, 5}), env.get(), ENVINFO_PARAM, name.c_str(), buffer, &length);
    g_log += "param " + name + " " + std::to_string(error) + " " +
             std::string(buffer, static_cast<size_t>(error == 0 ? length : 0)) + "\n";
  }
  length = 0;
  int16_t error =
      ENV_INQUIRE(mask({1, 2, 3, 4, 5}), env.get(), ENVINFO_ASSIGN, "=OUTPUT", buffer, &length);
  g_log += "assign " + std::to_string(error) + " " + std::string(buffer, 24) + "\n";
  errno = 0;
  g_log += "nice " + std::to_string(::getpriority(PRIO_PROCESS, 0)) + "\n";
  Flush();
  return 0;
}

// The message that ends the monitor.
constexpr int16_t kStopCode = 0x7FFF;

// The process-creation monitor: answers every request on $RECEIVE until it
// is told to stop. ZEB_SPAWN_TEST_CMON "refuse" refuses; a number allows with that
// processor, the requested program and priority. Each request is logged.
int Monitor() {
  int16_t fnum = -1;
  if (FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum) != 0) return 10;
  const std::string how = std::getenv("ZEB_SPAWN_TEST_CMON");
  long refused = 0;  // told to ZEB_SPAWN_TEST_SERVED, when set, as it stops
  char buffer[600];
  for (;;) {
    int16_t count = 0;
    int16_t error = READUPDATE(mask({1, 2, 3, 4}), fnum, buffer, zp::kStartupReadCount, &count);
    if (error != 0 && error != 6) return 11;
    if (error == 0 && Code(buffer) == kStopCode) {
      if (const char* served = std::getenv("ZEB_SPAWN_TEST_SERVED")) {
        zeb::testing::write_text(served, std::to_string(refused) + "\n");
      }
      REPLY(mask({5}), nullptr, 0, nullptr, 0, 0);
      STOP();  // removes the monitor's socket
    }
    if (error == 6 || Code(buffer) != zp::kCmonRequestCode) {
      REPLY(mask({5}), nullptr, 0, nullptr, 0, 0);
      continue;
    }
    if (how == "hang") Hang();
    if (std::getenv("ZEB_SPAWN_TEST_OUT") != nullptr) {
      g_log += zeb::testing::hex(buffer, static_cast<size_t>(count)) + "\n";
      Flush();
    }
    char reply[30];
    std::memset(reply, 0, sizeof reply);
    if (how == "refuse") {
      ++refused;
      reply[1] = 1;
      REPLY(mask({1, 2, 5}), reply, 2, nullptr, 0, 0);
      continue;
    }
    std::memcpy(reply + 2, buffer + 54, 26);  // program and priority as asked
    const int processor = std::atoi(how.c_str());
    reply[28] = static_cast<char>(processor >> 8);
    reply[29] = static_cast<char>(processor & 0xFF);
    REPLY(mask({1, 2, 5}), reply, 30, nullptr, 0, 0);
  }
}

// Spawns a recording child with at most ZEB_SPAWN_TEST_LIMIT descriptors
// open, and logs the result: "spawn <error> <creation error word>".
int Limited() {
  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(Number("ZEB_SPAWN_TEST_LIMIT", 5));
  zeb::test::TestEnv env;
  char program[24];
  PROCESSINFO(mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, program);
  zeb::testing::set_variable("ZEB_SPAWN_TEST_CHILD", "record");
  ::setrlimit(RLIMIT_NOFILE, &tight);
  int16_t word = -1;
  const int16_t result =
      ENV_SPAWN(mask({1, 2, 8}), env.get(), program, nullptr, 0, 0, nullptr, nullptr, &word);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  g_log += "spawn " + std::to_string(result) + " " + std::to_string(word) + "\n";
  Flush();
  return 0;
}

// A library parent that is killed in the middle of a conversation: starts
// an intake child, runs the first ZEB_SPAWN_TEST_STEPS steps of the
// conversation (each message is one step sent and one answered; an odd
// count stops after a message is sent, before its reply) and kills itself.
int Killer() {
  const int steps = Number("ZEB_SPAWN_TEST_STEPS", 0);
  zp::Child child;
  zeb::testing::set_variable("ZEB_SPAWN_TEST_CHILD", "intake");
  if (!zp::start_child({"/proc/self/exe"}, {}, true, &child).ok()) return 12;
  const std::vector<std::pair<bool, zp::Message>> talk = {
      {true, zp::open_message()},
      {false, zp::startup_from_stored(Startup("x").data()).value()},
      {false, zp::param_message({{"P", "V"}})},
      {true, zp::close_message()}};
  int step = 0;
  for (const auto& [system, message] : talk) {
    if (step++ == steps) ::raise(SIGKILL);
    if (step++ == steps) {
      zp::Message frame = {system ? '\2' : '\1', 0, 0, 0};
      frame.insert(frame.end(), message.begin(), message.end());
      ::send(child.channel.fd, frame.data(), frame.size(), MSG_NOSIGNAL);
      ::raise(SIGKILL);
    }
    zp::Request request;
    request.message = message;
    request.system = system;
    // The reply changes nothing: the parent dies at its next step.
    zp::exchange(child.channel, request).status().ignore();
  }
  ::raise(SIGKILL);
  return 0;
}

std::string OwnProgram();

// Spawns ZEB_SPAWN_TEST_SPAWNS times once the gate (a FIFO) opens, and
// logs how many spawns gave each result ("310 25").
int Spawner() {
  const int gate = ::open(std::getenv("ZEB_SPAWN_TEST_GATE"), O_RDONLY);
  if (gate < 0) return 20;
  ::close(gate);
  const std::string program = OwnProgram();
  const std::string startup = Startup("t");
  zeb::test::TestEnv env;
  std::map<int16_t, int> results;
  for (int i = std::atoi(std::getenv("ZEB_SPAWN_TEST_SPAWNS")); i > 0; --i) {
    ++results[ENV_SPAWN(mask({1, 2, 6}), env.get(), program.data(), nullptr, 0, 0, startup.data())];
  }
  for (const auto& [result, count] : results) {
    g_log += std::to_string(result) + " " + std::to_string(count) + "\n";
  }
  Flush();
  return 0;
}

struct ChildMode : testing::Environment {
  void SetUp() override {
    const char* mode = std::getenv("ZEB_SPAWN_TEST_CHILD");
    if (mode == nullptr) return;
    const std::string m = mode;
    int status = m == "record"    ? Record()
                 : m == "intake"  ? Intake()
                 : m == "cmon"    ? Monitor()
                 : m == "limited" ? Limited()
                 : m == "killer"  ? Killer()
                 : m == "spawner" ? Spawner()
                                  : 0;
    if (status == 0) STOP();  // a named child removes its socket
    std::_Exit(status);
  }
};
testing::Environment* const kChildMode = testing::AddGlobalTestEnvironment(new ChildMode);

// ---------------------------------------------------------------------------
// The parent's side.

std::string OwnProgram() {
  char name[24];
  PROCESSINFO(mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, name);
  return std::string(name, 24);
}

// Sets variables of the host's configuration for one scope: what this
// process's library reads, and the environment every child it makes is
// given.
class ChildVariables {
 public:
  ChildVariables(std::initializer_list<std::pair<const char*, std::string>> vars) {
    for (const auto& [name, value] : vars) scoped_.push_back(std::make_unique<Scoped>(name, value));
  }

 private:
  using Scoped = zeb::testing::ScopedVariable;
  std::vector<std::unique_ptr<Scoped>> scoped_;
};

// The entries of a directory, . and .. aside (0 when it cannot be read).
int EntriesIn(const std::string& path) {
  int n = 0;
  if (DIR* d = ::opendir(path.c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// The child's log, once it has ended (pid 0: once the log is there).
std::string Lines(const std::string& path, long pid) {
  if (pid != 0) {
    EXPECT_TRUE(zeb::testing::process_gone(pid));
  }
  zeb::testing::wait_until([&] { return ::access(path.c_str(), F_OK) == 0; });
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The messages a recording child logged, as (kind, length, hex).
struct Logged {
  std::string kind;
  int length;
  std::string hex;
};
std::vector<Logged> Parse(const std::string& log) {
  std::vector<Logged> out;
  std::istringstream in(log);
  Logged l;
  while (in >> l.kind >> l.length) {
    l.hex.clear();
    if (l.length > 0) in >> l.hex;
    out.push_back(l);
  }
  return out;
}

TEST(Spawn, TheChildReceivesStartupAssignsAndParamsInOrder) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/log";
  struct Case {
    std::string text;
    int written;        // the start-up message's length: even, padded
    const char* reply;  // the child's answer to the start-up message
    const char* name;   // the child's process name, if any
  } cases[] = {{"", 68, "70", nullptr},
               {"a", 68, "70", nullptr},
               {"ab", 70, "70", "$SPWN "},
               {"odd.", 72, "70", nullptr},
               {"odd.", 72, "0", nullptr}};  // 0: no ASSIGN or PARAM follows
  zeb::testing::ScratchDirectory sockets;
  ChildVariables socket_dir{{"ZEB_SOCKET_DIR", sockets.path()}};
  for (const Case& c : cases) {
    zeb::test::TestEnv env;
    std::string startup = Startup(c.text);
    ASSERT_TRUE(env.assign("INPUT", "$A", "B", "C"));
    ASSERT_TRUE(env.assign("OUTPUT", "$D", "E", "F"));
    for (const char* name : {"ONE", "TWO", "THREE"}) ASSERT_TRUE(env.param(name, "V"));
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"},
                        {"ZEB_SPAWN_TEST_OUT", out},
                        {"ZEB_SPAWN_TEST_REPLY", c.reply}};
    std::string program = OwnProgram();
    int16_t id[4], error = -1;
    ASSERT_EQ(ENV_SPAWN(mask({1, 2, 3, 6, 7, 8}) & ~(c.name ? 0u : mask({3})), env.get(),
                        program.data(), c.name, 0, 0, startup.data(), id, &error),
              0);
    EXPECT_EQ(error, 0);
    long pid = zeb::testing::host_pid(id);
    if (c.name != nullptr) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(id), 6), c.name);
      pid = 0;  // a named process's identifier holds no pid
    }
    std::vector<Logged> got = Parse(Lines(out, pid));
    ::unlink(out.c_str());
    const bool more = std::string(c.reply) == "70";
    ASSERT_EQ(got.size(), more ? 8u : 3u) << c.text;
    EXPECT_EQ(got[0].kind, "sys");
    EXPECT_EQ(got[0].hex.substr(0, 4), "FF99");  // open (-103)
    std::string want = zeb::testing::hex(startup.data(), startup.size());
    if (startup.size() % 2 != 0) want += "00";
    EXPECT_EQ(got[1].length, c.written);
    EXPECT_EQ(got[1].hex, want);
    EXPECT_EQ(got.back().hex.substr(0, 4), "FF98");  // close (-104)
    if (!more) continue;
    // ASSIGNs and PARAMs newest first, one PARAM per message.
    EXPECT_EQ(got[2].hex.substr(70, 12), zeb::testing::hex("OUTPUT", 6));
    EXPECT_EQ(got[3].hex.substr(70, 10), zeb::testing::hex("INPUT", 5));
    const char* params[] = {"THREE", "TWO", "ONE"};
    for (int i = 0; i < 3; ++i) {
      std::string p = params[i];
      EXPECT_EQ(got[4 + i].hex, "FFFD0001" +
                                    zeb::testing::hex(std::string(1, char(p.size())).data(), 1) +
                                    zeb::testing::hex(p.data(), p.size()) + "0156");
    }
  }
}

// Messages go to the child ahead of their replies; the first reply that is
// no "continue" still ends the spawn with its error (308 for a negative
// one) whichever message it answers, the first, one in the middle or the
// last, and the child is ended: it gets no "close" and is gone when the
// spawn returns.
TEST(Spawn, ARefusalAmongManyMessagesEndsTheSpawnWithItsError) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/log";
  const std::string program = OwnProgram();
  std::string startup = Startup("t");
  zeb::test::TestEnv env;
  // Names are built by appending: GCC 12's -Wrestrict misreads
  // "literal" + std::to_string(i) in optimised builds.
  for (int i = 0; i < 20; ++i)
    ASSERT_TRUE(env.assign(std::string("LOGICAL").append(std::to_string(i)), "$A", "B", "C"));
  for (int i = 0; i < 40; ++i)
    ASSERT_TRUE(env.param(std::string("P").append(std::to_string(i)), "V"));
  struct Case {
    const char *at, *refusal;
    int16_t result;
  } cases[] = {{"1", "12", 12}, {"17", "45", 45}, {"33", "-2", 308}, {"60", "11", 11}};
  for (const Case& c : cases) {
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"},
                        {"ZEB_SPAWN_TEST_OUT", out},
                        {"ZEB_SPAWN_TEST_REFUSE_AT", c.at},
                        {"ZEB_SPAWN_TEST_REFUSAL", c.refusal}};
    int16_t id[4];
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        c.result)
        << c.at;
    EXPECT_EQ(::kill(static_cast<pid_t>(zeb::testing::host_pid(id)), 0), -1) << c.at;
    EXPECT_EQ(errno, ESRCH) << c.at;
    std::vector<Logged> got = Parse(Lines(out, 0));
    ::unlink(out.c_str());
    // open, the start-up message and the messages up to the refused one,
    // every one of them a data message, as the child logged them before
    // it answered the refused one.
    ASSERT_EQ(got.size(), 2u + static_cast<size_t>(std::atoi(c.at))) << c.at;
    for (size_t i = 1; i < got.size(); ++i) EXPECT_EQ(got[i].kind, "data") << c.at << " " << i;
  }
}

TEST(Spawn, OwnStartupIsHandedOnOrAnEmptyTextWithoutOne) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/log";
  std::string program = OwnProgram();
  struct Case {
    const char* own;  // the text of this process's start-up message (null: none arrived)
    std::string want;
  } cases[] = {
      {"from my parent", Startup("from my parent")},
      {nullptr, std::string("\xFF\xFF", 2) + std::string(64, ' ') + std::string(2, '\0')},
  };
  for (const Case& c : cases) {
    zeb::test::TestEnv env;
    // Stored as the intake stores it: through its text, without the NUL.
    if (c.own != nullptr)
      env.startup(Startup(c.own).substr(0, zp::kStartupTextOffset + std::strlen(c.own)));
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"}, {"ZEB_SPAWN_TEST_OUT", out}};
    int16_t id[4];
    ASSERT_EQ(ENV_SPAWN(mask({1, 2, 7}), env.get(), program.data(), nullptr, 0, 0, nullptr, id), 0);
    std::vector<Logged> got = Parse(Lines(out, zeb::testing::host_pid(id)));
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[1].hex, zeb::testing::hex(c.want.data(), c.want.size()));
  }
}

TEST(Spawn, TheChildSeesItsEnvironmentThroughInquiry) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/log";
  zeb::test::TestEnv env;
  ASSERT_TRUE(env.assign("OUTPUT", "$D", "E", "F"));
  ASSERT_EQ(ENV_ADDPARAM(env.get(), "speed", 5, "fast", 4), 0);
  ASSERT_EQ(ENV_ADDPARAM(env.get(), "odd", 3, "abc", 3), 0);
  std::string startup = Startup("run it");
  ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "intake"},
                      {"ZEB_SPAWN_TEST_OUT", out},
                      {"ZEB_SPAWN_TEST_NAMES", "SPEED odd missing"}};
  std::string program = OwnProgram();
  int16_t id[4];
  ASSERT_EQ(
      ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
      0);
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, 0);
  // Without a monitor priority -1 becomes own priority - 1: nice one higher.
  EXPECT_EQ(Lines(out, zeb::testing::host_pid(id)),
            "intake 0\ntext RUN IT" + std::string(2, '\0') +
                "\nparam SPEED 0 FAST\nparam odd 0 ABC\n"
                "param missing 11 \nassign 0 " +
                zeb::test::pad("$D", 8) + zeb::test::pad("E", 8) + zeb::test::pad("F", 8) +
                "\nnice " + std::to_string(std::min(nice + 1, 19)) + "\n");
}

TEST(Spawn, AChildKilledInMidConversationEndsItPromptly) {
  zeb::testing::ScratchDirectory dir;
  const std::string out = dir.path() + "/log";
  zeb::test::TestEnv env;
  ASSERT_TRUE(env.assign("INPUT", "$A", "B", "C"));
  std::string startup = Startup("text");
  ChildVariables vars{
      {"ZEB_SPAWN_TEST_CHILD", "record"}, {"ZEB_SPAWN_TEST_OUT", out}, {"ZEB_SPAWN_TEST_DIE", "1"}};
  std::string program = OwnProgram();
  int16_t id[4];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
      zeb::err::kPathDown);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(zeb::testing::process_gone(zeb::testing::host_pid(id)));
}

TEST(Spawn, FailuresBeforeAndAtCreation) {
  zeb::test::TestEnv env;
  std::string program = OwnProgram();
  std::string startup = Startup("x");
  struct Case {
    uint32_t mask;
    EnvRecord* env;
    const char* program;
    const char* startup;
    int16_t result, error;
  } cases[] = {
      {mask({2}), nullptr, program.data(), nullptr, 29, -9},
      {mask({1}), env.get(), nullptr, nullptr, 29, -9},
      {mask({1, 2, 8}), env.get(), "$NOVOL  SUB     PROG    ", nullptr, 311,
       zeb::create_error_word(3, 14)},
      {mask({1, 2}), env.get(), "$NOVOL  SUB     PROG    ", nullptr, 311, -9},
  };
  for (const Case& c : cases) {
    int16_t error = -9;
    EXPECT_EQ(ENV_SPAWN(c.mask, c.env, c.program, nullptr, 0, 0, c.startup, nullptr, &error),
              c.result);
    EXPECT_EQ(error, c.error);
  }
  // A creation that fails hands back an identifier of zeros, and the
  // caller's process goes on.
  {
    int16_t id[4] = {7, 7, 7, 7};
    int16_t error = -9;
    EXPECT_EQ(ENV_SPAWN(mask({1, 2, 7, 8}), env.get(), "$NOVOL  SUB     PROG    ", nullptr, 0, 0,
                        nullptr, id, &error),
              311);
    EXPECT_EQ(error, zeb::create_error_word(3, 14));
    EXPECT_EQ(id[0] | id[1] | id[2] | id[3], 0);
  }
  // A start-up message whose text never ends is refused before anything is
  // created.
  std::vector<char> endless(700, 'x');
  int16_t error = -9;
  EXPECT_EQ(ENV_SPAWN(mask({1, 2, 6, 8}), env.get(), program.data(), nullptr, 0, 0, endless.data(),
                      nullptr, &error),
            22);
  EXPECT_EQ(error, -9);
}

// Whether $CMON takes connections (the one made is closed).
bool MonitorListens() {
  zp::Result<zp::Connection> probe = zp::connect_named("$CMON", 1000);
  if (probe.ok()) zp::close_connection(&*probe);
  return probe.ok();
}

// Starts a $CMON of this test program that answers as how says
// (ZEB_SPAWN_TEST_CMON; its requests logged to log unless it is empty), and
// waits until it listens.
void StartMonitor(const std::string& program, const char* how, const std::string& log) {
  int16_t monitor[4];
  {
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "cmon"}, {"ZEB_SPAWN_TEST_CMON", how}};
    std::unique_ptr<zeb::testing::ScopedVariable> out;
    if (!log.empty())
      out = std::make_unique<zeb::testing::ScopedVariable>("ZEB_SPAWN_TEST_OUT", log);
    ASSERT_EQ(NEWPROCESS(mask({1, 5, 7}), program.data(), 0, 0, 0, monitor, nullptr, "$CMON "), 0);
  }
  int16_t ppd[9];
  std::memcpy(ppd, "$CMON ", 6);
  zeb::testing::wait_until([] { return MonitorListens(); });
  ASSERT_EQ(LOOKUPPROCESSNAME(ppd), 0);
}

// Tells the monitor to stop, and waits until it has gone.
void StopMonitor() {
  int16_t fnum = -1;
  ASSERT_EQ(FILE_OPEN_(mask({1, 2, 3}), "$CMON", 5, &fnum), 0);
  const char stop[2] = {0x7F, static_cast<char>(0xFF)};
  EXPECT_EQ(WRITEX(mask({1, 2, 3}), fnum, stop, 2), 0);
  FILE_CLOSE_(mask({1}), fnum);
  zeb::testing::wait_until([] { return zp::find_named_process("$CMON") == 0; });
  EXPECT_EQ(zp::find_named_process("$CMON"), 0);
}

// A $CMON started by the test refuses, or allows with another processor.
TEST(Spawn, TheMonitorRefusesOrOverridesTheProcessor) {
  zeb::testing::ScratchDirectory dir;
  const std::string log = dir.path() + "/cmon", out = dir.path() + "/child";
  // The monitor's socket (and its lock) go to a private directory.
  zeb::testing::ScratchDirectory sockets;
  ChildVariables socket_dir{{"ZEB_SOCKET_DIR", sockets.path()}};
  std::string program = OwnProgram();
  const std::string names(24, ' ');
  for (const char* how : {"refuse", "7"}) {
    StartMonitor(program, how, log);

    zeb::test::TestEnv env;
    std::string startup = Startup("t");
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"}, {"ZEB_SPAWN_TEST_OUT", out}};
    int16_t id[4] = {-9, -9, -9, -9};
    int16_t result = ENV_SPAWN(mask({1, 2, 4, 6, 7}), env.get(), program.data(), nullptr, 2, 0,
                               startup.data(), id);
    if (std::string(how) == "refuse") {
      EXPECT_EQ(result, zeb::err::kMonitorRefused);
      EXPECT_EQ(id[0], -9);  // nothing created
      std::ifstream logged(log);
      std::string request;
      logged >> request;
      EXPECT_EQ(request.substr(0, 4), "FFCC");
      EXPECT_EQ(request.substr(78 * 2, 8), "FFFF0002");  // priority -1, processor 2
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(zeb::testing::process_gone(zeb::testing::host_pid(id)));
      std::string prog = program;
      int16_t priority = 120, processor = 1;
      EXPECT_EQ(UTIL_CMON(prog.data(), &priority, &processor, names.data(), names.data()),
                zeb::kTrue);
      EXPECT_EQ(processor, 7);
      EXPECT_EQ(priority, 120);
    }
    StopMonitor();
  }
}

// Five hundred spawns that consult one monitor at once all get its answer
// (here its "no", 310, so that no child is made); none gets 40 or 14
// because the monitor was busy. They come from fifty processes that start
// together (on the opening of a gate) and spawn ten times each, so
// that the monitor meets many openers at once without five hundred test
// processes on the host.
TEST(Spawn, FiveHundredSpawnsAtOnceAllGetTheMonitorsAnswer) {
  zeb::testing::ScratchDirectory dir;
  zeb::testing::ScratchDirectory sockets;
  ChildVariables socket_dir{{"ZEB_SOCKET_DIR", sockets.path()}};
  const std::string program = OwnProgram();
  const std::string served = dir.path() + "/served";
  {
    ChildVariables count{{"ZEB_SPAWN_TEST_SERVED", served}};
    StartMonitor(program, "refuse", "");
  }
  const std::string gate = dir.path() + "/gate";
  ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
  constexpr int kSpawners = 50, kSpawns = 10;
  std::vector<zp::Child> spawners(kSpawners);
  for (int i = 0; i < kSpawners; ++i) {
    ASSERT_TRUE(zp::start_child({"/proc/self/exe"},
                                {"ZEB_SPAWN_TEST_CHILD=spawner", "ZEB_SPAWN_TEST_GATE=" + gate,
                                 "ZEB_SPAWN_TEST_SPAWNS=" + std::to_string(kSpawns),
                                 "ZEB_SPAWN_TEST_OUT=" + dir.path() + "/" + std::to_string(i)},
                                false, &spawners[i])
                    .ok());
  }
  // Held open until every spawner is done, so that none misses the gate.
  const int open_gate = ::open(gate.c_str(), O_WRONLY);
  ASSERT_GE(open_gate, 0);
  for (int i = 0; i < kSpawners; ++i) {
    EXPECT_EQ(zp::wait_child(&spawners[i]), 0);
    EXPECT_EQ(zeb::testing::file_text(dir.path() + "/" + std::to_string(i)),
              "310 " + std::to_string(kSpawns) + "\n")
        << "spawner " << i;
  }
  ::close(open_gate);
  StopMonitor();
  EXPECT_EQ(zeb::testing::file_text(served), std::to_string(kSpawners * kSpawns) + "\n");
}

TEST(Spawn, AHundredSpawnsLeaveNothingBehind) {
  const int fds = EntriesIn("/proc/self/fd"), sockets = EntriesIn(zp::socket_directory());
  zeb::test::TestEnv env;
  ASSERT_TRUE(env.param("P", "V"));
  std::string startup = Startup("");
  zeb::testing::ScratchDirectory dir;
  ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"},
                      {"ZEB_SPAWN_TEST_OUT", dir.path() + "/log"}};
  std::string program = OwnProgram();
  std::vector<long> pids;
  for (int i = 0; i < 100; ++i) {
    int16_t id[4];
    ASSERT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        0);
    pids.push_back(zeb::testing::host_pid(id));
  }
  for (long pid : pids)
    ASSERT_TRUE(zeb::testing::process_gone(pid)) << pid;  // ended and reaped: no zombie
  // Children of the tests before may still have been closing theirs when
  // the count was taken: none of these hundred may have added any.
  zeb::testing::wait_until([&] { return EntriesIn("/proc/self/fd") <= fds; });
  EXPECT_LE(EntriesIn("/proc/self/fd"), fds);
  EXPECT_EQ(EntriesIn(zp::socket_directory()), sockets);
}

// Every wait of the parent's side has its bound (ZEB_REPLY_LIMIT, here a
// tenth of a second): a child that stops answering at any message, or a
// monitor that takes the request and never answers, gives 40, and nothing
// is left behind: no process, no descriptor, no socket.
TEST(Spawn, EveryWaitIsBoundedAndLeavesNothingBehind) {
  zeb::testing::ScratchDirectory dir, sockets;
  ChildVariables vars{{"ZEB_SOCKET_DIR", sockets.path()},
                      {"ZEB_REPLY_LIMIT", "10"},
                      {"ZEB_SPAWN_TEST_OUT", dir.path() + "/log"}};
  const std::string program = OwnProgram();
  std::string startup = Startup("t");
  zeb::test::TestEnv env;
  ASSERT_TRUE(env.param("P", "V"));
  const int fds = EntriesIn("/proc/self/fd");
  for (const char* stall : {"open", "startup", "close"}) {
    ChildVariables child{{"ZEB_SPAWN_TEST_CHILD", "record"}, {"ZEB_SPAWN_TEST_STALL", stall}};
    int16_t id[4] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        zeb::err::kTimedOut)
        << stall;
    // Generous: the bound is a tenth of a second a wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << stall;
    EXPECT_TRUE(zeb::testing::process_gone(zeb::testing::host_pid(id))) << stall;
  }
  // A monitor that takes the request and never answers: nothing is made.
  int16_t monitor[4];
  {
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "cmon"}, {"ZEB_SPAWN_TEST_CMON", "hang"}};
    ASSERT_EQ(NEWPROCESS(mask({1, 5, 7}), program.data(), 0, 0, 0, monitor, nullptr, "$CMON "), 0);
  }
  zeb::testing::wait_until([] { return MonitorListens(); }, 3000);
  {
    ChildVariables child{{"ZEB_SPAWN_TEST_CHILD", "record"}};
    int16_t id[4] = {-9, -9, -9, -9};
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        zeb::err::kTimedOut);
    EXPECT_EQ(id[0], -9);
  }
  {
    // The hung monitor is not asked again while it lives: a limit of a
    // minute a wait is not waited for.
    ChildVariables child{{"ZEB_SPAWN_TEST_CHILD", "record"}, {"ZEB_REPLY_LIMIT", "6000"}};
    int16_t id[4] = {-9, -9, -9, -9};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        zeb::err::kTimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(id[0], -9);
  }
  const long cmon = zp::find_named_process("$CMON");
  ASSERT_GT(cmon, 0);
  ::kill(static_cast<pid_t>(cmon), SIGKILL);
  EXPECT_TRUE(zeb::testing::process_gone(cmon));
  // A "monitor" that listens and never accepts: once its queue of
  // connections is full, a connect would block for ever; every spawn
  // gives 40 instead.
  ChildVariables limit{{"ZEB_REPLY_LIMIT", "10"}};
  const int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s/CMON", sockets.path().c_str());
  ::unlink(address.sun_path);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  for (int i = 0; i < 4; ++i) {
    ChildVariables child{{"ZEB_SPAWN_TEST_CHILD", "record"}};
    int16_t id[4] = {-9, -9, -9, -9};
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        zeb::err::kTimedOut)
        << i;
    EXPECT_EQ(id[0], -9);
  }
  ::close(listener);
  zeb::testing::wait_until([&] { return EntriesIn("/proc/self/fd") <= fds; });
  EXPECT_LE(EntriesIn("/proc/self/fd"), fds);
}

// What the child answers is reported in the library's own numbers: 0 and
// 70 ("continue") go on, an error number is the child's error, and a reply
// that is no error number at all is 308, never handed on raw.
TEST(Spawn, RepliesThatAreNoErrorNumbersGive308) {
  zeb::testing::ScratchDirectory dir;
  const std::string program = OwnProgram();
  std::string startup = Startup("t");
  struct Case {
    const char *startup_reply, *others;
    int16_t result;
  } cases[] = {{"-32768", "0", 308}, {"70", "70", 0}, {"70", "-1", 308},
               {"0", "-5", 308},     {"45", "0", 45}, {"70", "12", 12}};
  for (const Case& c : cases) {
    zeb::test::TestEnv env;
    ASSERT_TRUE(env.param("P", "V"));
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "record"},
                        {"ZEB_SPAWN_TEST_OUT", dir.path() + "/log"},
                        {"ZEB_SPAWN_TEST_REPLY", c.startup_reply},
                        {"ZEB_SPAWN_TEST_OTHERS", c.others}};
    int16_t id[4];
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        c.result)
        << c.startup_reply << " " << c.others;
    EXPECT_TRUE(zeb::testing::process_gone(zeb::testing::host_pid(id)));
  }
}

// Whatever makes a spawn fail once its child exists ends the child, and it
// is reaped before the spawn returns: its pid names no process then. A
// child that refused and then ignores "close" costs nothing more (the limit
// is a day: a wait for that "close" would hang the test).
TEST(Spawn, AFailedSpawnLeavesNoProcess) {
  zeb::testing::ScratchDirectory dir;
  const std::string program = OwnProgram();
  std::string startup = Startup("t");
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, std::string>> vars;
    bool hand_on;  // the environment holds an ASSIGN and a PARAM
    const char* limit;
    int16_t result;
  } cases[] = {
      {"gone after the start-up message", {{"ZEB_SPAWN_TEST_DIE", "1"}}, true, "8640000", 201},
      {"open answered with 70", {{"ZEB_SPAWN_TEST_OPEN", "70"}}, true, "8640000", 308},
      {"open answered with 12", {{"ZEB_SPAWN_TEST_OPEN", "12"}}, false, "8640000", 12},
      {"an ASSIGN refused",
       {{"ZEB_SPAWN_TEST_REFUSE_AT", "1"}, {"ZEB_SPAWN_TEST_REFUSAL", "12"}},
       true,
       "8640000",
       12},
      {"no error number", {{"ZEB_SPAWN_TEST_OTHERS", "-5"}}, true, "8640000", 308},
      {"start-up refused, close ignored",
       {{"ZEB_SPAWN_TEST_REPLY", "12"}, {"ZEB_SPAWN_TEST_STALL", "close"}},
       true,
       "8640000",
       12},
      {"start-up refused alone, close ignored",
       {{"ZEB_SPAWN_TEST_REPLY", "12"}, {"ZEB_SPAWN_TEST_STALL", "close"}},
       false,
       "8640000",
       12},
      {"a PARAM refused, close ignored",
       {{"ZEB_SPAWN_TEST_REFUSE_AT", "2"},
        {"ZEB_SPAWN_TEST_REFUSAL", "45"},
        {"ZEB_SPAWN_TEST_STALL", "close"}},
       true,
       "8640000",
       45},
      {"no answer to the start-up message", {{"ZEB_SPAWN_TEST_STALL", "startup"}}, true, "10", 40},
  };
  for (const Case& c : cases) {
    zeb::test::TestEnv env;
    if (c.hand_on) {
      ASSERT_TRUE(env.assign("OUTPUT", "$D", "E", "F"));
      ASSERT_TRUE(env.param("P", "V"));
    }
    ChildVariables common{{"ZEB_SPAWN_TEST_CHILD", "record"},
                          {"ZEB_SPAWN_TEST_OUT", dir.path() + "/log"},
                          {"ZEB_REPLY_LIMIT", c.limit}};
    std::vector<std::unique_ptr<zeb::testing::ScopedVariable>> vars;
    for (const auto& [name, value] : c.vars)
      vars.push_back(std::make_unique<zeb::testing::ScopedVariable>(name, value));
    int16_t id[4] = {};
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        c.result)
        << c.what;
    const long pid = zeb::testing::host_pid(id);
    ASSERT_GT(pid, 0) << c.what;
    errno = 0;
    EXPECT_EQ(::kill(static_cast<pid_t>(pid), 0), -1) << c.what;
    EXPECT_EQ(errno, ESRCH) << c.what;
  }
}

// A $CMON played by a thread of this process on the monitor's socket, for
// one connection: it answers "open", then takes the request and answers it
// with consent at once, hangs up on it (and lives on), or answers it only
// once the test lets it (after the spawn has given up); a monitor that
// answers the request does not answer "close" until the test lets it.
class RawMonitor {
 public:
  enum How { kNoClose, kHangUp, kLate };
  RawMonitor(const std::string& dir, How how) {
    listener_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_ = dir + "/CMON";
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    EXPECT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener_, 16), 0);
    thread_ = std::thread([this, how] { Serve(how); });
  }
  ~RawMonitor() {
    Release();
    thread_.join();
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  void Release() {
    std::lock_guard<std::mutex> guard(lock_);
    released_ = true;
    wake_.notify_all();
  }

 private:
  void Serve(How how) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    char record[1024];
    const char zero[4] = {0, 0, 0, 0};     // error 0; a reply of one word 0: consent
    ::recv(fd, record, sizeof record, 0);  // "open"
    ::send(fd, zero, 2, MSG_NOSIGNAL);
    ::recv(fd, record, sizeof record, 0);  // the request
    if (how == kHangUp) {
      ::close(fd);
      return;
    }
    if (how == kLate) Wait();
    ::send(fd, zero, 4, MSG_NOSIGNAL);
    if (how == kNoClose) {
      ::recv(fd, record, sizeof record, 0);  // "close", never answered
      Wait();
    }
    ::close(fd);
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait(guard, [this] { return released_; });
  }
  int listener_ = -1;
  std::string path_;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool released_ = false;
};

// A monitor that is there and does not play its part gives no consent, and
// nothing is created: one that lets "close" run out is hung like one that
// lets the request run out (the next spawn gives 40 at once, here under a
// limit of a day), one that hangs up on the request and lives on refused
// it (310), and one that answers after the spawn's deadline is too late.
TEST(Spawn, AMonitorThatDoesNotPlayItsPartGivesNoConsent) {
  zeb::testing::ScratchDirectory dir;
  const std::string program = OwnProgram();
  std::string startup = Startup("t");
  struct Case {
    RawMonitor::How how;
    const char* limit;
    int16_t result;
    bool asked_again;  // a second spawn under a limit of a day gives 40 at once
  } cases[] = {{RawMonitor::kNoClose, "10", 40, true},
               {RawMonitor::kHangUp, "8640000", 310, false},
               {RawMonitor::kLate, "10", 40, true}};
  for (const Case& c : cases) {
    // A host of its own: what it learns of hung monitors goes with it.
    zp::ScopedHost host(zp::host().config());
    zeb::testing::ScratchDirectory sockets;
    ChildVariables vars{{"ZEB_SOCKET_DIR", sockets.path()},
                        {"ZEB_SPAWN_TEST_CHILD", "record"},
                        {"ZEB_SPAWN_TEST_OUT", dir.path() + "/log"},
                        {"ZEB_REPLY_LIMIT", c.limit}};
    RawMonitor monitor(sockets.path(), c.how);
    zeb::test::TestEnv env;
    int16_t id[4] = {-9, -9, -9, -9};
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        c.result)
        << c.how;
    EXPECT_EQ(id[0], -9) << c.how;  // nothing created
    if (!c.asked_again) continue;
    ChildVariables day{{"ZEB_REPLY_LIMIT", "8640000"}};
    EXPECT_EQ(
        ENV_SPAWN(mask({1, 2, 6, 7}), env.get(), program.data(), nullptr, 0, 0, startup.data(), id),
        zeb::err::kTimedOut)
        << c.how;
    EXPECT_EQ(id[0], -9) << c.how;
  }
}

// Out of descriptors, the spawn says so: 34 when not even the monitor's
// own look-ups can be made (no descriptor at all), else 311 with the
// creation error word "the host refused another process" (2, 34). Never a
// refusal by a monitor (310) that nobody asked.
TEST(Spawn, OutOfDescriptorsIsNotARefusal) {
  zeb::testing::ScratchDirectory dir, sockets;
  const std::string out = dir.path() + "/log";
  struct Case {
    const char* limit;
    std::string want;
  } cases[] = {{"3", "spawn 34 -1"},
               {"5", "spawn 311 " + std::to_string(zeb::create_error_word(2, 34))}};
  for (const Case& c : cases) {
    // With three descriptors the sanitizers' own checks fail first.
    if (zeb::testing::kSanitized && std::string(c.limit) == "3") continue;
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "limited"},
                        {"ZEB_SPAWN_TEST_OUT", out},
                        {"ZEB_SPAWN_TEST_LIMIT", c.limit},
                        {"ZEB_SOCKET_DIR", sockets.path()}};
    zp::Child child;
    ASSERT_TRUE(zp::start_child({"/proc/self/exe"}, {}, false, &child).ok());
    EXPECT_EQ(zp::wait_child(&child), 0);
    EXPECT_EQ(Lines(out, 0), c.want + "\n") << c.limit;
    ::unlink(out.c_str());
  }
}

// A parent killed at any point of the conversation: its child ends at once
// with 201 (the start-up is not finished), or with 0 when "close" was sent.
TEST(Spawn, AParentKilledInMidConversationEndsItsChildWith201) {
  zeb::testing::ScratchDirectory dir;
  for (int run = 0; run < 100; ++run) {
    const int steps = run % 9;
    const std::string out = dir.path() + "/log" + std::to_string(run);
    ChildVariables vars{{"ZEB_SPAWN_TEST_CHILD", "killer"},
                        {"ZEB_SPAWN_TEST_OUT", out},
                        {"ZEB_SPAWN_TEST_NAMES", ""},
                        {"ZEB_SPAWN_TEST_STEPS", std::to_string(steps)}};
    zp::Child killer;
    ASSERT_TRUE(zp::start_child({"/proc/self/exe"}, {}, false, &killer).ok());
    EXPECT_EQ(zp::wait_child(&killer), 128 + SIGKILL);
    // The child is not this process's: its log says how and that it ended.
    zeb::testing::wait_until([&] { return ::access(out.c_str(), F_OK) == 0; }, 6000);
    const std::string log = Lines(out, 0);
    EXPECT_EQ(log.substr(0, log.find('\n')), steps >= 7 ? "intake 0" : "intake 201")
        << "steps " << steps;
  }
}

}  // namespace
