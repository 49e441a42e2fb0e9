// The vorn program under real conditions: its command line, closed standard
// descriptors, a report that cannot be written, start-up failures under
// limits, another user, and the example of its manual page. Every case runs
// the program as a child process with the condition set up in the child.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include "platform/testing/testing.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using zeb::testing::ChildRun;
using zeb::testing::kCapture;
using zeb::testing::kClosed;
using zeb::testing::lines_of;

// Runs vorn (or program) with args and env (NAME=VALUE on top of the test's
// own), its standard descriptors captured, closed or given, and setup run in
// the child just before exec. The volume table defaults to one simulated
// disk: it comes first, so that a table in env overrides it.
ChildRun run(std::vector<std::string> args, std::vector<std::string> env = {}, int in = kCapture,
             int out = kCapture, int err = kCapture, std::function<void()> setup = nullptr,
             std::string program = VORN_PATH) {
  env.insert(env.begin(), "ZEB_VOLUMES=$S=sim:rpm=60000");
  return zeb::testing::run_program(
      {std::move(program), std::move(args), std::move(env), in, out, err, std::move(setup)});
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

constexpr const char* kUsage = "Usage: vorn [--quiet] [--verbose] [--json] [--prometheus FILE]";

TEST(CommandLine, HelpAndVersionMeasureNothing) {
  // A bad volume table would be reported on standard error the moment the
  // library looked at it: an empty standard error shows nothing was read.
  // Of --help and --version the first given answers.
  struct Case {
    std::vector<std::string> args;
    const char* first_line;
  } cases[] = {{{"--help"}, kUsage},
               {{"--version"}, "vorn (zeb) "},
               {{"--help", "--version"}, kUsage},
               {{"--version", "--help"}, "vorn (zeb) "},
               {{"--quiet", "--help"}, kUsage}};
  for (const Case& k : cases) {
    ChildRun r = run(k.args, {"ZEB_VOLUMES=not-a-table"});
    EXPECT_EQ(r.status, 0) << k.args[0];
    EXPECT_TRUE(starts_with(r.out, k.first_line)) << k.args[0] << ": " << r.out;
    EXPECT_EQ(r.out.find("Drive:"), std::string::npos) << k.args[0];
    EXPECT_EQ(r.err, "") << k.args[0];
  }
  ChildRun version = run({"--version"});
  EXPECT_EQ(count_lines(version.out), 1);
  // The help text names every option of a simulated disk.
  ChildRun help = run({"--help"});
  for (const char* word : {"rpm=N", "subtype=N", "fail=K", "ldev=N", "clock=virtual|real"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
}

TEST(CommandLine, RefusalsGiveTheReasonAndOneUsageLine) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"-x"}, "vorn: unknown or ambiguous option \"-x\"; "},
      {{"--helpx"}, "vorn: unknown or ambiguous option \"--helpx\"; "},
      {{"help"}, "vorn: unexpected argument \"help\"; "},
      {{""}, "vorn: unexpected argument \"\"; "},
      {{"--version", "x"}, "vorn: unexpected argument \"x\"; "},
      {{"--volume"}, "vorn: option \"--volume\" needs a value; "},
      {{"--help=yes"}, "vorn: option \"--help\" takes no value; "},
      {{"--prometheus="}, "vorn: --prometheus needs a file name; "},
      {{"--list", "--json"}, "vorn: --list measures nothing and takes only --volume and --quiet; "},
  };
  for (const Case& k : cases) {
    ChildRun r = run(k.args, {"ZEB_VOLUMES=not-a-table"});
    EXPECT_EQ(r.status, 2) << k.args[0];
    EXPECT_EQ(r.out, "") << k.args[0];
    EXPECT_EQ(count_lines(r.err), 1) << r.err;
    EXPECT_TRUE(starts_with(r.err, std::string(k.reason) + kUsage)) << r.err;
  }
}

TEST(CommandLine, HelpThatCannotBeWrittenIsAnError) {
  int full = open("/dev/full", O_WRONLY);
  ChildRun r = run({"--help"}, {}, kCapture, full);
  close(full);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err,
            "vorn: write error on standard output: error 43 (unable to obtain disc space for "
            "file extent; No space left on device)\n");
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
    ChildRun r = run({}, {}, k.in, k.out, k.err);
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
       "vorn: write error on standard output: error 43 (unable to obtain disc space for file "
       "extent; No "
       "space left on device)\n"},
      // A reader that went away ends the run quietly, with status 3.
      {"| (closed), SIGPIPE ignored", broken_pipe, true, ""},
      // The library never dies of SIGPIPE, whatever the disposition.
      {"| (closed), SIGPIPE default", broken_pipe, false, ""},
      {"socket (closed), SIGPIPE default", broken_socket, false, ""},
  };
  for (const Case& k : cases) {
    int fd = k.output();
    ASSERT_GE(fd, 0);
    bool ignore = k.ignore_sigpipe;
    ChildRun r = run({}, {}, kCapture, fd, kCapture,
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
  ChildRun r = run({}, {table}, kCapture, fds[1], kCapture, [] { signal(SIGPIPE, SIG_IGN); });
  close(fds[1]);
  waitpid(head, nullptr, 0);
  // As `yes | head` ends: quietly, with the status of a report not written.
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "");
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
       ": error 45 (file is full; File too large)"},
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
    ChildRun r = run({}, k.env, kCapture, kCapture, kCapture, k.setup);
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
    ChildRun r = run({}, {std::string("ZEB_SWAPVOL=") + value});
    EXPECT_EQ(r.status, 0) << value;
    EXPECT_EQ(count_lines(r.out), kReportLines) << value;
    EXPECT_TRUE(starts_with(r.err, "vorn: ZEB_SWAPVOL: ")) << value << ": " << r.err;
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
  ChildRun r =
      run({}, {"ZEB_VOLUMES=$D=" + root_ + ";$DEV=/dev", "TMPDIR=" + tmp_, "HOME=/nonexistent"},
          kCapture, kCapture, kCapture, become_nobody, program_);
  // One volume could not be measured.
  EXPECT_EQ(r.status, 1) << r.err;
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
  ChildRun r = run({}, {"ZEB_VOLUMES=" + table});
  EXPECT_EQ(r.status, 1);  // $BAD
  std::vector<std::string> drives;
  size_t start = 0;
  for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string l = r.out.substr(start, end - start);
    if (l.find("Drive") != std::string::npos) drives.push_back(l);
  }
  EXPECT_EQ(drives, expected);
}

// The reports of every mode, on simulated disks under the virtual clock:
// one of 7200 rpm, one of 5400, one that is never measured, one whose 31st
// write fails.
const std::string kTable =
    "ZEB_VOLUMES=$S72=sim:rpm=7200,clock=virtual;$S54=sim:rpm=5400;"
    "$CD=sim:rpm=7200,subtype=36;$BAD=sim:rpm=7200,fail=31";

std::string join(const std::vector<std::string>& lines, size_t from = 0) {
  std::string text;
  for (size_t i = from; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

const char* const kDriveLines =
    "Drive: $S72     Effective RPM: 7200\n"
    "Drive: $S54     Effective RPM: 5400\n"
    "Drive: $BAD     Error: 190 (device error)\n";

TEST(Reports, TextModesKeepTheDefaultLinesAndAddTheSpread) {
  ChildRun plain = run({}, {kTable});
  EXPECT_EQ(plain.status, 1);  // $BAD
  std::vector<std::string> lines = lines_of(plain.out);
  ASSERT_EQ(lines.size(), 21u) << plain.out;
  EXPECT_EQ(join(lines, 18), kDriveLines);

  ChildRun quiet = run({"--quiet"}, {kTable});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, kDriveLines);

  const std::string spread =
      "Drive: $S72     Effective RPM: 7200\n"
      "        pass times (us): min 8333, median 8333, p90 8334, p99 8334, max 8334; trimmed "
      "mean 8333\n"
      "Drive: $S54     Effective RPM: 5400\n"
      "        pass times (us): min 11111, median 11111, p90 11111, p99 11112, max 11112; "
      "trimmed mean 11111\n"
      "Drive: $BAD     Error: 190 (device error)\n"
      "        error 190 (device error; Input/output error)\n";
  ChildRun verbose = run({"--verbose"}, {kTable});
  EXPECT_EQ(verbose.status, 1);
  EXPECT_EQ(verbose.out,
            join(std::vector<std::string>(lines.begin(), lines.begin() + 18)) + spread);
  ChildRun both = run({"--quiet", "--verbose"}, {kTable});
  EXPECT_EQ(both.out, spread);
  EXPECT_EQ(both.err, "");
}

TEST(Reports, JsonHasOneObjectPerVolumeWithEveryPass) {
  ChildRun r = run({"--json"}, {kTable});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  std::vector<nlohmann::json> v;
  for (const std::string& line : lines) v.push_back(nlohmann::json::parse(line));
  struct Figures {
    const char* volume;
    int min, median, p90, p99, max, mean, rpm;
  } measured[] = {{"$S72", 8333, 8333, 8334, 8334, 8334, 8333, 7200},
                  {"$S54", 11111, 11111, 11111, 11112, 11112, 11111, 5400}};
  for (size_t i = 0; i < 2; ++i) {
    const nlohmann::json& j = v[i];
    const Figures& f = measured[i];
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["volume"], f.volume);
    EXPECT_EQ(j["simulated"], true);
    EXPECT_TRUE(j["mount_point"].is_null() && j["device"].is_null() && j["model"].is_null() &&
                j["rotational"].is_null() && j["write_cache"].is_null() && j["fs_type"].is_null());
    EXPECT_EQ(j["ok"], true);
    std::vector<int> passes = j["pass_us"];
    ASSERT_EQ(passes.size(), 60u);
    // The disk turns exactly: the passes take whole microseconds around one
    // revolution, which the trimmed mean gives back.
    for (int us : passes) EXPECT_TRUE(us == f.min || us == f.max) << us;
    EXPECT_EQ(*std::min_element(passes.begin(), passes.end()), f.min);
    EXPECT_EQ(*std::max_element(passes.begin(), passes.end()), f.max);
    EXPECT_EQ(j["min_us"], f.min);
    EXPECT_EQ(j["median_us"], f.median);
    EXPECT_EQ(j["p90_us"], f.p90);
    EXPECT_EQ(j["p99_us"], f.p99);
    EXPECT_EQ(j["max_us"], f.max);
    EXPECT_EQ(j["trimmed_mean_us"], f.mean);
    EXPECT_EQ(j["rpm"], f.rpm);
  }
  EXPECT_EQ(v[2]["volume"], "$BAD");
  EXPECT_EQ(v[2]["ok"], false);
  EXPECT_FALSE(v[2].contains("pass_us"));
  EXPECT_EQ(
      v[2]["error"],
      nlohmann::json({{"number", 190}, {"text", "device error"}, {"linux", "Input/output error"}}));
}

TEST(Reports, PrometheusFileIsReplacedWhole) {
  char dir_template[] = "/tmp/zeb-vorn-prom-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template, file = dir + "/vorn.prom";
  { std::ofstream(file) << "old\n"; }
  ChildRun r = run({"--quiet", "--prometheus", file}, {kTable});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kDriveLines);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  std::string metrics = text.str();
  // The time of the run is the one figure that is not exact.
  const std::string stamp = "vorn_last_run_timestamp_seconds ";
  const size_t at = metrics.rfind(stamp);
  ASSERT_NE(at, std::string::npos) << metrics;
  const std::string seconds = metrics.substr(at + stamp.size());
  EXPECT_TRUE(seconds.size() == 11 && seconds.back() == '\n' &&
              seconds.find_first_not_of("0123456789") == 10)
      << metrics;
  metrics.erase(at);
  const std::string s72 = "volume=\"$S72\",device=\"\",mountpoint=\"\"";
  const std::string s54 = "volume=\"$S54\",device=\"\",mountpoint=\"\"";
  EXPECT_EQ(
      metrics,
      "# HELP vorn_rewrite_seconds Time of one durable rewrite of a 512-byte block, over the "
      "sixty passes of the last run.\n"
      "# TYPE vorn_rewrite_seconds summary\n"
      "vorn_rewrite_seconds{" +
          s72 +
          ",quantile=\"0\"} 0.008333\n"
          "vorn_rewrite_seconds{" +
          s72 +
          ",quantile=\"0.5\"} 0.008333\n"
          "vorn_rewrite_seconds{" +
          s72 +
          ",quantile=\"0.9\"} 0.008334\n"
          "vorn_rewrite_seconds{" +
          s72 +
          ",quantile=\"0.99\"} 0.008334\n"
          "vorn_rewrite_seconds{" +
          s72 +
          ",quantile=\"1\"} 0.008334\n"
          "vorn_rewrite_seconds_sum{" +
          s72 +
          "} 0.500000\n"
          "vorn_rewrite_seconds_count{" +
          s72 +
          "} 60\n"
          "vorn_rewrite_seconds{" +
          s54 +
          ",quantile=\"0\"} 0.011111\n"
          "vorn_rewrite_seconds{" +
          s54 +
          ",quantile=\"0.5\"} 0.011111\n"
          "vorn_rewrite_seconds{" +
          s54 +
          ",quantile=\"0.9\"} 0.011111\n"
          "vorn_rewrite_seconds{" +
          s54 +
          ",quantile=\"0.99\"} 0.011112\n"
          "vorn_rewrite_seconds{" +
          s54 +
          ",quantile=\"1\"} 0.011112\n"
          "vorn_rewrite_seconds_sum{" +
          s54 +
          "} 0.666666\n"
          "vorn_rewrite_seconds_count{" +
          s54 +
          "} 60\n"
          "# HELP vorn_effective_rpm Rewrites of one block per minute, from the trimmed mean "
          "pass time of the last run.\n"
          "# TYPE vorn_effective_rpm gauge\n"
          "vorn_effective_rpm{" +
          s72 +
          "} 7200\n"
          "vorn_effective_rpm{" +
          s54 +
          "} 5400\n"
          "# HELP vorn_volume_error The error number of the volume's last measurement, 0 when "
          "it was measured.\n"
          "# TYPE vorn_volume_error gauge\n"
          "vorn_volume_error{" +
          s72 +
          "} 0\n"
          "vorn_volume_error{" +
          s54 +
          "} 0\n"
          "vorn_volume_error{volume=\"$BAD\",device=\"\",mountpoint=\"\"} 190\n"
          "# HELP vorn_last_run_timestamp_seconds When the last run of vorn ended, in seconds "
          "since 1970.\n"
          "# TYPE vorn_last_run_timestamp_seconds gauge\n");
  // Readable by a collector running as another user, whatever the umask;
  // no temporary left beside it.
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename());
  }
  EXPECT_EQ(names, std::vector<std::string>{"vorn.prom"});
  // A file that cannot be written ends the run with status 3 and says why,
  // before anything is measured.
  ChildRun bad = run({"--quiet", "--prometheus", dir + "/none/vorn.prom"}, {kTable});
  EXPECT_EQ(bad.status, 3);
  EXPECT_EQ(bad.out, "");
  EXPECT_TRUE(starts_with(bad.err, "vorn: cannot write " + dir +
                                       "/none/vorn.prom: error 11 (file not in directory or "
                                       "record not in file; No such file or directory)"))
      << bad.err;
  std::filesystem::remove_all(dir);
}

// A run that measured nothing never reports success; one where some
// volumes failed says so too (as fio and ioping do). Every entry that names
// nothing usable keeps its warning with the reason.
TEST(Reports, StatusSaysWhatWasMeasured) {
  const std::string good = "$A=sim:rpm=6000,clock=virtual";
  struct Case {
    std::vector<std::string> args;
    std::string table;
    int status;
    const char* err;
  } cases[] = {
      {{"--quiet"}, good, 0, ""},
      {{"--quiet"},
       "$Y=/nonexistent",
       4,
       "vorn: ZEB_VOLUMES: $Y: \"/nonexistent\" is not an existing directory; ignored\n"},
      {{"--quiet"},
       "$Y=/nonexistent;" + good,
       1,
       "vorn: ZEB_VOLUMES: $Y: \"/nonexistent\" is not an existing directory; ignored\n"},
      {{"--quiet"}, "$BAD=sim:rpm=6000,fail=1", 4, ""},
      {{"--quiet"}, "$CD=sim:rpm=6000,subtype=36", 4, ""},
      {{"--quiet", "--volume", "/nonexistent"},
       good,
       4,
       "vorn: --volume \"/nonexistent\": error 11 (file not in directory or record not in file; "
       "No such file or directory); ignored\n"},
      {{"--quiet", "--volume", "/etc/passwd", "--volume", "$" + good.substr(1)},
       "",
       1,
       "vorn: --volume \"/etc/passwd\": error 2 (operation not allowed on this type file); "
       "ignored\n"},
      {{"--quiet", "--volume", good}, "$Y=/nonexistent", 0, ""},
      {{"--list"}, good + ";$F=sim:rpm=6000,fail=1", 0, ""},
      {{"--list"}, "$CD=sim:rpm=6000,subtype=36", 4, ""},
  };
  for (const Case& k : cases) {
    ChildRun r = run(k.args, {"ZEB_VOLUMES=" + k.table});
    EXPECT_EQ(r.status, k.status) << k.args.back() << " " << k.table << "\n" << r.out;
    EXPECT_EQ(r.err, k.err) << k.args.back() << " " << k.table;
  }
}

TEST(Reports, ListNamesTheVolumesAndMeasuresNothing) {
  // $F's first write would fail: a listing that measured would show it.
  ChildRun r = run({"--list"}, {"ZEB_VOLUMES=$A=sim:rpm=6000;$F=sim:rpm=6000,fail=1;$CD=sim:"
                                "rpm=6000,subtype=36"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "$A\t-\tsim\n$F\t-\tsim\n");
  // A directory is named after its device and shows its mount point.
  ChildRun tmp = run({"--list", "--volume", "/tmp"});
  EXPECT_EQ(tmp.status, 0) << tmp.err;
  std::vector<std::string> fields;
  std::istringstream line(tmp.out);
  for (std::string f; std::getline(line, f, '\t');) fields.push_back(f);
  ASSERT_EQ(fields.size(), 3u) << tmp.out;
  EXPECT_EQ(fields[0][0], '$');
  EXPECT_EQ(std::string("/tmp").rfind(fields[1], 0), 0u) << fields[1];
}

// A real directory: the JSON tells which mount point and file system it is.
TEST(Reports, JsonOfARealDirectoryNamesItsMount) {
  ChildRun r = run({"--json", "--volume", "/tmp"}, {"TMPDIR=/tmp"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["simulated"], false);
  ASSERT_TRUE(j["mount_point"].is_string()) << r.out;
  EXPECT_EQ(std::string("/tmp").rfind(j["mount_point"].get<std::string>(), 0), 0u);
  EXPECT_TRUE(j["fs_type"].is_string()) << r.out;
  EXPECT_EQ(j["pass_us"].size(), 60u);
  EXPECT_GT(j["rpm"].get<int>(), 0);
}

std::string file_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A volume that cannot be written (here a read-only tmpfs in the child's own
// mount namespace, as ProtectHome=read-only makes /home) is in every report
// with error 101, never left out.
TEST(Reports, ReadOnlyVolumeIsInEveryReport) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to mount a read-only file system";
  char dir_template[] = "/tmp/zeb-vorn-ro-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template, ro = dir + "/ro", prom = dir + "/vorn.prom";
  ASSERT_EQ(mkdir(ro.c_str(), 0755), 0);
  auto read_only_mount = [ro] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", ro.c_str(), "tmpfs", MS_RDONLY, nullptr) != 0) {
      _exit(125);
    }
  };
  const std::string error =
      "{\"number\":101,\"text\":\"media is write protected\",\"linux\":"
      "\"Read-only file system\"}";
  struct Case {
    std::vector<std::string> args;
    int status;
    bool in_file;  // the text is in the metrics file, not on standard output
    std::string text;
  } cases[] = {
      {{"--quiet"}, 4, false, "Drive: $TMPFS   Error: 101 (media is write protected)\n"},
      {{"--quiet", "--verbose"},
       4,
       false,
       "        error 101 (media is write protected; Read-only file system)\n"},
      {{"--json"}, 4, false, "\"ok\":false,\"error\":" + error},
      {{"--quiet", "--prometheus", prom},
       4,
       true,
       "vorn_volume_error{volume=\"$TMPFS\",device=\"\",mountpoint=\"" + ro + "\"} 101\n"},
      {{"--list"}, 0, false, "$TMPFS\t" + ro + "\t-\n"},
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = k.args;
    args.insert(args.end(), {"--volume", ro});
    ChildRun r = run(args, {}, kCapture, kCapture, kCapture, read_only_mount);
    if (r.status == 125) GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(r.status, k.status) << args[0] << ": " << r.err;
    const std::string where = k.in_file ? file_text(prom) : r.out;
    EXPECT_NE(where.find(k.text), std::string::npos) << args[0] << ":\n" << where;
  }
  std::filesystem::remove_all(dir);
}

// --volume entries: a file system is measured once, however many entries
// name it, and the folded entry is told on standard error; an entry that
// names nothing gets a JSON object of its own with its error. Every object
// says when it was measured.
TEST(Reports, VolumeEntriesFoldAndRefusalsAreObjects) {
  char dir_template[] = "/tmp/zeb-vorn-fold-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template, a = dir + "/a", b = dir + "/b";
  ASSERT_EQ(mkdir(a.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(b.c_str(), 0755), 0);
  const std::string sim = "$S=sim:rpm=6000,clock=virtual";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> names;  // "volume" of each line; "" for null
    std::vector<std::string> arguments;
    const char* err;  // $ is the first volume's name
  } cases[] = {
      {{"--volume", a, "--volume", b},
       0,
       {"$"},
       {a},
       "vorn: --volume \"BBB\": on the file system of \"AAA\", measured once as $\n"},
      {{"--volume", "$P=" + a, "--volume", "$Q=" + b},
       0,
       {"$P"},
       {"$P=" + a},
       "vorn: --volume \"$Q=BBB\": on the file system of \"$P=AAA\", measured once as $P\n"},
      {{"--volume", a, "--volume", "$S=" + a, "--volume", sim},
       0,
       {"$", "$S"},
       {a, sim},
       "vorn: --volume \"$S=AAA\": on the file system of \"AAA\", measured once as $\n"},
      {{"--volume", "/nonexistent", "--volume", sim},
       1,
       {"", "$S"},
       {"/nonexistent", sim},
       "vorn: --volume \"/nonexistent\": error 11 (file not in directory or record not in file; "
       "No such file or directory); ignored\n"},
      {{"--volume", "", "--volume", "$N=/nonexistent"},
       4,
       {"", ""},
       {"", "$N=/nonexistent"},
       "vorn: --volume \"\": error 11 (file not in directory or record not in file; No such "
       "file or directory); ignored\nvorn: --volume \"$N=/nonexistent\": error 11 (file not in "
       "directory or record not in file; No such file or directory); ignored\n"},
      {{"--volume", "x;y", "--volume", sim},
       1,
       {"", "$S"},
       {"x;y"},
       "vorn: --volume \"x;y\": a directory name with ';' cannot be measured; ignored\n"},
  };
  auto utc_now = [](time_t ahead) {
    char text[32];
    time_t now = time(nullptr) + ahead;
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", gmtime(&now));
    return std::string(text);
  };
  for (const Case& k : cases) {
    std::vector<std::string> args = k.args;
    args.insert(args.begin(), "--json");
    const std::string before = utc_now(0);
    ChildRun r = run(args, {"TMPDIR=" + dir});
    const std::string after = utc_now(0);
    // $S runs the whole process on the virtual clock, which starts at the next
    // whole minute of the real one and moves on by the 0.6 s of its sixty
    // rewrites, which take no real time.
    const std::string virtual_after = utc_now(62);
    EXPECT_EQ(r.status, k.status) << k.args[1];
    std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), k.names.size()) << r.out;
    std::string first_name;
    for (size_t i = 0; i < lines.size(); ++i) {
      nlohmann::json j = nlohmann::json::parse(lines[i]);
      if (i == 0 && j["volume"].is_string()) first_name = j["volume"];
      if (k.names[i].empty()) {
        EXPECT_TRUE(j["volume"].is_null()) << lines[i];
        EXPECT_EQ(j["ok"], false);
        EXPECT_TRUE(j["error"]["number"].is_number()) << lines[i];
      } else if (k.names[i] == "$") {
        EXPECT_EQ(j["volume"].get<std::string>()[0], '$') << lines[i];
      } else {
        EXPECT_EQ(j["volume"], k.names[i]) << lines[i];
      }
      if (i < k.arguments.size()) {
        EXPECT_EQ(j["argument"], k.arguments[i]) << lines[i];
      }
      // RFC 3339 in UTC compares as text.
      const std::string at = j["measured_at"];
      const bool on_virtual_clock = r.out.find("\"simulated\":true") != std::string::npos;
      EXPECT_TRUE(at.size() == 20 && before <= at &&
                  at <= (on_virtual_clock ? virtual_after : after))
          << before << " " << at << " " << after;
    }
    std::string err = k.err;
    for (auto [from, to] : {std::pair<std::string, std::string>{"AAA", a}, {"BBB", b}}) {
      for (size_t at; (at = err.find(from)) != std::string::npos;) err.replace(at, 3, to);
    }
    // A "$" alone at the end stands for the name the first volume was given.
    if (err.size() > 1 && err[err.size() - 2] == '$' && !first_name.empty()) {
      err.insert(err.size() - 1, first_name.substr(1));
    }
    EXPECT_EQ(r.err, err) << k.args[1];
  }
  std::filesystem::remove_all(dir);
}

// The manual page's version is the program's.
TEST(ManualPage, VersionIsTheProgramsVersion) {
  std::ifstream page(VORN_MAN_PAGE);
  std::string th;
  ASSERT_TRUE(std::getline(page, th));
  const size_t from = th.find("\"zeb "), to = th.find('"', from + 1);
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << th;
  ChildRun r = run({"--version"});
  EXPECT_EQ(r.out, "vorn (zeb) " + th.substr(from + 5, to - from - 5) + "\n");
}

}  // namespace
