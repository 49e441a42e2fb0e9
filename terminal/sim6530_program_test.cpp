// The sim6530 program as its users run it: its command line, what it shows
// of plain output, its screen file, its exit status and its messages.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/testing/testing.h"

namespace {

using zeb::testing::ChildRun;
using zeb::testing::file_text;

// Runs sim6530 with args, its output and error captured, with a stack
// limit of stack_kb when it is not 0. A sim6530 that never ends is ended by
// SIGALRM after a minute, which the case then sees.
ChildRun run(const std::vector<std::string>& args, rlim_t stack_kb = 0) {
  zeb::testing::Program program;
  program.path = SIM6530_PATH;
  program.args = args;
  program.setup = [stack_kb] {
    alarm(60);
    if (stack_kb != 0) {
      struct rlimit limit {
        stack_kb * 1024, stack_kb * 1024
      };
      setrlimit(RLIMIT_STACK, &limit);
    }
  };
  return zeb::testing::run_program(program);
}

class Sim6530Program : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/sim6530-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    unlink(screen().c_str());
    rmdir(dir_.c_str());
  }
  std::string screen() const { return dir_ + "/screen.txt"; }
  std::string dir_;
};

TEST_F(Sim6530Program, CommandLineRefusesWithAReason) {
  const struct {
    std::vector<std::string> args;
    std::string reason;  // the first line on standard error
  } cases[] = {
      {{"--key", "300", "true"}, "sim6530: --key 300: a key is a byte value from 0 to 255\n"},
      {{"--key=x", "true"}, "sim6530: --key x: a key is a byte value from 0 to 255\n"},
      {{"--rows=0", "true"}, "sim6530: --rows 0: the rows are a number from 1 to 224\n"},
      {{"--columns", "225", "true"},
       "sim6530: --columns 225: the columns are a number from 1 to 224\n"},
      {{"--pages=9", "true"}, "sim6530: --pages 9: the pages are a number from 1 to 8\n"},
      {{"--bogus", "true"}, "sim6530: unknown option --bogus\n"},
      {{"-x", "true"}, "sim6530: unknown option -x\n"},
      {{"--help=yes"}, "sim6530: --help=yes: the option takes no value\n"},
      {{"--key"}, "sim6530: --key: the option needs a value\n"},
      {{"--screen=", "true"}, "sim6530: --screen: the file name is empty\n"},
      {{"--rows=6"}, "sim6530: no program to run\n"},
      {{}, "sim6530: no program to run\n"},
  };
  for (const auto& c : cases) {
    ChildRun r = run(c.args);
    std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.status, 2) << what;
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(r.err, c.reason + "Try 'sim6530 --help' for more information.\n") << what;
  }
}

TEST_F(Sim6530Program, HelpVersionAndManualPageAgree) {
  ChildRun help = run({"--help", "--bogus"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: sim6530 [OPTION]... PROGRAM [ARG]...\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  ChildRun version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "sim6530 (zeb) " ZEB_VERSION_TEXT "\n");
  // Every option of the help text has its entry in the manual page, which
  // carries the build's version and no unfilled placeholder.
  std::string page = file_text(SIM6530_MAN_PAGE);
  EXPECT_NE(page.find("\"zeb " ZEB_VERSION_TEXT "\""), std::string::npos);
  EXPECT_EQ(page.find('@'), std::string::npos);
  for (const char* option : {"pages", "rows", "columns", "key", "screen", "help", "version"}) {
    EXPECT_NE(help.out.find(std::string("--") + option), std::string::npos) << option;
    EXPECT_NE(page.find(std::string("\\-\\-") + option), std::string::npos) << option;
  }
}

TEST_F(Sim6530Program, PlainOutputReadsAsOnATerminalAndTheScreenFileHoldsIt) {
  const struct {
    const char* what;
    std::string script;
    std::string screen;  // the screen file: 6 rows
    std::string cursor;
  } cases[] = {
      {"two lines, each at column 1", "echo hello; echo world", "hello\nworld\n\n\n\n\n",
       "page 0, cursor at row 3, column 1\n"},
      {"eight lines roll the page up", "for i in 1 2 3 4 5 6 7 8; do echo line$i; done",
       "line4\nline5\nline6\nline7\nline8\n\n", "page 0, cursor at row 6, column 1\n"},
      {"a long line wraps", "printf '%s' 123456789012345678901234",
       "12345678901234567890\n1234\n\n\n\n\n", "page 0, cursor at row 2, column 5\n"},
  };
  for (const auto& c : cases) {
    ChildRun r = run({"--rows=6", "--columns", "20", "--screen=" + screen(), "sh", "-c", c.script});
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_EQ(file_text(screen()), c.screen) << c.what;
    // The framed page on standard output shows the same rows.
    std::string framed = "+--------------------+\n";
    std::istringstream rows(c.screen);
    for (std::string row; std::getline(rows, row);) {
      row.resize(20, ' ');
      framed += "|" + row + "|\n";
    }
    framed += "+--------------------+\n" + c.cursor;
    EXPECT_EQ(r.out, framed) << c.what;
  }
}

// 200 requests for a screen of 10,000 characters, 2 MB of answers in all,
// sent before the program reads any: it ends with 0 when every answer came,
// in order, ended by the revision level it asked for last.
constexpr const char* kManyAnswers =
    "system('stty raw -echo'); $| = 1; print \"\\021\\203\\203\", \"\\033<\" x 200, "
    "\"\\033_\"; my ($got, $buf) = ('', ''); while ($got !~ /SIM6530 C00\\r\\z/) "
    "{ sysread(STDIN, $buf, 65536) > 0 or exit 2; $got .= $buf } "
    "my $row = ' ' x 10000 . \"\\r\"; exit($got eq $row x 200 . \"SIM6530 C00\\r\" ? 0 : 1)";

TEST_F(Sim6530Program, EndsWithTheProgramsStatus) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;  // what standard error begins with
    rlim_t stack_kb = 0;
  } cases[] = {
      {"an exit status", {"sh", "-c", "exit 7"}, 7, ""},
      {"a signal", {"sh", "-c", "kill -TERM $$"}, 128 + SIGTERM, ""},
      // 20,000 requests the program never reads the answers of: the
      // terminal holds what the line does not take and ends with the
      // program instead of waiting for room that never comes.
      {"answers never read",
       {"sh", "-c", "i=0; while [ $i -lt 20000 ]; do printf '\\033a'; i=$((i+1)); done"},
       0,
       ""},
      // Past a MiB of answers the terminal takes no more requests until the
      // program reads: none is dropped.
      {"answers past the bound all arrive",
       {"--rows=100", "--columns=100", "perl", "-e", kManyAnswers},
       0,
       ""},
      // A stack limit of 2 TB leaves no room for the terminal's thread.
      {"no thread for the terminal",
       {"true"},
       125,
       "sim6530: the simulated terminal failed: Resource temporarily unavailable\n",
       rlim_t{2} << 30},
      {"no such program",
       {"/nonexistent/program"},
       127,
       "sim6530: cannot run /nonexistent/program: error 11 (file not in directory or record not "
       "in file); Linux: No such file or directory\n"},
      {"a screen file that cannot be written",
       {"--screen=/nonexistent/dir/screen.txt", "true"},
       125,
       "sim6530: cannot write the screen to /nonexistent/dir/screen.txt: error 11 (file not in "
       "directory or record not in file); Linux: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    ChildRun r = run(c.args, c.stack_kb);
    EXPECT_EQ(r.signal, 0) << c.what;
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
  }
}

// A program that starts slowly and answers each key slowly, as any program
// may on a busy machine: it sleeps before it enters raw mode and after each
// read, then shows each read's length and first byte. Each key must come
// alone, in the read that waits for it, in raw mode.
constexpr const char* kSlowProgram =
    "select(undef, undef, undef, 0.3); system('stty raw -echo'); $| = 1; print 'ready'; "
    "my $log = ''; for (1 .. 3) { sysread(STDIN, my $key, 64); select(undef, undef, undef, "
    "0.2); $log .= length($key) . substr($key, 0, 1); print '.' } print \"\\r\\n$log\"";

TEST_F(Sim6530Program, KeysArePressedWhenTheProgramWaitsForThem) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::string screen;  // the screen file: 4 rows
    std::string err;
  } cases[] = {
      {"slow to start and to answer",
       {"--key=64", "--key=64", "--key=79", "perl", "-e", kSlowProgram},
       "ready...\n4@4@4O\n\n\n",
       ""},
      // The line is canonical: the key ends with CR, which ends the line.
      {"a conversational read",
       {"--key=64", "sh", "-c", "echo go; read a; echo \"got $a\""},
       "go\ngot @ !\n\n\n",
       ""},
      {"a program that ends first",
       {"--key=64", "--key=65", "true"},
       "\n\n\n\n",
       "sim6530: 2 of the 2 keys not pressed: the program ended without waiting for them\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"--rows=4", "--columns=20", "--screen=" + screen()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildRun r = run(args);
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(file_text(screen()), c.screen) << c.what;
  }
}

}  // namespace
