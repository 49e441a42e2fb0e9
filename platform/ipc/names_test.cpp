// Process names and the socket directory against another user: a directory
// reached through links, taken by somebody else or flipped while a name is
// taken; names carried by other users' processes; spawns racing for one
// name. This binary re-runs itself as the child (ZEB_NAMES_TEST_CHILD).
// Cases that need a second user run as root (the user nobody, 65534) and
// are skipped, saying why, otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include <zeb/platform/types.h>
#include "platform/host/host.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/name_lock.h"
#include "platform/ipc/receive_queue.h"
#include "platform/processes/processes.h"
#include "platform/testing/testing.h"

namespace zp = zeb::platform;
using zeb::mask;

namespace {

constexpr uid_t kOther = 65534;  // the second user
bool root() { return ::geteuid() == 0; }

// The child's part: takes its name with an open of $RECEIVE (with "hold")
// or not (with "wait"), closes $RECEIVE again as a start-up does, tells its
// creator the open's error in one byte on its private channel, and stays
// until the creator sends a byte or hangs up. It ends with exit, so that
// the name is given back as a program's end gives it back.
class ChildMode : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* mode = std::getenv("ZEB_NAMES_TEST_CHILD");
    if (mode == nullptr) return;
    const int channel = std::atoi(std::getenv("ZEB_RECEIVE_FD"));
    char error = 0;
    if (std::string(mode) == "hold") {
      int16_t fnum = -1;
      error = static_cast<char>(FILE_OPEN_(mask({1, 2, 3}), "$RECEIVE", 8, &fnum));
      if (error == 0) FILE_CLOSE_(mask({1}), fnum);
    }
    (void)::send(channel, &error, 1, MSG_NOSIGNAL);
    char byte;
    (void)::recv(channel, &byte, 1, 0);
    std::exit(0);
  }
};
[[maybe_unused]] auto* const kChildMode = ::testing::AddGlobalTestEnvironment(new ChildMode);

std::string user_name(uid_t uid) {
  passwd* p = ::getpwuid(uid);
  return p != nullptr ? p->pw_name : std::to_string(uid);
}

// A scratch directory that also serves as the volume $NT holding this
// program as $NT.BIN.CHILD.
struct Place {
  zeb::testing::ScratchDirectory dir;
  std::string path(const std::string& name) const { return dir.path() + "/" + name; }
  Place() {
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    ::mkdir(path("bin").c_str(), 0700);
    ::symlink(self.c_str(), path("bin/child").c_str());
    // A second user must reach what it is given below.
    ::chmod(dir.path().c_str(), 0711);
  }
  zp::Configuration config(std::vector<std::string> more) const {
    more.push_back("ZEB_VOLUMES=$NT=" + dir.path());
    return zp::Configuration::from_entries(more);
  }
};

constexpr char kProgram[] = "$NT     BIN     CHILD   ";

// Creates a child (mode: "hold" or "wait") of the host in force, named
// name when it is not empty, its socket directory sockets (the default when
// empty). Returns the creation error word (0 when created); *pid the child.
int16_t create(const char* mode, const std::string& name, const std::string& sockets, long* pid,
               std::string* note = nullptr) {
  // For the child's environment, which is the host's configuration.
  zeb::testing::ScopedVariable child_mode("ZEB_NAMES_TEST_CHILD", mode);
  std::optional<zeb::testing::ScopedVariable> directory;
  if (!sockets.empty()) directory.emplace("ZEB_SOCKET_DIR", sockets);
  const std::string padded = (name + "      ").substr(0, 6);
  zp::CreateRequest request;
  request.program = kProgram;
  request.name = name.empty() ? nullptr : padded.c_str();
  zp::Result<zp::Created> created = zp::create_process(request);
  *pid = created.ok() ? created->pid : 0;
  if (note != nullptr) *note = created.ok() ? "" : created.status().what();
  return created.ok() ? int16_t{0} : created.status().code();
}

// The byte a child sends first (its open's error), and the end of it.
int child_report(long pid) {
  const int channel = zp::dup_child_channel(pid);
  char byte = -1;
  const long n = ::recv(channel, &byte, 1, 0);
  ::close(channel);
  return n == 1 ? byte : -1;
}
void end_child(long pid) {
  const int channel = zp::dup_child_channel(pid);
  (void)::send(channel, "x", 1, MSG_NOSIGNAL);
  ::close(channel);
  EXPECT_TRUE(zeb::testing::process_gone(pid)) << pid;
}

// The socket directory is checked once and used through its descriptor: a
// link another user owns is never followed, the directory itself is never a
// link, and one that another user has taken is refused by a process taking
// a name (48) and is no place of this user's processes for one that
// connects (14). Each refusal names the directory and who owns what is in
// the way.
TEST(SocketDirectory, IsThisUsersOwnReachedOnlyThroughTrustedLinks) {
  Place place;
  const std::string d = place.dir.path();
  ::mkdir((d + "/real").c_str(), 0700);
  ::symlink((d + "/real").c_str(), (d + "/mine").c_str());
  ::symlink((d + "/real/s").c_str(), (d + "/last").c_str());
  ::mkdir((d + "/open").c_str(), 0755);
  ::chmod((d + "/open").c_str(), 0755);
  ::close(::open((d + "/file").c_str(), O_CREAT | O_WRONLY, 0600));
  // Another user's directory: nobody's when this test is root, else root's.
  std::string theirs = "/usr";
  uid_t owner = 0;
  if (root()) {
    theirs = d + "/theirs";
    owner = kOther;
    ::mkdir(theirs.c_str(), 0700);
    ::chown(theirs.c_str(), kOther, kOther);
    ::symlink((d + "/real").c_str(), (d + "/their-link").c_str());
    ::lchown((d + "/their-link").c_str(), kOther, kOther);
  }
  struct Case {
    std::string dir;
    int16_t listen, connect;
    std::vector<std::string> note;  // words of the note a refusal leaves
    bool needs_root = false;
  } cases[] = {
      {d + "/new", 0, 0, {}},
      {d + "/mine/s", 0, 0, {}},  // a link of this user's
      {d + "/last", 48, 48, {d + "/last", "symbolic link"}},
      {d + "/open", 48, 48, {d + "/open", "0755"}},
      {d + "/file", 48, 48, {d + "/file", "not a directory"}},
      {theirs, 48, 14, {theirs, user_name(owner), "ZEB_SOCKET_DIR"}},
      {d + "/their-link/s", 48, 14, {"their-link", user_name(kOther)}, true},
      {d + "/none/s", 11, 14, {}},
      {"relative", 13, 13, {"relative"}},
  };
  for (const Case& c : cases) {
    if (c.needs_root && !root()) {
      std::printf("skipped %s: a second user needs root\n", c.dir.c_str());
      continue;
    }
    zp::ScopedHost host(place.config({"ZEB_SOCKET_DIR=" + c.dir, "ZEB_PROCESS_NAME=$SD"}));
    EXPECT_EQ(zp::receive_open(30, 0).code(), c.listen) << c.dir;
    if (!c.note.empty()) {
      // The refusal as taking the name (what the open above does) tells it.
      const zp::Result<int> taken = zp::take_process_name("$SD");
      ASSERT_FALSE(taken.ok()) << c.dir;
      for (const std::string& word : c.note) {
        EXPECT_NE(taken.status().what().find(word), std::string::npos) << c.dir << ": " << word;
      }
    }
    zp::Result<zp::Connection> connection = zp::connect_named("$SD", zp::reply_limit_ms());
    EXPECT_EQ(connection.code(), c.connect) << c.dir;
    if (connection.ok()) zp::close_connection(&*connection);
    zp::receive_close(30);
  }
  // The link's directory was used, and nothing was made in another's.
  EXPECT_TRUE(std::filesystem::exists(d + "/real/s/.SD.lock") ||
              std::filesystem::exists(d + "/real/s/.sweep"));
  if (root()) {
    EXPECT_TRUE(std::filesystem::is_empty(theirs));
  }
}

// A link on the way to the socket directory flips between this user's
// directory and one that is not safe while names are taken, again and
// again: the socket and the lock file are made in the directory that was
// checked, never in the other.
TEST(SocketDirectory, AFlippingLinkNeverMovesTheSocket) {
  Place place;
  const std::string d = place.dir.path();
  ::mkdir((d + "/good").c_str(), 0700);
  ::mkdir((d + "/good/zeb").c_str(), 0700);
  ::mkdir((d + "/bad").c_str(), 0777);
  ::mkdir((d + "/bad/zeb").c_str(), 0777);
  ::chmod((d + "/bad/zeb").c_str(), 0777);
  if (root()) ::chown((d + "/bad/zeb").c_str(), kOther, kOther);
  ::symlink((d + "/good").c_str(), (d + "/flip").c_str());
  // Flips until the test ends, however it ends.
  struct Flipper {
    std::atomic<bool> stop{false};
    std::thread thread;
    ~Flipper() {
      stop = true;
      thread.join();
    }
  } flipper;
  flipper.thread = std::thread([&] {
    for (bool good = false; !flipper.stop.load(); good = !good) {
      ::unlink((d + "/next").c_str());
      ::symlink((d + (good ? "/good" : "/bad")).c_str(), (d + "/next").c_str());
      ::rename((d + "/next").c_str(), (d + "/flip").c_str());
      std::this_thread::yield();
    }
  });
  int taken = 0;
  for (int i = 0; i < 300; ++i) {
    zp::ScopedHost host(
        place.config({"ZEB_SOCKET_DIR=" + d + "/flip/zeb", "ZEB_PROCESS_NAME=$FL"}));
    const int16_t error = zp::receive_open(30, 0).code();
    ASSERT_TRUE(error == 0 || error == 48) << error;
    ASSERT_TRUE(std::filesystem::is_empty(d + "/bad/zeb")) << i;
    if (error == 0) {
      ++taken;
      ASSERT_TRUE(std::filesystem::exists(d + "/good/zeb/FL")) << i;
      zp::receive_close(30);
    }
  }
  std::printf("names taken: %d of 300\n", taken);
}

// The default directory is the user's private run-time directory when there
// is one that is this user's and nobody else's; and when the default has
// been taken by another user, only named processes suffer: a look for a
// process (a spawn's for its monitor) finds none, and an unnamed child is
// made, while a named one is refused with (8, 48) and a note that says
// whose the directory is and how to choose another.
TEST(SocketDirectory, TheDefaultIsPrivateAndASquattedOneStopsOnlyNames) {
  Place place;
  const std::string d = place.dir.path();
  const std::string euid = std::to_string(::geteuid());
  ::mkdir((d + "/run").c_str(), 0700);
  ::mkdir((d + "/shared").c_str(), 0755);
  ::chmod((d + "/shared").c_str(), 0755);
  const std::string fallback_a = "/run/user/" + euid + "/zeb", fallback_b = "/tmp/zeb-" + euid;
  struct Case {
    std::vector<std::string> vars;
    std::string want;  // empty: the fallback
  } cases[] = {
      {{"XDG_RUNTIME_DIR=" + d + "/run"}, d + "/run/zeb"},
      {{"XDG_RUNTIME_DIR=" + d + "/run/"}, d + "/run/zeb"},
      {{"XDG_RUNTIME_DIR=" + d + "/shared"}, ""},
      {{"XDG_RUNTIME_DIR=run"}, ""},
      {{"XDG_RUNTIME_DIR=" + d + "/missing"}, ""},
      {{"XDG_RUNTIME_DIR=" + d + "/run", "ZEB_SOCKET_DIR=" + d + "/s"}, d + "/s"},
  };
  for (const Case& c : cases) {
    zp::ScopedHost host(place.config(c.vars));
    const std::string got = zp::socket_directory();
    if (c.want.empty()) {
      EXPECT_TRUE(got == fallback_a || got == fallback_b) << c.vars[0] << ": " << got;
    } else {
      EXPECT_EQ(got, c.want) << c.vars[0];
    }
  }
  if (!root()) {
    std::printf("skipped the squatted default: another user's directory needs root\n");
    return;
  }
  const std::string squatted = d + "/run/zeb";
  ::mkdir(squatted.c_str(), 0700);
  ::chown(squatted.c_str(), kOther, kOther);
  zp::ScopedHost host(place.config({"XDG_RUNTIME_DIR=" + d + "/run"}));
  const zp::Result<zp::Connection> connected = zp::connect_named("$CMON", zp::reply_limit_ms());
  EXPECT_EQ(connected.code(), 14);
  for (const std::string& word : {squatted, user_name(kOther), std::string("ZEB_SOCKET_DIR")}) {
    EXPECT_NE(connected.status().what().find(word), std::string::npos) << connected.status().what();
  }
  // The children find the default as their creator does.
  std::optional<zeb::testing::ScopedVariable> runtime_dir;
  runtime_dir.emplace("XDG_RUNTIME_DIR", d + "/run");
  long pid = 0;
  ASSERT_EQ(create("wait", "", "", &pid), 0);
  EXPECT_EQ(child_report(pid), 0);
  end_child(pid);
  std::string note;
  EXPECT_EQ(create("wait", "$SQ", "", &pid, &note), zeb::create_error_word(8, 48));
  runtime_dir.reset();
  EXPECT_NE(note.find(squatted), std::string::npos) << note;
  EXPECT_NE(note.find(user_name(kOther)), std::string::npos);
}

// Who holds a name. A process holds its name for as long as it lives, its
// $RECEIVE closed or not, and so does a child started with the name that
// has not taken it yet; another user's process that carries the name in
// its environment holds nothing of this user's.
TEST(ProcessNames, AreHeldForLifeAndOnlyThisUsersProcessesCount) {
  Place place;
  const std::string sockets = place.path("s");
  struct Case {
    const char* what;
    const char* name;
    // Makes the process that may hold the name; gives its pid.
    std::function<long()> make;
    int16_t spawn;  // a spawn of the name: the creation error word
    int16_t take;   // another process's taking it: the open of $RECEIVE
    bool needs_root;
  };
  zp::ScopedHost host(place.config({"ZEB_SOCKET_DIR=" + sockets}));
  auto child = [&](const char* mode, const char* name) {
    return [=] {
      long pid = 0;
      EXPECT_EQ(create(mode, name, sockets, &pid), 0) << name;
      EXPECT_EQ(child_report(pid), 0) << name;
      return pid;
    };
  };
  // Another user's plain program with ZEB_PROCESS_NAME set; it runs (the
  // exec has happened) when the close-on-exec pipe reports its end.
  int hold_open[2] = {-1, -1};
  auto stranger = [&]() -> long {
    int ran[2];
    if (::pipe2(hold_open, O_CLOEXEC) != 0 || ::pipe2(ran, O_CLOEXEC) != 0) return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(hold_open[0], 0);
      if (::setresgid(kOther, kOther, kOther) != 0 || ::setresuid(kOther, kOther, kOther) != 0) {
        ::_exit(1);
      }
      char* argv[] = {const_cast<char*>("cat"), nullptr};
      char env[] = "ZEB_PROCESS_NAME=$PC";
      char* envp[] = {env, nullptr};
      ::execve("/bin/cat", argv, envp);
      ::_exit(1);
    }
    ::close(ran[1]);
    char byte;
    (void)::read(ran[0], &byte, 1);
    ::close(ran[0]);
    ::close(hold_open[0]);
    return pid;
  };
  const Case cases[] = {
      {"took its name and closed $RECEIVE", "$PA", child("hold", "$PA"),
       zeb::create_error_word(8, 12), 12, false},
      {"started with the name, not yet taken", "$PB", child("wait", "$PB"),
       zeb::create_error_word(8, 12), 12, false},
      {"another user's program", "$PC", stranger, 0, 0, true},
  };
  for (const Case& c : cases) {
    if (c.needs_root && !root()) {
      std::printf("skipped \"%s\": a second user needs root\n", c.what);
      continue;
    }
    const long holder = c.make();
    ASSERT_GT(holder, 0) << c.what;
    long pid = 0;
    EXPECT_EQ(create("hold", c.name, sockets, &pid), c.spawn) << c.what;
    if (pid != 0) {
      EXPECT_EQ(child_report(pid), 0) << c.what;
      end_child(pid);
    }
    // A process started after the holder takes the name.
    zeb::testing::ChildRun taker = zeb::testing::run_in_child([&] {
      zp::ScopedHost own(
          place.config({"ZEB_SOCKET_DIR=" + sockets, std::string("ZEB_PROCESS_NAME=") + c.name}));
      return static_cast<int>(zp::receive_open(30, 0).code());
    });
    EXPECT_EQ(taker.status, c.take) << c.what;
    EXPECT_NE(zp::find_named_process(c.name), c.needs_root ? holder : 0) << c.what;
    if (c.needs_root) {
      ::close(hold_open[1]);
      EXPECT_EQ(::waitpid(static_cast<pid_t>(holder), nullptr, 0), holder);
    } else {
      end_child(holder);
    }
  }
  // In one process: a host that took a name and closed its queue still
  // holds it; another host of the process gets it once the first has gone.
  {
    zp::ScopedHost first(place.config({"ZEB_SOCKET_DIR=" + sockets, "ZEB_PROCESS_NAME=$PD"}));
    ASSERT_EQ(zp::receive_open(30, 0).code(), 0);
    zp::receive_close(30);
    zp::ScopedHost second(place.config({"ZEB_SOCKET_DIR=" + sockets, "ZEB_PROCESS_NAME=$PD"}));
    EXPECT_EQ(zp::receive_open(30, 0).code(), 12);
  }
  zp::ScopedHost again(place.config({"ZEB_SOCKET_DIR=" + sockets, "ZEB_PROCESS_NAME=$PD"}));
  EXPECT_EQ(zp::receive_open(30, 0).code(), 0);
  zp::receive_close(30);
}

// Thirty processes spawn one name at the same moment (all wait on one pipe
// that the test closes), in five rounds: each time exactly one child is
// made and takes the name, and every other spawn gives (8, 12).
TEST(ProcessNames, OfRacingSpawnsExactlyOneWins) {
  Place place;
  const std::string sockets = place.path("s");
  constexpr int kContenders = 30;
  for (int round = 0; round < 5; ++round) {
    const std::string name = "$RC" + std::to_string(round);
    int start[2], release[2], report[2];
    ASSERT_EQ(::pipe(start), 0);
    ASSERT_EQ(::pipe(release), 0);
    ASSERT_EQ(::pipe(report), 0);
    std::vector<pid_t> contenders;
    for (int i = 0; i < kContenders; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(start[1]);
        ::close(release[1]);
        char byte;
        (void)::read(start[0], &byte, 1);
        int32_t result[2] = {-1, -1};
        {
          zp::ScopedHost host(place.config({"ZEB_SOCKET_DIR=" + sockets}));
          long child = 0;
          result[0] = create("hold", name, sockets, &child);
          if (child != 0) result[1] = child_report(child);
          (void)!::write(report[1], result, sizeof result);
          // The child lives as long as this contender.
          (void)::read(release[0], &byte, 1);
        }
        ::_exit(0);
      }
      contenders.push_back(pid);
    }
    ::close(start[0]);
    ::close(release[0]);
    ::close(report[1]);
    ::close(start[1]);  // go
    int won = 0, in_use = 0, other = 0;
    for (int i = 0; i < kContenders; ++i) {
      int32_t result[2];
      ASSERT_EQ(::read(report[0], result, sizeof result), static_cast<long>(sizeof result));
      if (result[0] == 0 && result[1] == 0) {
        ++won;
      } else if (result[0] == zeb::create_error_word(8, 12)) {
        ++in_use;
      } else {
        ++other;
        ADD_FAILURE() << "round " << round << ": " << result[0] << " " << result[1];
      }
    }
    ::close(report[0]);
    ::close(release[1]);
    for (pid_t pid : contenders) EXPECT_EQ(::waitpid(pid, nullptr, 0), pid);
    EXPECT_EQ(won, 1) << "round " << round;
    EXPECT_EQ(in_use, kContenders - 1) << "round " << round;
  }
}

}  // namespace
