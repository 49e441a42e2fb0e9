// Children and the host that made them: this binary re-runs itself as a
// child (ZEB_CREATION_TEST_CHILD set) that ends when a record arrives on
// its private channel, so that the test decides when it ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
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

// The child's part, before any test runs. "report" tells what the child
// got from its creator (its descriptors above 2, its signal mask, ignored
// and caught signals, its nice value) in one record on its channel and
// ends at once.
const bool kIsChild = [] {
  const char* mode = std::getenv("ZEB_CREATION_TEST_CHILD");
  if (mode == nullptr) return false;
  const char* channel = std::getenv("ZEB_RECEIVE_FD");
  char byte;
  if (channel == nullptr) ::_exit(1);
  const int fd = std::atoi(channel);
  if (std::string(mode) != "report") {
    (void)::recv(fd, &byte, 1, 0);
    ::_exit(0);
  }
  std::string report = "fds";
  for (int d = 3; d < 1024; ++d) {
    if (::fcntl(d, F_GETFD) != -1) report.append(" ").append(std::to_string(d));
  }
  FILE* status = std::fopen("/proc/self/status", "r");
  char line[256];
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr) {
    const std::string text(line);
    if (text.rfind("SigBlk:", 0) == 0 || text.rfind("SigIgn:", 0) == 0 ||
        text.rfind("SigCgt:", 0) == 0) {
      report.append("\n").append(text, 0, text.size() - 1);
    }
  }
  if (status != nullptr) std::fclose(status);
  errno = 0;
  report.append("\nnice ").append(std::to_string(::getpriority(PRIO_PROCESS, 0)));
  (void)::send(fd, report.data(), report.size(), MSG_NOSIGNAL);
  ::_exit(0);
}();

// The path of this test program; empty if it cannot be read.
std::string this_program() {
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  return n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
}

// This program as DIR/bin/child, which is $CT.BIN.CHILD when DIR is the
// volume $CT.
bool link_this_program(const std::string& dir) {
  const std::string self = this_program();
  return !self.empty() && ::mkdir((dir + "/bin").c_str(), 0700) == 0 &&
         ::symlink(self.c_str(), (dir + "/bin/child").c_str()) == 0;
}

// A host whose volume $CT is dir; ZEB_CREATION_TEST_CHILD is for the
// children's environment.
zp::Configuration child_host_configuration(const std::string& dir) {
  return zp::Configuration::from_entries({"ZEB_VOLUMES=$CT=" + dir, "ZEB_CREATION_TEST_CHILD=1"});
}

// A scratch volume $CT holding this program as BIN.CHILD, and a host over
// it; a test stops unless `linked`.
struct ChildVolume {
  zeb::testing::ScratchDirectory dir;
  bool linked = link_this_program(dir.path());
  zp::ScopedHost host{child_host_configuration(dir.path())};
};

// The children table belongs to the host that made the child; its watcher
// reaps the child even when that host has gone first, and another host does
// not know the child.
TEST(Children, BelongToTheirHostAndAreReapedAfterItGoes) {
  // This binary as $CT.BIN.CHILD: a volume of a scratch directory holds a
  // link to it.
  zeb::testing::ScratchDirectory dir;
  ASSERT_TRUE(link_this_program(dir.path()));
  const char program[] = "$CT     BIN     CHILD   ";
  long pid = 0;
  int channel = -1;
  {
    // ZEB_CREATION_TEST_CHILD is for the child's environment.
    zp::ScopedHost host(child_host_configuration(dir.path()));
    zp::CreateRequest request;
    request.program = program;
    zp::Result<zp::Created> created = zp::create_process(request);
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

// Without a thread for a watcher (the seam's start_thread fails as at the
// host's thread limit) a child is still made, and once it has ended the
// next creation reaps it.
TEST(Children, WithoutAWatcherThreadTheNextCreationReapsAnEndedChild) {
  ChildVolume volume;
  ASSERT_TRUE(volume.linked);
  zp::SyscallOverride scope;
  zp::syscalls().start_thread = [](std::function<void()>) {
    errno = EAGAIN;
    return -1;
  };
  zp::CreateRequest request;
  request.program = "$CT     BIN     CHILD   ";
  long pids[2] = {0, 0};
  int channels[2] = {-1, -1};
  for (int i = 0; i < 2; ++i) {
    zp::Result<zp::Created> created = zp::create_process(request);
    ASSERT_TRUE(created.ok()) << created.status().to_string();
    pids[i] = zeb::testing::host_pid(created->id.data());
    channels[i] = zp::dup_child_channel(pids[i]);
    ASSERT_GE(channels[i], 0);
    if (i == 0) {
      // The first child ends; it waits, unreaped, for the second creation.
      ASSERT_EQ(::send(channels[0], "x", 1, MSG_NOSIGNAL), 1);
      siginfo_t info{};
      ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pids[0]), &info, WEXITED | WNOWAIT), 0);
    }
  }
  EXPECT_TRUE(zeb::testing::process_gone(pids[0]));
  // The second has no watcher either: the test ends and reaps it itself.
  ASSERT_EQ(::send(channels[1], "x", 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ(::waitpid(static_cast<pid_t>(pids[1]), nullptr, 0), pids[1]);
  ::close(channels[0]);
  ::close(channels[1]);
}

// A named child is found by its name among this host's children, without a
// look at the host's other processes (the process table cannot be listed
// here); once it has ended it is found no more, and another name never is.
TEST(Children, ANamedChildIsFoundAmongTheChildrenWhileItLives) {
  ChildVolume volume;
  ASSERT_TRUE(volume.linked);
  zp::CreateRequest request;
  request.program = "$CT     BIN     CHILD   ";
  request.name = "$CTNM ";
  zp::Result<zp::Created> created = zp::create_process(request);
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
  // A program whose "#!" interpreter does not exist, on a volume of its own.
  zeb::testing::ScratchDirectory dir;
  ASSERT_EQ(::mkdir((dir.path() + "/bin").c_str(), 0700), 0);
  {
    std::ofstream script(dir.path() + "/bin/script");
    script << "#!/nonexistent/interpreter\n";
  }
  ASSERT_EQ(::chmod((dir.path() + "/bin/script").c_str(), 0700), 0);
  zp::ScopedHost host(zp::Configuration::from_entries({"ZEB_VOLUMES=$CT=" + dir.path()}));
  const std::string missing = "$ZHOST  NOSUCHSBNOSUCHPR";
  const std::array<char, 24> own = zp::program_internal_name(::getpid());
  struct Case {
    const char* program;
    const char* name;
    int16_t word;
    bool no_channel = false;  // socketpair fails with EMFILE
  } cases[] = {
      {nullptr, nullptr, zeb::create_error_word(zeb::kCreateProgramFile, 29)},
      {missing.c_str(), nullptr, zeb::create_error_word(zeb::kCreateProgramFile, 11)},
      // A name must begin with "$".
      {own.data(), "NONAME", zeb::create_error_word(zeb::kCreateNameError, zeb::err::kBadName)},
      // The program is there; the file it needs to run is not.
      {"$CT     BIN     SCRIPT  ", nullptr,
       zeb::create_error_word(zeb::kCreateLibraryFile, zeb::err::kNotFound)},
      // No channel for the child: this process's own error, no word.
      {own.data(), nullptr, zeb::err::kNoControlBlock, true},
  };
  for (const Case& c : cases) {
    zp::SyscallOverride scope;
    if (c.no_channel) {
      zp::syscalls().socketpair = [](int*) {
        errno = EMFILE;
        return -1;
      };
    }
    zp::CreateRequest request;
    request.program = c.program;
    request.name = c.name;
    EXPECT_EQ(zp::create_process(request).code(), c.word) << (c.program ? c.program : "null");
  }
}

// The bit of a signal in a mask line of /proc/PID/status ("SigBlk:\t<hex>").
bool has_signal(const std::string& report, const std::string& line, int sig) {
  const size_t at = report.find(line + ":");
  if (at == std::string::npos) return false;
  const unsigned long long mask = std::stoull(report.substr(at + line.size() + 1, 17), nullptr, 16);
  return ((mask >> (sig - 1)) & 1) != 0;
}

void on_usr1(int) {}

// The child of the seam's spawn gets what fork and exec would give it: the
// descriptor it is handed and no other above 2 (not even one this process
// left open across exec), the creator's signal mask (not the one that
// holds every signal around the creation), ignored signals still ignored,
// caught ones back to the default, and its nice value raised as asked. A
// program that cannot run gives its errno, and its child is reaped.
TEST(Children, SpawnGivesWhatForkAndExecWould) {
  const std::string self = this_program();
  ASSERT_FALSE(self.empty());
  struct sigaction caught = {}, ignored = {}, old_usr1 = {}, old_usr2 = {};
  caught.sa_handler = on_usr1;
  ignored.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGUSR1, &caught, &old_usr1), 0);
  ASSERT_EQ(::sigaction(SIGUSR2, &ignored, &old_usr2), 0);
  sigset_t winch, old_mask;
  sigemptyset(&winch);
  sigaddset(&winch, SIGWINCH);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &winch, &old_mask), 0);
  const int left_open = ::fcntl(1, F_DUPFD, 3);  // no close-on-exec
  ASSERT_GE(left_open, 3);
  errno = 0;
  const int own_nice = ::getpriority(PRIO_PROCESS, 0);

  zeb::testing::ScratchDirectory dir;
  const std::string plain = dir.path() + "/plain", garbage = dir.path() + "/garbage";
  for (const std::string& file : {plain, garbage}) {
    FILE* f = std::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("not a program\n", f);
    std::fclose(f);
  }
  ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(garbage.c_str(), 0755), 0);
  struct Case {
    std::string path;
    int nice_increment;
    int error;  // 0: the child runs and reports
  } cases[] = {
      {self, 0, 0},
      {self, 2, 0},
      {dir.path() + "/missing", 0, ENOENT},
      {dir.path(), 0, EACCES},
      // No execute permission at all: refused to root as well.
      {plain, 0, EACCES},
      {garbage, 0, ENOEXEC},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " nice +" + std::to_string(c.nice_increment));
    int pair[2];
    ASSERT_EQ(zp::syscalls().socketpair(pair), 0);
    std::string mode = "ZEB_CREATION_TEST_CHILD=report";
    std::string channel = std::string("ZEB_RECEIVE_FD=").append(std::to_string(pair[1]));
    char* envp[] = {mode.data(), channel.data(), nullptr};
    char* argv[] = {const_cast<char*>(c.path.c_str()), nullptr};
    errno = 0;
    const long pid = zp::syscalls().spawn(c.path.c_str(), argv, envp, pair[1], c.nice_increment);
    const int spawn_errno = errno;
    ::close(pair[1]);
    if (c.error != 0) {
      EXPECT_EQ(pid, -1);
      EXPECT_EQ(spawn_errno, c.error);
      // Reaped already: this process has no child left.
      EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
      ::close(pair[0]);
      continue;
    }
    ASSERT_GT(pid, 0);
    char buffer[2048];
    const ssize_t got = ::recv(pair[0], buffer, sizeof buffer, 0);
    ::close(pair[0]);
    int status = -1;
    EXPECT_EQ(::waitpid(static_cast<pid_t>(pid), &status, 0), pid);
    EXPECT_EQ(status, 0);
    ASSERT_GT(got, 0);
    const std::string report(buffer, static_cast<size_t>(got));
    EXPECT_EQ(report.substr(0, report.find('\n')),
              std::string("fds ").append(std::to_string(pair[1])));
    EXPECT_TRUE(has_signal(report, "SigBlk", SIGWINCH)) << report;
    EXPECT_FALSE(has_signal(report, "SigBlk", SIGUSR1)) << report;
    EXPECT_TRUE(has_signal(report, "SigIgn", SIGUSR2)) << report;
    EXPECT_FALSE(has_signal(report, "SigCgt", SIGUSR1)) << report;
    const int want_nice = std::min(own_nice + c.nice_increment, 19);
    EXPECT_NE(report.find(std::string("nice ").append(std::to_string(want_nice))),
              std::string::npos)
        << report;
  }
  ::close(left_open);
  ::pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  ::sigaction(SIGUSR1, &old_usr1, nullptr);
  ::sigaction(SIGUSR2, &old_usr2, nullptr);
}

}  // namespace
