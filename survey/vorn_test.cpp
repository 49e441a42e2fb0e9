// The vorn program under real conditions: its command line, closed standard
// descriptors, a report that cannot be written, start-up failures under
// limits, another user, and the example of its manual page. Every case runs
// the program as a child process with the condition set up in the child.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Outcome {
  int status = -1;  // exit status, or -1 when the child ended by a signal
  int signal = 0;   // the signal that ended it, if any
  std::string out, err;
};

std::string slurp(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

int capture_file() {
  FILE* f = tmpfile();
  int fd = dup(fileno(f));
  fclose(f);
  return fd;
}

// What a child's standard descriptors are: captured, closed, or given.
constexpr int kCapture = -1;
constexpr int kClosed = -2;

struct Child {
  std::vector<std::string> args;
  std::vector<std::string> env;  // NAME=VALUE, set on top of the test's own
  int in = kCapture, out = kCapture, err = kCapture;
  std::function<void()> setup;  // runs in the child just before exec
  std::string program = VORN_PATH;
};

Outcome run(const Child& c);

// Runs vorn with args and env (NAME=VALUE on top of the test's own), its
// standard descriptors captured, closed or given, and setup run in the child
// just before exec. The volume table defaults to one simulated disk.
Outcome run(std::vector<std::string> args, std::vector<std::string> env = {}, int in = kCapture,
            int out = kCapture, int err = kCapture, std::function<void()> setup = nullptr) {
  return run(Child{std::move(args), std::move(env), in, out, err, std::move(setup)});
}

Outcome run(const Child& c) {
  int out_file = capture_file(), err_file = capture_file();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("ZEB_VOLUMES", "$S=sim:rpm=60000", 1);
    for (const std::string& e : c.env) putenv(const_cast<char*>(e.c_str()));
    int null = open("/dev/null", O_RDONLY);
    int wanted[3] = {c.in == kCapture ? null : c.in, c.out == kCapture ? out_file : c.out,
                     c.err == kCapture ? err_file : c.err};
    for (int fd = 0; fd < 3; ++fd) {
      if (wanted[fd] != kClosed) dup2(wanted[fd], fd);
    }
    for (int fd = 0; fd < 3; ++fd) {
      if (wanted[fd] == kClosed) close(fd);
    }
    // The child starts with the standard three only, as from a shell.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (c.setup) c.setup();
    std::vector<char*> argv{const_cast<char*>(c.program.c_str())};
    for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(c.program.c_str(), argv.data());
    _exit(127);
  }
  Outcome r;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  r.out = slurp(out_file);
  r.err = slurp(err_file);
  return r;
}

int count_lines(const std::string& text) {
  int n = 0;
  for (char ch : text) n += ch == '\n';
  return n;
}

bool starts_with(const std::string& text, const std::string& start) {
  return text.compare(0, start.size(), start) == 0;
}

// The whole report for the default table: banner, help text, one drive.
constexpr int kReportLines = 19;

TEST(CommandLine, HelpAndVersionMeasureNothing) {
  // A bad volume table would be reported on standard error the moment the
  // library looked at it: an empty standard error shows nothing was read.
  struct Case {
    const char* arg;
    const char* first_line;
  } cases[] = {{"--help", "Usage: vorn [--help | --version]\n"}, {"--version", "vorn (zeb) "}};
  for (const Case& k : cases) {
    Outcome r = run({k.arg}, {"ZEB_VOLUMES=not-a-table"});
    EXPECT_EQ(r.status, 0) << k.arg;
    EXPECT_TRUE(starts_with(r.out, k.first_line)) << k.arg << ": " << r.out;
    EXPECT_EQ(r.out.find("Drive:"), std::string::npos) << k.arg;
    EXPECT_EQ(r.err, "") << k.arg;
  }
  Outcome version = run({"--version"});
  EXPECT_EQ(count_lines(version.out), 1);
}

TEST(CommandLine, AnythingElseIsRefusedWithOneUsageLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"-x"}, {"--helpx"}, {"help"}, {"--help", "--version"}, {""}, {"--version", "x"}};
  for (const auto& args : cases) {
    Outcome r = run(args, {"ZEB_VOLUMES=not-a-table"});
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
    EXPECT_EQ(count_lines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("Usage: vorn [--help | --version]"), std::string::npos) << r.err;
  }
}

TEST(CommandLine, HelpThatCannotBeWrittenIsAnError) {
  int full = open("/dev/full", O_WRONLY);
  Outcome r = run({"--help"}, {}, kCapture, full);
  close(full);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "vorn: write error on standard output: error 43 (unable to obtain disc space for "
            "file extent)\n");
}

TEST(ClosedDescriptors, NeverCorruptAndEndCleanly) {
  struct Case {
    const char* name;
    int in, out, err;
    int status;
    int out_lines;
    const char* err_start;  // null: standard error stays empty (or is closed)
  } cases[] = {
      // No home terminal: start-up fails cleanly and says so.
      {">&-", kCapture, kClosed, kCapture, 3, 0,
       "vorn: library start-up failed: cannot open standard output ($ZHOME): error 16 "},
      {"<&- 2>&-", kClosed, kCapture, kClosed, 0, kReportLines, nullptr},
      {"<&-", kClosed, kCapture, kCapture, 0, kReportLines, nullptr},
      {"2>&-", kCapture, kCapture, kClosed, 0, kReportLines, nullptr},
      {"<&- >&- 2>&-", kClosed, kClosed, kClosed, 3, 0, nullptr},
      {">&- 2>&-", kCapture, kClosed, kClosed, 3, 0, nullptr},
  };
  for (const Case& k : cases) {
    Outcome r = run({}, {}, k.in, k.out, k.err);
    EXPECT_EQ(r.signal, 0) << k.name;
    EXPECT_EQ(r.status, k.status) << k.name;
    EXPECT_EQ(count_lines(r.out), k.out_lines) << k.name << "\n" << r.out;
    if (k.err_start == nullptr) {
      EXPECT_EQ(r.err, "") << k.name;
    } else {
      EXPECT_TRUE(starts_with(r.err, k.err_start)) << k.name << ": " << r.err;
      EXPECT_EQ(count_lines(r.err), 1) << k.name;
    }
  }
}

// A pipe, and a stream socket, whose reader has gone away.
int broken_pipe() {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  close(fds[0]);
  return fds[1];
}
int broken_socket() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
  close(fds[0]);
  return fds[1];
}
int dev_full() { return open("/dev/full", O_WRONLY); }

TEST(LostReport, EndsWithStatusThreeAndOneLine) {
  struct Case {
    const char* name;
    int (*output)();
    bool ignore_sigpipe;
    const char* err;
  } cases[] = {
      {"> /dev/full", dev_full, false,
       "vorn: write error on $ZHOME: error 43 (unable to obtain disc space for file extent)\n"},
      {"| (closed), SIGPIPE ignored", broken_pipe, true,
       "vorn: write error on $ZHOME: error 201 (the current path to the device is down)\n"},
      // The library never dies of SIGPIPE, whatever the disposition.
      {"| (closed), SIGPIPE default", broken_pipe, false,
       "vorn: write error on $ZHOME: error 201 (the current path to the device is down)\n"},
      {"socket (closed), SIGPIPE default", broken_socket, false,
       "vorn: write error on $ZHOME: error 201 (the current path to the device is down)\n"},
  };
  for (const Case& k : cases) {
    int fd = k.output();
    ASSERT_GE(fd, 0);
    bool ignore = k.ignore_sigpipe;
    Outcome r = run({}, {}, kCapture, fd, kCapture,
                    [ignore] { signal(SIGPIPE, ignore ? SIG_IGN : SIG_DFL); });
    close(fd);
    EXPECT_EQ(r.signal, 0) << k.name;
    EXPECT_EQ(r.status, 3) << k.name;
    EXPECT_EQ(r.err, k.err) << k.name;
  }
}

TEST(LostReport, SomeLinesWrittenThenThePipeCloses) {
  // `vorn | head -3`: the reader takes three lines and goes away.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t head = fork();
  if (head == 0) {
    close(fds[1]);
    int lines = 0;
    char ch;
    while (lines < 3 && read(fds[0], &ch, 1) == 1) lines += ch == '\n';
    _exit(0);
  }
  close(fds[0]);
  // Ten drives of 60 ms each: lines keep coming long after the reader left.
  std::string table = "ZEB_VOLUMES=";
  for (char c = 'A'; c < 'K'; ++c) table += std::string("$") + c + "=sim:rpm=60000;";
  Outcome r = run({}, {table}, kCapture, fds[1], kCapture, [] { signal(SIGPIPE, SIG_IGN); });
  close(fds[1]);
  waitpid(head, nullptr, 0);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "vorn: write error on $ZHOME: error 201 (the current path to the device is down)\n");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void limit(int resource, rlim_t value) {
  struct rlimit l = {value, value};
  setrlimit(resource, &l);
}

TEST(Startup, EveryFailureSaysWhatOnStandardError) {
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::function<void()> setup;
    const char* err_start;
    const char* err_has;
  } cases[] = {
      // One descriptor beyond the standard three.
      {"ulimit -n 4",
       {},
       [] { limit(RLIMIT_NOFILE, 4); },
       "vorn: library start-up failed: ",
       "error 34 "},
      // Smaller than the 8 MB swap file: an error, never SIGXFSZ.
      {"ulimit -f 8000",
       {},
       [] { limit(RLIMIT_FSIZE, 8000 * 1024); },
       "vorn: library start-up failed: ",
       ": error 45 (file is full)"},
      // Below the 1 GB range segments are mapped in.
      {"ulimit -v 200000",
       {},
       [] { limit(RLIMIT_AS, 200000 * 1024); },
       "vorn: library start-up failed: cannot reserve 1024 MB of address space",
       "error 317 "},
      {"TMPDIR missing",
       {"TMPDIR=/nonexistent/zeb"},
       nullptr,
       "vorn: library start-up failed: ",
       "/nonexistent/zeb"},
  };
  for (const Case& k : cases) {
    // The sanitizers' own run-time checks need descriptors beyond four, and
    // their shadow memory needs far more address space.
    if (kSanitized &&
        (std::string(k.name) == "ulimit -n 4" || std::string(k.name) == "ulimit -v 200000"))
      continue;
    Outcome r = run({}, k.env, kCapture, kCapture, kCapture, k.setup);
    EXPECT_EQ(r.signal, 0) << k.name;
    EXPECT_EQ(r.status, 3) << k.name;
    EXPECT_EQ(r.out, "") << k.name;
    EXPECT_TRUE(starts_with(r.err, k.err_start)) << k.name << ": " << r.err;
    EXPECT_NE(r.err.find(k.err_has), std::string::npos) << k.name << ": " << r.err;
    EXPECT_EQ(count_lines(r.err), 1) << k.name << ": " << r.err;
  }
}

TEST(Startup, SwapVolumeThatIsNoVolumeIsReported) {
  for (const char* value : {"$NOPE", "not a name"}) {
    Outcome r = run({}, {std::string("ZEB_SWAPVOL=") + value});
    EXPECT_EQ(r.status, 0) << value;
    EXPECT_EQ(count_lines(r.out), kReportLines) << value;
    EXPECT_TRUE(starts_with(r.err, "ZEB_SWAPVOL: ")) << value << ": " << r.err;
    EXPECT_NE(r.err.find(std::string("\"") + value + "\""), std::string::npos) << r.err;
    EXPECT_EQ(count_lines(r.err), 1) << r.err;
  }
}

// A directory tree for a user who is not root: root/ (root's, 0755) with
// root/tmp (the user's, 0700) as the temporary directory.
class OtherUser : public ::testing::Test {
 protected:
  static constexpr uid_t kNobody = 65534;
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
    char templ[] = "/tmp/zeb-vorn-user-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    tmp_ = root_ + "/tmp";
    ASSERT_EQ(chmod(root_.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
    ASSERT_EQ(chown(tmp_.c_str(), kNobody, kNobody), 0);
    // The build tree may be where the user cannot go (a clone in a private
    // temporary directory): the user runs a copy of the program.
    program_ = root_ + "/vorn";
    std::filesystem::copy_file(VORN_PATH, program_);
    ASSERT_EQ(chmod(program_.c_str(), 0755), 0);
  }
  void TearDown() override {
    if (!program_.empty()) unlink(program_.c_str());
    if (!tmp_.empty()) rmdir(tmp_.c_str());
    if (!root_.empty()) rmdir(root_.c_str());
  }
  static void become_nobody() {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(126);
    }
  }
  std::string root_, tmp_, program_;
};

TEST_F(OtherUser, MeasuresWhatItCanAndSaysWhyNotTheRest) {
  // $D's root is not the user's, but its temporary directory on the same file
  // system is; /dev is another file system where the user may create nothing.
  Outcome r =
      run(Child{{},
                {"ZEB_VOLUMES=$D=" + root_ + ";$DEV=/dev", "TMPDIR=" + tmp_, "HOME=/nonexistent"},
                kCapture,
                kCapture,
                kCapture,
                become_nobody,
                program_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(r.out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), 20u) << r.out;
  EXPECT_TRUE(starts_with(lines[18], "Drive: $D       Effective RPM: ")) << lines[18];
  EXPECT_EQ(lines[19], "Drive: $DEV     Error: 48 (security violation)");
  // Nothing is left behind in either directory.
  EXPECT_EQ(rmdir(tmp_.c_str()), 0);
  tmp_.clear();
}

// The example of the manual page: its command's report lines are the
// program's, figure for figure.
TEST(ManualPage, ExampleMatchesTheProgram) {
  std::ifstream page(VORN_MAN_PAGE);
  ASSERT_TRUE(page.good());
  std::string line, command;
  std::vector<std::string> expected;
  bool in_examples = false, in_example = false;
  while (std::getline(page, line)) {
    if (starts_with(line, ".SH")) in_examples = line == ".SH EXAMPLES";
    if (!in_examples) continue;
    if (line == ".EX") {
      in_example = true;
    } else if (line == ".EE") {
      break;
    } else if (in_example && starts_with(line, "$ ")) {
      command = line.substr(2);
    } else if (in_example) {
      expected.push_back(line);
    }
  }
  // The command is ZEB_VOLUMES='...' vorn | grep Drive.
  const std::string prefix = "ZEB_VOLUMES='", suffix = "' vorn | grep Drive";
  ASSERT_TRUE(starts_with(command, prefix)) << command;
  ASSERT_EQ(command.substr(command.size() - suffix.size()), suffix) << command;
  std::string table = command.substr(prefix.size(), command.size() - prefix.size() - suffix.size());
  Outcome r = run({}, {"ZEB_VOLUMES=" + table});
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> drives;
  size_t start = 0;
  for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string l = r.out.substr(start, end - start);
    if (l.find("Drive") != std::string::npos) drives.push_back(l);
  }
  EXPECT_EQ(drives, expected);
}

}  // namespace
