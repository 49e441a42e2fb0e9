// Children and the host that made them: this binary re-runs itself as a
// child (ZEB_CREATION_TEST_CHILD set) that ends when a record arrives on
// its private channel, so that the test decides when it ends.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/platform/newprocess.h>
#include "gtest/gtest.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"

namespace zp = zeb::platform;

namespace {

// The child's part, before any test runs.
const bool kIsChild = [] {
  if (std::getenv("ZEB_CREATION_TEST_CHILD") == nullptr) return false;
  const char* channel = std::getenv("ZEB_RECEIVE_FD");
  char byte;
  if (channel != nullptr) (void)::recv(std::atoi(channel), &byte, 1, 0);
  ::_exit(0);
}();

// The children table belongs to the host that made the child; its watcher
// reaps the child even when that host has gone first, and another host does
// not know the child.
TEST(Children, BelongToTheirHostAndAreReapedAfterItGoes) {
  // This binary as $CT.BIN.CHILD: a volume of a scratch directory holds a
  // link to it.
  zeb::testing::ScratchDirectory dir;
  ASSERT_EQ(::mkdir((dir.path() + "/bin").c_str(), 0700), 0);
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  ASSERT_EQ(::symlink(self, (dir.path() + "/bin/child").c_str()), 0);
  const char program[] = "$CT     BIN     CHILD   ";
  long pid = 0;
  int channel = -1;
  {
    zp::ScopedHost host(zp::Configuration::from_entries({"ZEB_VOLUMES=$CT=" + dir.path()}));
    ::setenv("ZEB_CREATION_TEST_CHILD", "1", 1);  // for the child's environment
    zp::CreateRequest request;
    request.program = program;
    zp::Result<zp::Created> created = zp::create_process(request);
    ::unsetenv("ZEB_CREATION_TEST_CHILD");
    ASSERT_TRUE(created.ok()) << created.status().to_string();
    pid = zeb::testing::host_pid(created->id.data());
    channel = zp::dup_child_channel(pid);
    ASSERT_GE(channel, 0);
    {
      zp::ScopedHost other(zp::Configuration::from_entries({}));
      EXPECT_EQ(zp::dup_child_channel(pid), -1);
    }
  }
  // The host has gone; the child ends now and its watcher reaps it.
  ASSERT_EQ(::send(channel, "x", 1, MSG_NOSIGNAL), 1);
  ::close(channel);
  EXPECT_TRUE(zeb::testing::process_gone(pid));
}

// A named child is found by its name among this host's children, without a
// look at the host's other processes (the process table cannot be listed
// here); once it has ended it is found no more, and another name never is.
TEST(Children, ANamedChildIsFoundAmongTheChildrenWhileItLives) {
  zeb::testing::ScratchDirectory dir;
  ASSERT_EQ(::mkdir((dir.path() + "/bin").c_str(), 0700), 0);
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  ASSERT_EQ(::symlink(self, (dir.path() + "/bin/child").c_str()), 0);
  zp::ScopedHost host(zp::Configuration::from_entries({"ZEB_VOLUMES=$CT=" + dir.path()}));
  ::setenv("ZEB_CREATION_TEST_CHILD", "1", 1);
  zp::CreateRequest request;
  request.program = "$CT     BIN     CHILD   ";
  request.name = "$CTNM ";
  zp::Result<zp::Created> created = zp::create_process(request);
  ::unsetenv("ZEB_CREATION_TEST_CHILD");
  ASSERT_TRUE(created.ok()) << created.status().to_string();
  const long pid = created->pid;
  {
    zp::SyscallOverride guard;
    const auto listed = zp::syscalls().list_directory;
    zp::syscalls().list_directory = [listed](const char* path, std::vector<std::string>* names) {
      if (std::string(path) == "/proc") {
        errno = EACCES;
        return -1;
      }
      return listed(path, names);
    };
    EXPECT_EQ(zp::named_child("$CTNM"), pid);
    EXPECT_EQ(zp::named_child("$CTNO"), 0);
    EXPECT_EQ(zp::named_child(""), 0);
  }
  const int channel = zp::dup_child_channel(pid);
  ASSERT_GE(channel, 0);
  ASSERT_EQ(::send(channel, "x", 1, MSG_NOSIGNAL), 1);
  ::close(channel);
  ASSERT_TRUE(zeb::testing::process_gone(pid));
  EXPECT_EQ(zp::named_child("$CTNM"), 0);
}

TEST(Children, CreationErrorsAreCreationWords) {
  zp::ScopedHost host(zp::Configuration::from_entries({}));
  const std::string missing = "$ZHOST  NOSUCHSBNOSUCHPR";
  const std::array<char, 24> own = zp::program_internal_name(::getpid());
  struct Case {
    const char* program;
    const char* name;
    int16_t word;
  } cases[] = {
      {nullptr, nullptr, zeb::create_error_word(zeb::kCreateProgramFile, 29)},
      {missing.c_str(), nullptr, zeb::create_error_word(zeb::kCreateProgramFile, 11)},
      // A name must begin with "$".
      {own.data(), "NONAME", zeb::create_error_word(zeb::kCreateNameError, zeb::err::kBadName)},
  };
  for (const Case& c : cases) {
    zp::CreateRequest request;
    request.program = c.program;
    request.name = c.name;
    EXPECT_EQ(zp::create_process(request).code(), c.word) << (c.program ? c.program : "null");
  }
}

}  // namespace
