// The operator's lconf tool, run as a child process: what show prints for
// any record, the round trip of show's text through build, the new files a
// killed build leaves, links, and the command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <zeb/env/env.h>
#include <zeb/platform/keyfile.h>
#include "platform/testing/testing.h"

namespace {

namespace fs = std::filesystem;

using zeb::testing::ChildRun;
using zeb::testing::file_text;
using zeb::testing::write_text;

// Runs lconf with args (no shell) in a child, output and errors captured.
ChildRun lconf(const std::vector<std::string>& args) {
  zeb::testing::Program program;
  program.path = LCONF_PATH;
  program.args = args;
  return zeb::testing::run_program(program);
}

// The names in dir other than the ones given.
std::vector<std::string> others(const std::string& dir, const std::vector<std::string>& known) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename();
    if (std::find(known.begin(), known.end(), name) == known.end()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Every byte that must not reach a terminal as it is comes out as \xHH, and
// what show prints builds the same file: CR at a value's end included.
TEST(Lconf, ShowEscapesWhatATerminalWouldObeyAndRoundTrips) {
  zeb::testing::ScratchVolume volume("$CF");
  ASSERT_EQ(::mkdir(volume.path("sub").c_str(), 0700), 0);
  const std::string text = volume.path("in.txt"), file = volume.path("sub/conf");
  write_text(text,
             "P a v\r\r\n"                // one CR is the line end's; the other is the value's
             "P ctl x\x1b[2J\x07y\x7f\n"  // ESC, BEL, DEL
             "P utf h\xc3\xa9llo\n"       // UTF-8 shows as it is
             "P c1 \xc2\x9b"
             "1m\n"                       // a C1 control in UTF-8 does not
             "P bad \xff\xc3\n"           // nor bytes that are not UTF-8
             "P esc \\x41\\x5c\\q\\x4\n"  // \xHH is the byte; other backslashes stay
             "P nul a\\x00b\n");
  ChildRun built = lconf({"build", text, file});
  ASSERT_EQ(built.status, 0) << built.err;
  const std::string want =
      "P A v\\x0D\n"
      "P BAD \\xFF\\xC3\n"
      "P C1 \\xC2\\x9B1m\n"
      "P CTL x\\x1B[2J\\x07y\\x7F\n"
      "P ESC A\\\\q\\x4\n"
      "P NUL a\\x00b\n"
      "P UTF h\xc3\xa9llo\n";
  ChildRun shown = lconf({"show", file});
  ASSERT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, want);
  write_text(text, shown.out);
  ASSERT_EQ(lconf({"build", text, volume.path("sub/again")}).status, 0);
  EXPECT_EQ(lconf({"show", volume.path("sub/again")}).out, want);

  // The values as the library reads them.
  struct {
    const char* key;
    std::string value;
  } values[] = {{"a", "v\r"}, {"esc", "A\\\\q\\x4"}, {"nul", std::string("a\0b", 3)}};
  char name[48];
  std::memset(name, ' ', sizeof name);
  std::memcpy(name, "$CF.SUB.CONF", 12);
  for (const auto& v : values) {
    char result[120];
    ASSERT_EQ(LCONF_INFO(name, 0, v.key, result), 0) << v.key;
    EXPECT_EQ(std::string(result, v.value.size() + 1), v.value + " ") << v.key;
  }
}

// Records of any length and content that the library did not write, a
// record of one byte among them, are shown by their keys, escaped.
TEST(Lconf, ShowNamesRecordsOfAnotherFormByTheirKeys) {
  zeb::testing::ScratchDirectory dir;
  const std::string file = dir.path() + "/foreign";
  std::string problem;
  std::string long_p(zeb::kLconfRecordSize, ' ');
  long_p.replace(0, 2, "P ");
  long_p.replace(2, 16, std::string(16, '*'));
  long_p.replace(18, 4, "NAME");
  long_p[zeb::kLconfValueLenOffset] = 0x7F;  // a length beyond the record
  ASSERT_EQ(zeb::platform::keyfile_write(file, zeb::kLconfKeySize,
                                         {"x", std::string("\x1b]0;t\x07", 6), long_p}, &problem),
            0)
      << problem;
  ChildRun shown = lconf({"show", file});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out,
            "# a record the library does not read: \\x1B]0;t\\x07\n"
            "# a record the library does not read: " +
                long_p.substr(0, zeb::kLconfKeySize) +
                "\n"
                "# a record the library does not read: x\n");
}

// A build killed at any point leaves its new file behind; the next build of
// the same file removes it, and every other such file whose process has
// ended, and leaves alone what is not plainly one.
TEST(Lconf, KilledBuildsLeaveNothingAfterTheNextBuild) {
  zeb::testing::ScratchDirectory dir;
  const std::string text = dir.path() + "/in.txt", file = dir.path() + "/conf";
  std::string lines;
  for (int i = 0; i < 3000; ++i)
    lines += "P N" + std::to_string(i) + " value " + std::to_string(i) + "\n";
  write_text(text, lines);
  ASSERT_EQ(lconf({"build", text, file}).status, 0);
  const std::string whole = file_text(file);

  // A process id that has ended: a child that exited and was reaped.
  pid_t dead = fork();
  if (dead == 0) _exit(0);
  waitpid(dead, nullptr, 0);
  const std::string d = std::to_string(dead), live = std::to_string(getpid());
  for (const std::string& name : {"conf.new-" + d + "-0", "conf.new-" + d + "-3-journal"}) {
    write_text(dir.path() + "/" + name, "left");
  }
  const std::vector<std::string> kept = {
      "conf.new-" + live + "-0",  // its process runs
      "conf.new-" + d + "-1x",    // not a name of ours
      "other.new-" + d + "-0",    // of another file
      "conf.new-" + d + "-2",     // a directory
      "conf.new-" + d + "-4",     // a link
  };
  for (size_t i = 0; i < 3; ++i) write_text(dir.path() + "/" + kept[i], "keep");
  fs::create_directory(dir.path() + "/" + kept[3]);
  fs::create_symlink(text, dir.path() + "/" + kept[4]);
  ASSERT_EQ(lconf({"build", text, file}).status, 0);
  std::vector<std::string> sorted = kept;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(others(dir.path(), {"in.txt", "conf"}), sorted);
  for (const std::string& name : kept) fs::remove(dir.path() + "/" + name);

  // 100 builds, each killed after a different short while; whatever each
  // left, the build after them leaves nothing but the file, whole.
  for (int i = 0; i < 100; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      execl(LCONF_PATH, LCONF_PATH, "build", text.c_str(), file.c_str(), nullptr);
      _exit(127);
    }
    // The kill may come at any point; no outcome depends on which.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(i * 500);
    while (std::chrono::steady_clock::now() < until) {
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(file_text(file), whole) << i;
  }
  ASSERT_EQ(lconf({"build", text, file}).status, 0);
  EXPECT_EQ(others(dir.path(), {"in.txt", "conf"}), std::vector<std::string>{});
  EXPECT_EQ(file_text(file), whole);
}

// A link as FILE is refused with its reason; the link and its target stay.
TEST(Lconf, BuildRefusesALink) {
  zeb::testing::ScratchDirectory dir;
  const std::string text = dir.path() + "/in.txt", target = dir.path() + "/target",
                    link = dir.path() + "/conf";
  write_text(text, "P A 1\n");
  write_text(target, "old");
  fs::create_symlink(target, link);
  ChildRun r = lconf({"build", text, link});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "lconf: " + link +
                       ": a symbolic link; name the file it points to; error 2 (operation not "
                       "allowed on this type file)\n");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(file_text(target), "old");
  EXPECT_EQ(others(dir.path(), {"in.txt", "target", "conf"}), std::vector<std::string>{});
}

// Every bad line of TEXT is told in one run, in order, up to twenty and then
// how many more; whatever the count, nothing is written.
TEST(Lconf, EveryBadLineIsReported) {
  zeb::testing::ScratchDirectory dir;
  const std::string text = dir.path() + "/in.txt", file = dir.path() + "/conf";
  const std::string good = "P GOOD value\n";
  // n lines that are each bad, the k-th naming an entry of its own.
  auto bad_lines = [](int n) {
    std::string lines;
    for (int k = 0; k < n; ++k) lines += "X ENTRY" + std::to_string(k) + "\n";
    return lines;
  };
  auto reports = [&](int first_line, int n) {
    std::string err;
    for (int k = 0; k < n; ++k) {
      err += text + ":" + std::to_string(first_line + k) + ": record type must be P or A\n";
    }
    return err;
  };
  struct {
    const char* what;
    std::string lines;
    std::string err;
  } cases[] = {
      {"four kinds", good + "Q X y\n" + "P\n" + "# fine\n" + "A NAME\n" + "P GOOD again\n",
       text + ":2: record type must be P or A\n" + text + ":3: missing name\n" + text +
           ":5: missing file name\n" + text + ":6: entry already given on line 1\n"},
      {"twenty", good + bad_lines(20), reports(2, 20)},
      {"twenty-one", good + bad_lines(21), reports(2, 20) + text + ": 1 more bad line not shown\n"},
      {"a thousand", bad_lines(1000), reports(1, 20) + text + ": 980 more bad lines not shown\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write_text(text, c.lines);
    ChildRun r = lconf({"build", text, file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(others(dir.path(), {"in.txt"}), std::vector<std::string>{});
  }
}

// The command line: help and version, refusals with their reasons, and
// failures in the library's words and the system's.
TEST(Lconf, CommandLine) {
  zeb::testing::ScratchDirectory dir;
  const std::string usage =
      "usage: lconf build TEXT FILE\n"
      "       lconf show FILE\n"
      "       lconf --help | --version\n";
  const std::string missing = dir.path() + "/missing.txt", text = dir.path() + "/in.txt";
  write_text(text, "not a configuration file");
  const std::string fifo = dir.path() + "/fifo";  // nothing ever writes it
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err "" with out "*": only the start of out is checked
  } cases[] = {
      {{"--version"}, 0, "lconf (zeb) " LCONF_VERSION "\n", ""},
      {{"-V"}, 0, "lconf (zeb) " LCONF_VERSION "\n", ""},
      {{"--help"}, 0, usage + "\nBuilds the configuration file", ""},
      {{"--help=yes"}, 2, "", "lconf: --help takes no value\n" + usage},
      {{"--frob=1"}, 2, "", "lconf: unknown option --frob\n" + usage},
      {{"-x"}, 2, "", "lconf: unknown option -x\n" + usage},
      {{"--help", "--version"}, 2, "", "lconf: --help and --version cannot go together\n" + usage},
      {{"--version", "show"}, 2, "", "lconf: unexpected argument \"show\"\n" + usage},
      {{}, 2, "", "lconf: no command given\n" + usage},
      {{"build", "x"}, 2, "", "lconf: build takes a TEXT and a FILE\n" + usage},
      {{"show"}, 2, "", "lconf: show takes one FILE\n" + usage},
      {{"frobnicate"}, 2, "", "lconf: unknown command \"frobnicate\"\n" + usage},
      {{"build", missing, dir.path() + "/conf"},
       1,
       "",
       "lconf: " + missing +
           ": No such file or directory; error 11 (file not in directory or record not in file)\n"},
      {{"build", dir.path(), dir.path() + "/conf"},
       1,
       "",
       "lconf: " + dir.path() +
           ": cannot read: Is a directory; error 2 (operation not allowed on this type file)\n"},
      {{"show", missing},
       1,
       "",
       "lconf: " + missing +
           ": No such file or directory; error 11 (file not in directory or record not in file)\n"},
      {{"show", text},
       1,
       "",
       "lconf: " + text +
           ": not a key-sequenced file; error 2 (operation not allowed on this type file)\n"},
      {{"show", fifo},
       1,
       "",
       "lconf: " + fifo +
           ": not a regular file; error 2 (operation not allowed on this type file)\n"},
      {{"build", text, dir.path() + "/none/conf"}, 1, "", ""},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    ChildRun r = lconf(c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.status == 0) {
      EXPECT_EQ(r.out.substr(0, c.out.size()), c.out);
      EXPECT_EQ(r.err, "");
    } else if (!c.err.empty()) {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, c.err);
    }
  }
  // A bad line of TEXT is told by its place.
  ChildRun bad = lconf({"build", text, dir.path() + "/conf"});
  EXPECT_EQ(bad.err, text + ":1: record type must be P or A\n");

  // The manual page carries the build's version and no unfilled field.
  const std::string page = file_text(LCONF_MAN_PAGE);
  EXPECT_NE(page.find("\"zeb " LCONF_VERSION "\""), std::string::npos);
  EXPECT_EQ(page.find('@'), std::string::npos);
}

}  // namespace
