// Tests of process and user identity.
#include <zeb/platform/procinfo.h>

#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include "platform/host/host.h"
#include "platform/ipc/channel.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/newprocess.h>

namespace zp = zeb::platform;

namespace {

std::string IdName(const int16_t* id) { return std::string(reinterpret_cast<const char*>(id), 6); }

TEST(ProcInfo, OwnWordFollowsThePid) {
  const long pid = ::getpid();
  int slots = static_cast<int>(static_cast<uint32_t>(REMOTEPROCESSORSTATUS(-1)) >> 16);
  if (slots < 1) slots = 1;
  const uint16_t word = static_cast<uint16_t>(MYPID());
  EXPECT_EQ(word & 0xFF, pid % 256);
  EXPECT_EQ(word >> 8, (pid / 256) % slots);
  EXPECT_LT(word >> 8, 16);
  EXPECT_EQ(MYSYSTEMNUMBER(), 0);
}

TEST(ProcInfo, ThisProcessNamedAndUnnamed) {
  int16_t id[4];
  zeb::testing::set_variable("ZEB_PROCESS_NAME", "$Ab1");
  ASSERT_EQ(PROCESSINFO(zeb::mask({1, 2}), MYPID(), id), 0);
  EXPECT_EQ(IdName(id), "$AB1  ");
  EXPECT_EQ(id[3], MYPID());
  zeb::testing::set_variable("ZEB_PROCESS_NAME", "not a name");
  ASSERT_EQ(PROCESSINFO(zeb::mask({1, 2}), MYPID(), id), 0);
  const unsigned char* b = reinterpret_cast<const unsigned char*>(id);
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[1], 0);
  EXPECT_EQ(id[3], MYPID());
  zeb::testing::set_variable("ZEB_PROCESS_NAME", std::nullopt);

  int16_t creator = 0, accessor = 0, priority = 0;
  char program[24], home[24];
  ASSERT_EQ(PROCESSINFO(zeb::mask({1, 2, 3, 4, 5, 6, 7}), MYPID(), nullptr, &creator, &accessor,
                        &priority, program, home),
            0);
  EXPECT_EQ(static_cast<uint16_t>(creator), static_cast<uint16_t>(::getuid()));
  EXPECT_EQ(static_cast<uint16_t>(accessor), static_cast<uint16_t>(::geteuid()));
  EXPECT_EQ(std::string(program, 8), "$ZHOST  ");
  EXPECT_EQ(std::string(program + 8, 8), "PLATFORM");   // the build folder of this test
  EXPECT_EQ(std::string(program + 16, 8), "PLATFORM");  // platform_procinfo_test, cut to 8
  EXPECT_EQ(std::string(home, 24), "$ZHOME                  ");
}

TEST(ProcInfo, ErrorsAndOtherSystems) {
  int16_t id[4];
  EXPECT_EQ(PROCESSINFO(zeb::mask({2}), 0, id), 29);
  EXPECT_EQ(PROCESSINFO(zeb::mask({1, 2, 8}), MYPID(), id, nullptr, nullptr, nullptr, nullptr,
                        nullptr, 5),
            18);
  // Processor 15 exists only on hosts with sixteen processor slots.
  if ((static_cast<uint32_t>(REMOTEPROCESSORSTATUS(-1)) >> 16) < 16) {
    EXPECT_EQ(PROCESSINFO(zeb::mask({1, 2}), 0x0F05, id), 11);
  }
}

// A child started with a name of its own is found by its cpu and pin, unless
// a process with a lower pid shares the word.
TEST(ProcInfo, AnotherProcessByCpuAndPin) {
  // The child is a shell that says "ready" on one pipe and then waits on
  // another; once it has said so, its exec is over. A process in the middle
  // of its exec already shows the new command but not yet its environment,
  // and another user may not read it until the exec is done.
  int ready[2], hold[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(hold), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(hold[0], 0);
    ::dup2(ready[1], 1);
    ::close(hold[0]);
    ::close(hold[1]);
    ::close(ready[0]);
    ::close(ready[1]);
    char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                          const_cast<char*>("echo ready; read x"), nullptr};
    char* const envp[] = {const_cast<char*>("ZEB_PROCESS_NAME=$KID"), nullptr};
    ::execve("/bin/sh", argv, envp);
    ::_exit(127);
  }
  ::close(hold[0]);
  ::close(ready[1]);
  char said[8] = {};
  ASSERT_EQ(::read(ready[0], said, sizeof said), 6);
  ::close(ready[0]);
  int slots = static_cast<int>(static_cast<uint32_t>(REMOTEPROCESSORSTATUS(-1)) >> 16);
  if (slots < 1) slots = 1;
  const int16_t word = static_cast<int16_t>((((child / 256) % slots) << 8) | (child % 256));
  // A process of another user exists too when the probe is refused.
  bool shadowed = false;
  for (long p = child % 256; p < child; p += 256) {
    if ((p / 256) % slots == (child / 256) % slots && p > 0 &&
        (::kill(static_cast<pid_t>(p), 0) == 0 || errno == EPERM)) {
      shadowed = true;
    }
  }
  int16_t id[4];
  int16_t creator = 0;
  int16_t rc = PROCESSINFO(zeb::mask({1, 2, 3}), word, id, &creator);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(hold[1]);
  if (shadowed) GTEST_SKIP() << "a lower pid shares the child's cpu and pin";
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(IdName(id), "$KID  ");
  EXPECT_EQ(id[3], word);
  EXPECT_EQ(static_cast<uint16_t>(creator), static_cast<uint16_t>(::getuid()));
  // Once it has ended, the word names no process (or an older one).
  int16_t after[4];
  if (PROCESSINFO(zeb::mask({1, 2}), word, after) == 0) {
    EXPECT_NE(IdName(after), "$KID  ");
  }
}

TEST(Users, NamesFromTheUserDatabase) {
  int16_t buf[8];
  buf[0] = 0;
  ASSERT_EQ(USERIDTOUSERNAME(buf), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 16), "root    root    ");
  buf[0] = static_cast<int16_t>(::getuid());
  ASSERT_EQ(USERIDTOUSERNAME(buf), 0);
  struct passwd* pw = ::getpwuid(::getuid());
  ASSERT_NE(pw, nullptr);
  std::string user(pw->pw_name);
  if (user.size() > 8) user.resize(8);
  user.resize(8, ' ');
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 8, 8), user);
  // A uid with no entry.
  int16_t none[8];
  for (uint32_t uid = 54321; uid < 54421; ++uid) {
    if (::getpwuid(uid) != nullptr) continue;
    none[0] = static_cast<int16_t>(uid);
    none[1] = 0x1234;
    EXPECT_EQ(USERIDTOUSERNAME(none), 11);
    EXPECT_EQ(none[1], 0x1234);
    break;
  }
  EXPECT_EQ(USERIDTOUSERNAME(nullptr), 29);
}

// The typed lookups behind the pair, handle and node procedures, on a
// host of a named process.
TEST(ProcessTable, PairsHandlesAndNodes) {
  zeb::platform::ScopedHost host(
      zeb::platform::Configuration::from_entries({"ZEB_PROCESS_NAME=$PT1"}));
  int16_t own[10], null[10];
  PROCESSHANDLE_GETMINE_(own);
  zp::null_handle(null);

  zp::Result<zp::ProcessPair> mine = zp::own_pair();
  ASSERT_TRUE(mine.ok());
  EXPECT_EQ(mine->name, "$PT1");
  EXPECT_TRUE(std::equal(own, own + 10, mine->primary.begin()));
  struct PairCase {
    std::string name;
    int16_t code;
  } pairs[] = {{"$PT1", 0}, {"$pt1", 0}, {"$NOPE9", 11}, {"bad name", 11}};
  for (const PairCase& c : pairs) {
    zp::Result<zp::ProcessPair> named = zp::named_pair(c.name);
    EXPECT_EQ(named.code(), c.code) << c.name;
    if (named.ok()) {
      EXPECT_TRUE(std::equal(own, own + 10, named->primary.begin())) << c.name;
    }
  }

  int16_t other[10];
  std::memcpy(other, own, sizeof other);
  other[4] ^= 1;  // another start time: another process
  EXPECT_TRUE(zp::null_or_own_handle(null));
  EXPECT_TRUE(zp::null_or_own_handle(own));
  EXPECT_FALSE(zp::null_or_own_handle(other));

  zp::Result<zp::HandleParts> parts = zp::decompose_handle(own);
  ASSERT_TRUE(parts.ok());
  EXPECT_EQ(parts->pid, ::getpid());
  EXPECT_EQ((parts->cpu << 8) | parts->pin, static_cast<uint16_t>(MYPID()));
  EXPECT_EQ(parts->process_name, "$PT1");
  EXPECT_EQ(zp::decompose_handle(null).code(), 22);

  zp::Result<zp::NamedProcess> looked = zp::lookup_process_name("$PT1  ");
  ASSERT_TRUE(looked.ok());
  EXPECT_EQ(looked->cpupin, MYPID());
  EXPECT_EQ(zp::lookup_process_name("$NOPE9").code(), 14);

  const std::string node = zp::node_name();
  std::string lower = node;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(zp::node_number(node).code(), 0);
  EXPECT_EQ(zp::node_number(lower).code(), 0);
  EXPECT_EQ(zp::node_number("\\NOSUCHND").code(), 18);

  zeb::platform::ScopedHost unnamed(zeb::platform::Configuration::from_entries({}));
  EXPECT_EQ(zp::own_pair().code(), 7);
}

}  // namespace
