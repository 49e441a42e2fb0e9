// The log path as programs meet it: what each start-up flag makes reach
// standard output (the home terminal and, for a program started from a
// shell, the OUT file) and the exit status, in whole child processes; and
// where ENV_LOG sends one line for each combination of destinations.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>

#include <zeb/env/context.h>
#include <zeb/platform/keyfile.h>
#include <zeb/zeb.h>
#include "env/startup.h"
#include "format/format_core.h"
#include "platform/host/diagnostics.h"
#include "platform/testing/testing.h"

namespace {

using Outcome = zeb::testing::ChildRun;

std::string slurp(FILE* f) {
  std::string text;
  rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

// Runs body in a child with standard output and error captured, or with
// standard output on a pipe whose reader has gone (closed_pipe), under the
// default SIGPIPE disposition.
Outcome run(const std::function<void()>& body, bool closed_pipe = false) {
  FILE* out = tmpfile();
  FILE* err = tmpfile();
  int pipe_fds[2] = {-1, -1};
  if (closed_pipe) {
    if (pipe(pipe_fds) != 0) return {};
    // The reader goes before the child exists, so that no write of the
    // child can find it still there.
    close(pipe_fds[0]);
  }
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(closed_pipe ? pipe_fds[1] : fileno(out), 1);
    dup2(fileno(err), 2);
    body();
    _exit(99);  // the body ends the process through ZEB_SHUTDOWN
  }
  if (closed_pipe) close(pipe_fds[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = slurp(out);
  outcome.err = slurp(err);
  return outcome;
}

constexpr const char* kDrive = "Drive: \\a8.%\\ Effective RPM: \\d\\";

// Start-up with flags, two lines (the survey's drive line and a line of a
// directive whose argument the caller did not pass), shut-down with code.
void program(uint16_t flags, int16_t code) {
  if (ZEB_STARTUP(zeb::mask({1, 2}), 100, flags) != 0) _exit(98);
  int32_t rpm = 7200;
  int16_t length = 4;
  ZEB_LOG(zeb::mask({1, 2, 3, 4}), kDrive, "$S72", &length, &rpm);
  ZEB_LOG(zeb::mask({1}), "n=\\d\\ s=\\s\\.");
  ZEB_SHUTDOWN(zeb::mask({1}), code);
}

TEST(LogPath, FlagsDecideWhatReachesStandardOutput) {
  const std::string drive = "Drive: \\$S72     Effective RPM: 7200\\n";
  const std::string unfilled = "n=0 s=\\.\\n";
  const std::string started = "\\S+ started\\.\\n";
  const std::string closing =
      "Total CPU time: [ 0-9:.]{11,}\\nElapsed time:   [ 0-9:.]{11,}\\n\\S+ Stopped\\.\\n";
  const std::string pool =
      "Pool Alloc: +\\d+  Free: +\\d+  Used: +\\d+  Maxused: *\\d+\\n"
      "     Allocs: *\\d+  Splits: +\\d+  Extends: +\\d+\\n"
      "     Joins: +\\d+  Release: *\\d+  FailSize: +\\d+\\n";
  struct Case {
    uint16_t flags;
    int16_t code;
    std::string out;  // a regular expression for the whole of standard output
    int status;
  } cases[] = {
      // The survey's own flags: the home terminal only, no opening or closing.
      {0x0029, 0, drive + unfilled, 0},
      {0x0029, 1, drive + unfilled, zeb::kAbendStatus},
      {0x00E9, 0, started + drive + unfilled + closing, 0},
      // A non-zero code ends abnormally before any closing line.
      {0x00E9, 1, started + drive + unfilled, zeb::kAbendStatus},
      // Formatted but going nowhere without 0x0010 or 0x0020.
      {0x00C8, 0, "", 0},
      // Pool statistics come before the closing lines.
      {0x20E9, 0, started + drive + unfilled + pool + closing, 0},
      // OUT (standard output) and the home terminal are the same file: once.
      {0x003D, 0, drive + unfilled, 0},
      {0x00FD, 0, started + drive + unfilled + closing, 0},
      // OUT alone.
      {0x0015, 0, drive + unfilled, 0},
      // Asking for OUT lines without opening OUT: the lines are lost, and
      // the run says so on standard error and does not end as a success.
      {0x0011, 0, "", zeb::kAbendStatus},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags << " code " << c.code);
    Outcome o = run([&] { program(c.flags, c.code); });
    EXPECT_EQ(o.status, c.status);
    EXPECT_TRUE(std::regex_match(o.out, std::regex(c.out))) << o.out;
    if (c.status == 0) {
      EXPECT_EQ(o.err, "");
    }
  }
}

// A write to a pipe whose reader has gone: never a death by SIGPIPE. Under
// 0x0200 the first lost line ends the process abnormally at once; without
// it ZEB_LOG returns the error, the program goes on and shut-down reports
// the lost line and ends abnormally.
TEST(LogPath, ClosedPipe) {
  struct Case {
    uint16_t flags;
    int status;
    std::string marker;  // what the program wrote to standard error after logging
  } cases[] = {
      {0x0229, zeb::kAbendStatus, ""},
      {0x0029, zeb::kAbendStatus, "went on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    Outcome o = run(
        [&] {
          ZEB_STARTUP(zeb::mask({1, 2}), 100, c.flags);
          int16_t error = ZEB_LOG(zeb::mask({1}), "line");
          if (error != 0) fputs("went on\n", stderr);
          ZEB_SHUTDOWN(0);
        },
        true);
    EXPECT_EQ(o.status, c.status);
    EXPECT_NE(o.err.find("write error on"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("went on") != std::string::npos, !c.marker.empty()) << o.err;
  }
}

// ENV_LOG by itself, on a record whose OUT and home terminal are disk files
// of a scratch volume: OUT first; once when both are the same file; a failed
// OUT write is returned at once and the terminal is not tried.
TEST(LogPath, Destinations) {
  // A host of its own: the lost write its failing cases keep goes with it,
  // and no later case of this process inherits it.
  zeb::platform::ScopedHost own(zeb::platform::Configuration::from_entries({}));
  zeb::testing::ScratchVolume volume("$LOG");
  std::filesystem::create_directory(volume.path("sub"));
  struct Case {
    const char* name;
    uint16_t flags;
    char out_file;   // 'a', 'b', or 0: not open
    char term_file;  // the same
    int16_t error;
    std::string a, b;  // what files a and b hold afterwards
  } cases[] = {
      {"terminal only", 0x0020, 'a', 'b', 0, "", "x"},
      {"OUT only", 0x0010, 'a', 'b', 0, "x", ""},
      {"both, OUT first", 0x0030, 'a', 'b', 0, "x", "x"},
      {"the same file once", 0x0030, 'a', 'a', 0, "x", ""},
      {"OUT not open", 0x0030, 0, 'b', 16, "", ""},
      {"terminal not open", 0x0030, 'a', 0, 16, "x", ""},
      {"neither asked", 0x0000, 'a', 'b', 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* f : {"sub/a", "sub/b"}) fclose(fopen(volume.path(f).c_str(), "w"));
    // The home terminal's file is written through its own open at byte 0,
    // so a second write of the same file would show as "xx".
    auto open = [](char file) {
      if (file == 0) return zeb::kNotOpen;
      std::string name = std::string("$LOG.SUB.") + file;
      int16_t fnum = zeb::kNotOpen;
      EXPECT_EQ(
          FILE_OPEN_(zeb::mask({1, 2, 3}), name.c_str(), static_cast<int16_t>(name.size()), &fnum),
          0);
      return fnum;
    };
    EnvRecord env;
    std::memset(&env, ' ', sizeof env);
    env.flags = c.flags;
    env.out_fnum = open(c.out_file);
    env.term_fnum = open(c.term_file);
    EXPECT_EQ(ENV_LOG(zeb::mask({1, 2}), &env, "x"), c.error);
    for (int16_t f : {env.out_fnum, env.term_fnum}) {
      if (f >= 0) FILE_CLOSE_(zeb::mask({1}), f);
    }
    EXPECT_EQ(slurp(fopen(volume.path("sub/a").c_str(), "r")), c.a);
    EXPECT_EQ(slurp(fopen(volume.path("sub/b").c_str(), "r")), c.b);
  }
}

// The configuration file at start-up: its name, from the DEFINE =LCONF, from
// a name the caller gives ZEB_STARTUP (its parameter 3) as a file name or a
// logical name, or blank when nothing resolves it; and one line on standard
// error, with the file's name and the error its first look-up would meet,
// when the file is there but cannot serve. Nothing waits on a FIFO.
TEST(LogPath, ConfigurationFileAtStartUp) {
  zeb::testing::ScratchVolume volume("$CF");
  std::filesystem::create_directory(volume.path("sub"));
  const std::string good = volume.path("sub/good");
  std::string problem;
  ASSERT_EQ(zeb::platform::keyfile_write(good, zeb::kLconfKeySize, {"P record"}, &problem), 0)
      << problem;
  std::string whole;
  {
    std::ifstream in(good, std::ios::binary);
    whole.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto write = [&](const char* file, const std::string& bytes) {
    std::ofstream(volume.path(file), std::ios::binary) << bytes;
  };
  std::string corrupt = whole;
  std::fill(corrupt.begin() + 100, corrupt.begin() + 4096, '\x55');  // the schema page
  write("sub/corrupt", corrupt);
  write("sub/short", whole.substr(0, 50));
  write("sub/foreign", "P THROTTLE 25\n");
  std::filesystem::create_directory(volume.path("sub/dir"));
  ASSERT_EQ(::mkfifo(volume.path("sub/fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(good, volume.path("sub/link"));

  auto told = [](const char* name, int16_t error) {
    char text[160];
    const size_t n = zeb::format::format_into(text, "error \\e\\", {&error});
    return zeb::platform::program_name() + ": configuration file " + name +
           " cannot be read: " + std::string(text, n) + "\n";
  };
  struct Case {
    const char* define;  // ZEB_DEFINE_LCONF, or none
    const char* given;   // ZEB_STARTUP's parameter 3, or none
    std::string name;    // the resolved name
    std::string err;     // standard error
  } cases[] = {
      {"$CF.SUB.GOOD", nullptr, "$CF.SUB.GOOD", ""},
      {nullptr, "$CF.SUB.GOOD", "$CF.SUB.GOOD", ""},
      {"$CF.SUB.FOREIGN", "=mine", "$CF.SUB.GOOD", ""},  // ZEB_DEFINE_MINE
      {"$CF.SUB.GOOD", "$CF.SUB.MISSING", "$CF.SUB.MISSING", ""},
      {nullptr, "=nowhere", "", ""},
      {"$NOVOL.SUB.CONF", nullptr, "$NOVOL.SUB.CONF", ""},
      {"$CF.SUB.CORRUPT", nullptr, "$CF.SUB.CORRUPT", told("$CF.SUB.CORRUPT", 2)},
      {"$CF.SUB.SHORT", nullptr, "$CF.SUB.SHORT", told("$CF.SUB.SHORT", 2)},
      {"$CF.SUB.FOREIGN", nullptr, "$CF.SUB.FOREIGN", told("$CF.SUB.FOREIGN", 2)},
      {"$CF.SUB.DIR", nullptr, "$CF.SUB.DIR", told("$CF.SUB.DIR", 2)},
      {"$CF.SUB.FIFO", nullptr, "$CF.SUB.FIFO", told("$CF.SUB.FIFO", 2)},
      {"$CF.SUB.LINK", nullptr, "$CF.SUB.LINK", told("$CF.SUB.LINK", 13)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.define ? c.define : "-") + " " + (c.given ? c.given : "-"));
    Outcome o = run([&] {
      zeb::testing::set_variable("ZEB_DEFINE_LCONF",
                                 c.define ? std::optional<std::string>(c.define) : std::nullopt);
      zeb::testing::set_variable("ZEB_DEFINE_MINE", "$CF.SUB.GOOD");
      int16_t error = c.given ? ZEB_STARTUP(zeb::mask({1, 2, 3}), 100, 0, c.given)
                              : ZEB_STARTUP(zeb::mask({1, 2}), 100, 0);
      if (error != 0) _exit(97);
      const auto* env = static_cast<const EnvRecord*>(zeb::library_env());
      fwrite(env->lconf_name, 1, sizeof env->lconf_name, stdout);
      fflush(stdout);
      // Ends here: what shut-down writes is the other cases' business.
      _exit(0);
    });
    EXPECT_EQ(o.status, 0);
    std::string name = c.name;
    name.resize(48, ' ');
    EXPECT_EQ(o.out, name);
    EXPECT_EQ(o.err, c.err);
  }
}

}  // namespace
