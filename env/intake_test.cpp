// The start-up intake with real processes: the test binary re-runs itself
// as a library program (ZEB_INTAKE_TEST_CHILD) that runs ENV_STARTUP and
// writes what its environment holds to a report file; the test plays its
// parent over the private channel, a stranger over the named socket, or
// nobody (the shell-started conversation).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/fs.h>
#include "env/startup.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/messages.h"
#include "platform/processes/conversation.h"

namespace zp = zeb::platform;
using zeb::mask;

namespace {

// Bytes as text a report line can hold: printable ASCII as is, others as
// \xx.
std::string shown(const char* data, size_t length) {
  std::string text;
  char hex[8];
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text.push_back(static_cast<char>(c));
    } else {
      std::snprintf(hex, sizeof hex, "\\%02x", c);
      text += hex;
    }
  }
  return text;
}

// The child: ENV_STARTUP with the flags of ZEB_INTAKE_TEST_FLAGS, then one
// line per inquiry.
int run_child() {
  std::FILE* out = std::fopen(std::getenv("ZEB_INTAKE_TEST_OUT"), "w");
  if (const char* limit = std::getenv("ZEB_INTAKE_TEST_LIMIT")) {
    zeb::intake_time_limit() = std::atoi(limit);
  }
  const char* errors = std::getenv("ZEB_INTAKE_TEST_ERR");
  if (errors != nullptr && std::freopen(errors, "w", stderr) == nullptr) return 21;
  uint16_t flags = static_cast<uint16_t>(std::strtol(std::getenv("ZEB_INTAKE_TEST_FLAGS"), 0, 0));
  static std::vector<char> pool(1 << 16);
  MEM_DEFINEPOOL(pool.data(), static_cast<int32_t>(pool.size()));
  EnvRecord* env = nullptr;
  int16_t result = ENV_STARTUP(mask({1, 2, 3}), &env, pool.data(), flags);
  if (errors != nullptr) {
    // What was stored and what was dropped, and nothing else.
    int32_t dropped = -1;
    int16_t length = 0;
    const int16_t error =
        ENV_INQUIRE(mask({1, 2, 4, 5}), env, ENVINFO_DROPPED, nullptr, &dropped, &length);
    int stored = 0;
    (void)zp::for_each_message(&env->param_list, [&stored](const char*, int16_t) {
      ++stored;
      return int16_t{0};
    });
    std::fprintf(out, "result %d dropped %d %d %d stored %d\n", result, error, length, dropped,
                 stored);
    std::fclose(out);
    return 0;
  }
  std::fprintf(out, "result %d\n", result);
  std::fprintf(out, "startup_len %d, then %s\n", env->startup_len,
               shown(env->startup_msg + env->startup_len, 2).c_str());
  std::fprintf(out, "defaults %s\n", shown(env->default_names, 16).c_str());
  char buffer[600];
  int16_t length = 0;
  for (int16_t item : {ENVINFO_STARTUP, ENVINFO_INFILE, ENVINFO_OUTFILE, ENVINFO_PARAMTEXT,
                       ENVINFO_PARAMTEXTASIS}) {
    length = -1;
    int16_t error = ENV_INQUIRE(mask({1, 2, 4, 5}), env, item, nullptr, buffer, &length);
    std::fprintf(out, "item %d: %d [%s]\n", item, error,
                 error == 0 ? shown(buffer, static_cast<size_t>(length)).c_str() : "");
  }
  for (const char* key : {"OUTF", "LOG", "SPEED", "color", "MISSING"}) {
    for (int16_t item : {ENVINFO_ASSIGN, ENVINFO_PARAM}) {
      length = -1;
      int16_t error = ENV_INQUIRE(mask({1, 2, 3, 4, 5}), env, item, key, buffer, &length);
      if (error != 11) {
        std::fprintf(out, "%s item %d: %d [%s]\n", key, item, error,
                     error == 0 ? shown(buffer, static_cast<size_t>(length)).c_str() : "");
      }
    }
  }
  for (int16_t item : {ENVINFO_INFNUM, ENVINFO_OUTFNUM}) {
    int16_t fnum = -1;
    int16_t error = ENV_INQUIRE(mask({1, 2, 4}), env, item, nullptr, &fnum);
    char name[64];
    int16_t name_length = 0;
    if (error == 0) FILE_GETINFO_(mask({1, 3, 4, 5}), fnum, nullptr, name, 64, &name_length);
    std::fprintf(out, "item %d: %d %s\n", item, error, shown(name, name_length).c_str());
  }
  std::fclose(out);
  return 0;
}

// One message and its reply, waited for up to 10 s.
zp::Result<zp::Reply> Exchange(const zp::Connection& c, bool system, const zp::Message& m) {
  zp::Request request;
  request.message = m;
  request.system = system;
  request.timeout_ms = 10000;
  return zp::exchange(c, request);
}

// The error number of the reply to one message; -1 when none came.
int Reply(const zp::Connection& c, bool system, const zp::Message& m) {
  zp::Result<zp::Reply> reply = Exchange(c, system, m);
  return reply.ok() ? reply->error : -1;
}

// A stranger: "open" and a start-up message to the named process; prints
// the two replies.
int run_stranger() {
  std::FILE* out = std::fopen(std::getenv("ZEB_INTAKE_TEST_OUT"), "w");
  zp::Result<zp::Connection> made =
      zp::connect_named(std::getenv("ZEB_INTAKE_TEST_TARGET"), zp::reply_limit_ms());
  int r1 = -1, r2 = -1;
  if (made.ok()) {
    char blanks[64];
    std::memset(blanks, ' ', sizeof blanks);
    r1 = Reply(*made, true, zp::open_message());
    r2 = Reply(*made, false, zp::startup_message(blanks, blanks, blanks, "STRANGER"));
    zp::close_connection(&*made);
  }
  std::fprintf(out, "%d %d %d\n", made.code(), r1, r2);
  std::fclose(out);
  return 0;
}

// The environment by itself, with a pool of its own: ENV_STARTUP with the
// flags of ZEB_INTAKE_TEST_FLAGS, one line through ENV_LOG, then
// ENV_SHUTDOWN with the code of ZEB_INTAKE_TEST_CODE when it is set.
// Standard output (the home terminal and $ZOUT) goes to the report file.
int run_standalone() {
  if (std::freopen(std::getenv("ZEB_INTAKE_TEST_OUT"), "w", stdout) == nullptr) return 20;
  uint16_t flags = static_cast<uint16_t>(std::strtol(std::getenv("ZEB_INTAKE_TEST_FLAGS"), 0, 0));
  static std::vector<char> pool(1 << 16);
  MEM_DEFINEPOOL(pool.data(), static_cast<int32_t>(pool.size()));
  EnvRecord* env = nullptr;
  uint32_t startup_mask = std::getenv("ZEB_INTAKE_TEST_NOFLAGS") ? mask({1, 2}) : mask({1, 2, 3});
  int16_t error = ENV_STARTUP(startup_mask, &env, pool.data(), flags);
  if (error != 0) {
    std::printf("result %d, record %s\n", error, env == nullptr ? "none" : "made");
    std::fflush(stdout);
    return 0;
  }
  ENV_LOG(mask({1, 2}), env, "hello");
  const char* code = std::getenv("ZEB_INTAKE_TEST_CODE");
  if (code == nullptr) ENV_SHUTDOWN(mask({1}), env);
  ENV_SHUTDOWN(mask({1, 2}), env, static_cast<int16_t>(std::atoi(code)));
}

class ChildMode : public testing::Environment {
 public:
  void SetUp() override {
    const char* mode = std::getenv("ZEB_INTAKE_TEST_CHILD");
    if (mode == nullptr) return;
    std::string m = mode;
    std::_Exit(m == "stranger"     ? run_stranger()
               : m == "standalone" ? run_standalone()
                                   : run_child());
  }
};
testing::Environment* const kChildMode = testing::AddGlobalTestEnvironment(new ChildMode);

std::string self_path() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

class IntakeTest : public testing::Test {
 protected:
  IntakeTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zeb-intake-XXXXXX").string();
    dir_ = mkdtemp(pattern.data());
  }
  ~IntakeTest() override { std::filesystem::remove_all(dir_); }

  // Starts the child with the flags and the variables given.
  zp::Child start(const std::string& name, std::vector<std::string> env, bool channel = true,
                  std::vector<std::string> args = {}) {
    env.push_back("ZEB_INTAKE_TEST_OUT=" + dir_ + "/" + name);
    env.push_back("ZEB_SOCKET_DIR=" + dir_ + "/sockets");
    if (std::find_if(env.begin(), env.end(), [](const std::string& e) {
          return e.rfind("ZEB_INTAKE_TEST_CHILD=", 0) == 0;
        }) == env.end()) {
      env.push_back("ZEB_INTAKE_TEST_CHILD=intake");
    }
    if (std::find_if(env.begin(), env.end(), [](const std::string& e) {
          return e.rfind("ZEB_INTAKE_TEST_FLAGS=", 0) == 0;
        }) == env.end()) {
      env.push_back("ZEB_INTAKE_TEST_FLAGS=1");
    }
    args.insert(args.begin(), self_path());
    zp::Child child;
    EXPECT_TRUE(zp::start_child(args, env, channel, &child).ok());
    return child;
  }

  std::string report(zp::Child* child, const std::string& name) {
    EXPECT_EQ(zp::wait_child(child), 0);
    std::ifstream in(dir_ + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
};

// The start of the report when no start-up message arrived.
const std::string kNothingStored =
    "result 0\nstartup_len 0, then   \ndefaults " + std::string(16, ' ') + "\n";
const char* kIn = "$ZIN                    ";
const char* kOut = "$ZOUT                   ";

// The parent's messages for the ASSIGNs and PARAMs used below.
zp::StartupConversation conversation(const std::string& text) {
  zp::StartupConversation talk;
  talk.startup = zp::startup_message("$VOL    SUB     ", kIn, kOut, text);
  talk.assigns.push_back(zp::assign_message("OUTF", "$VOL    SUB     F1      "));
  talk.assigns.push_back(zp::assign_message("LOG", "$LOGS   DAY     LOG1    "));
  talk.params.push_back(zp::param_message({{"Speed", "fast"}, {"color", "Red"}}));
  return talk;
}

TEST_F(IntakeTest, AParentsWholeConversationIsAnsweredAndStored) {
  zp::Child child = start("full", {});
  std::vector<int16_t> replies;
  ASSERT_TRUE(
      zp::run_startup_conversation(child.channel, conversation("go now"), &replies, 10000).ok());
  EXPECT_EQ(replies, (std::vector<int16_t>{0, 70, 0, 0, 0, 0}));
  std::string text = report(&child, "full");
  EXPECT_NE(text.find("result 0\nstartup_len 74, then \\00 \n"), std::string::npos) << text;
  EXPECT_NE(text.find("defaults $VOL    SUB     \n"), std::string::npos) << text;
  EXPECT_NE(text.find("item 7: 0 [GO NOW\\00\\00]\nitem 17: 0 [go now\\00\\00]\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("OUTF item 8: 0 [$VOL    SUB     F1      ]\n"
                      "LOG item 8: 0 [$LOGS   DAY     LOG1    ]\n"
                      "SPEED item 9: 0 [FAST]\ncolor item 9: 0 [RED]\n"),
            std::string::npos)
      << text;
}

// PARAMs that the store cannot hold still get 0, and the process says once
// on standard error how many it dropped; ENVINFO_DROPPED tells the count.
TEST_F(IntakeTest, WhatTheStoreCannotHoldIsCountedAndSaid) {
  struct Case {
    int params;
    bool dropped;
  } cases[] = {{10, false}, {2000, true}};
  for (const Case& c : cases) {
    const std::string errors = dir_ + "/stderr";
    zp::Child child = start("drops", {"ZEB_INTAKE_TEST_ERR=" + errors});
    zp::StartupConversation talk;
    talk.startup = zp::startup_message("$VOL    SUB     ", kIn, kOut, "x");
    for (int i = 0; i < c.params; ++i) {
      talk.params.push_back(
          zp::param_message({{std::string("P").append(std::to_string(i)), std::string(200, 'v')}}));
    }
    std::vector<int16_t> replies;
    ASSERT_TRUE(zp::run_startup_conversation(child.channel, talk, &replies, 10000).ok());
    // Every PARAM got 0, stored or not.
    EXPECT_EQ(replies.size(), static_cast<size_t>(c.params) + 3);
    EXPECT_EQ(std::count(replies.begin(), replies.end(), 0), c.params + 2);
    int result = -1, error = -1, length = -1, dropped = -1, stored = -1;
    std::istringstream report_line(report(&child, "drops"));
    std::string word;
    report_line >> word >> result >> word >> error >> length >> dropped >> word >> stored;
    EXPECT_EQ(result, 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(dropped + stored, c.params);
    EXPECT_EQ(dropped > 0, c.dropped) << dropped;
    std::ifstream in(errors);
    std::stringstream said;
    said << in.rdbuf();
    const std::string want =
        c.dropped ? "zeb: start-up: " + std::to_string(dropped) +
                        " PARAM and 0 ASSIGN messages from the parent were not stored (error "
                        "303: the environment's pool is full)\n"
                  : "";
    EXPECT_EQ(said.str(), want);
  }
}

TEST_F(IntakeTest, EdgesOfTheConversation) {
  struct Case {
    const char* name;
    std::vector<std::pair<bool, zp::Message>> messages;  // system?, bytes
    std::vector<int16_t> replies;
    const char* expected;  // the start of the child's report
  };
  zp::Message whole = zp::startup_message("$VOL    SUB     ", kIn, kOut, std::string(529, 'x'));
  zp::Message odd(3, '\xff');                 // a start-up code and one byte
  zp::Message unknown = {'\xff', '\xf0', 0};  // code -16
  std::vector<Case> cases = {
      // Closed without a start-up message: nothing stored.
      {"none",
       {{true, zp::open_message()}, {true, zp::close_message()}},
       {0, 0},
       kNothingStored.c_str()},
      // Exactly 596 bytes: stored whole, the NUL inside the field.
      {"whole",
       {{true, zp::open_message()}, {false, whole}, {true, zp::close_message()}},
       {0, 70, 0},
       "result 0\nstartup_len 596, then \\00 \ndefaults $VOL    SUB     \n"},
      // Unknown data and system codes get 2; a message too short for its
      // defaults leaves them blank; intake goes on.
      {"odd",
       {{true, zp::open_message()},
        {false, unknown},
        {true, unknown},
        {false, odd},
        {false, zp::Message{'\xff'}},
        {true, zp::close_message()}},
       {0, 2, 2, 70, 2, 0},
       "result 0\nstartup_len 3, then \\00 \ndefaults \\ff               \n"},
  };
  for (const Case& c : cases) {
    zp::Child child = start(c.name, {});
    std::vector<int16_t> replies;
    for (const auto& [system, bytes] : c.messages) {
      zp::Result<zp::Reply> reply = Exchange(child.channel, system, bytes);
      ASSERT_EQ(reply.code(), 0) << c.name;
      replies.push_back(reply->error);
    }
    EXPECT_EQ(replies, c.replies) << c.name;
    std::string text = report(&child, c.name);
    EXPECT_EQ(text.substr(0, std::strlen(c.expected)), c.expected) << c.name;
  }
}

TEST_F(IntakeTest, ASilentParentEndsTheIntakeWith40) {
  zp::Child child = start("silent", {"ZEB_INTAKE_TEST_LIMIT=5"});
  // The parent keeps its end open until the child has ended: a parent that
  // hangs up is no silent one (201).
  int status = -1;
  EXPECT_EQ(zp::syscalls().waitpid(child.pid, &status, false), child.pid);
  EXPECT_EQ(status, 0);
  zp::close_connection(&child.channel);
  std::ifstream in(dir_ + "/silent");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().substr(0, 10), "result 40\n");
}

TEST_F(IntakeTest, AStrangerGets60And100AndChangesNothing) {
  zp::Child child = start("named", {"ZEB_PROCESS_NAME=$INTK"});
  zp::Result<zp::Reply> reply = Exchange(child.channel, true, zp::open_message());
  ASSERT_EQ(reply.code(), 0);
  EXPECT_EQ(reply->error, 0);
  zp::Child stranger =
      start("stranger", {"ZEB_INTAKE_TEST_CHILD=stranger", "ZEB_INTAKE_TEST_TARGET=$INTK"}, false);
  EXPECT_EQ(report(&stranger, "stranger"), "0 100 60\n");
  reply = Exchange(child.channel, true, zp::close_message());
  ASSERT_EQ(reply.code(), 0);
  EXPECT_EQ(reply->error, 0);
  std::string text = report(&child, "named");
  EXPECT_EQ(text.substr(0, kNothingStored.size()), kNothingStored) << text;
}

// Started from a shell, a program learns exactly what a parent's messages
// would have told it: the same report as a library parent sending the
// messages built from the same command line and variables.
TEST_F(IntakeTest, AShellStartedProgramGetsWhatAParentWouldSend) {
  std::vector<std::string> vars = {"ZEB_INTAKE_TEST_FLAGS=7", "ZEB_DEFAULTS=$vol.sub",
                                   "ZEB_PARAM_Speed=fast",    "ZEB_PARAM_color=Red",
                                   "ZEB_ASSIGN_OUTF=f1",      "ZEB_ASSIGN_LOG=$LOGS.DAY.LOG1"};
  zp::Child shell = start("shell", vars, false, {"go", "now"});
  std::string from_shell = report(&shell, "shell");

  zp::Child child = start("parent", {"ZEB_INTAKE_TEST_FLAGS=7"});
  zp::StartupConversation talk = conversation("go now");
  talk.params = {zp::param_message({{"Speed", "fast"}}), zp::param_message({{"color", "Red"}})};
  std::vector<int16_t> replies;
  ASSERT_TRUE(zp::run_startup_conversation(child.channel, talk, &replies, 10000).ok());
  std::string from_parent = report(&child, "parent");
  EXPECT_EQ(from_shell, from_parent);
  EXPECT_NE(from_shell.find("item 3: 0 $ZIN\nitem 5: 0 $ZOUT\n"), std::string::npos) << from_shell;
}

TEST_F(IntakeTest, TheEnvironmentByItselfStartsLogsAndStops) {
  struct Case {
    std::vector<std::string> env;
    int status;
    std::vector<std::string> lines;  // a part of each line
  };
  const std::vector<Case> cases = {
      // Home terminal, log to it, "started" and the closing lines.
      {{"ZEB_INTAKE_TEST_FLAGS=0xE8"},
       0,
       {" started.", "hello", "Total CPU time: ", "Elapsed time:   ", " Stopped."}},
      // A completion code ends the process abnormally before any closing line.
      {{"ZEB_INTAKE_TEST_FLAGS=0xE8", "ZEB_INTAKE_TEST_CODE=1"}, 3, {" started.", "hello"}},
      {{"ZEB_INTAKE_TEST_FLAGS=0xE8", "ZEB_INTAKE_TEST_CODE=0"},
       0,
       {" started.", "hello", "Total CPU time: ", "Elapsed time:   ", " Stopped."}},
      // OUT is standard output, the home terminal too: each line once.
      {{"ZEB_INTAKE_TEST_FLAGS=0x3D"}, 0, {"hello"}},
      // Without flags nothing is done.
      {{"ZEB_INTAKE_TEST_FLAGS=0xE8", "ZEB_INTAKE_TEST_NOFLAGS=1"}, 0, {"result 29, record none"}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string name = "alone" + std::to_string(n++);
    std::vector<std::string> env = c.env;
    env.push_back("ZEB_INTAKE_TEST_CHILD=standalone");
    zp::Child child = start(name, env, false);
    EXPECT_EQ(zp::wait_child(&child), c.status) << name;
    std::ifstream in(dir_ + "/" + name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), c.lines.size()) << name;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_NE(lines[i].find(c.lines[i]), std::string::npos) << name << ": " << lines[i];
    }
  }
}

}  // namespace
