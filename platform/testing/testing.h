// Test support: scratch volumes that clean up after themselves, child
// processes and small helpers shared by the tests. Linked into
// the test binaries only, never into the library.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/host.h"

namespace zeb::testing {

// True in a build with AddressSanitizer or UndefinedBehaviorSanitizer, whose
// run-time checks need descriptors and address space of their own: cases
// under a very tight ulimit cannot run there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(undefined_behavior_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// A private directory (mode 0700) made under $TMPDIR, or /tmp, and installed
// as the volume `name` of the device table, followed by the entries of
// `more` (ZEB_VOLUMES syntax, for example "$SIM=sim:rpm=6000"). When the
// object goes, the table of the process's environment comes back and the
// directory is removed with everything in it.
class ScratchVolume {
 public:
  explicit ScratchVolume(std::string name = "$SCRATCH", const std::string& more = "");
  ~ScratchVolume();
  ScratchVolume(const ScratchVolume&) = delete;
  ScratchVolume& operator=(const ScratchVolume&) = delete;

  const std::string& name() const { return name_; }
  const std::string& root() const { return root_; }
  // The volume's entry in ZEB_VOLUMES syntax ("$NAME=/tmp/zeb-test-..."),
  // for a child process.
  std::string entry() const { return name_ + "=" + root_; }
  // The host path of a file or directory below the root.
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  // The number of entries directly below the root.
  int entries() const;

 private:
  std::string name_;
  std::string root_;
};

// A private directory under $TMPDIR (or /tmp), removed with its contents when
// the object goes; for tests that need a directory but no volume.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Removes a file, or a directory with everything below it (without
// following symbolic links).
void remove_tree(const std::string& path);

// Waits (up to five seconds) until the process pid no longer exists, reaped.
bool process_gone(long pid);

// The host pid that an unnamed process identifier (4 words) carries in its
// bytes 2 to 5.
long host_pid(const int16_t* id);

// The n bytes at data as upper-case hexadecimal, two digits a byte.
std::string hex(const void* data, size_t n);

// What a child process left: its exit status (-1 when it did not exit), the
// signal that ended it (0 when none), and what it wrote to standard output
// and, where that was captured, to standard error.
struct ChildRun {
  int status = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs body in a forked child whose standard output is captured and, when
// input is not null, whose standard input reads input; the child exits with
// what body returns. Standard error stays the test's, so that what a failed
// check says reaches the test's log.
ChildRun run_in_child(const std::function<int()>& body, const char* input = nullptr);

// What a child's standard descriptor is given: captured (standard input:
// /dev/null), closed, or a descriptor of the test's (any value >= 0).
constexpr int kCapture = -1;
constexpr int kClosed = -2;

// A program run by a test: its path, its arguments (no shell), variables
// (NAME=VALUE) set on top of the test's own environment, what its standard
// descriptors are, and a step run in the child just before exec. The child
// starts with the standard three descriptors only, as from a shell.
struct Program {
  std::string path;
  std::vector<std::string> args;
  std::vector<std::string> env;
  int in = kCapture, out = kCapture, err = kCapture;
  std::function<void()> setup;
};

// Runs the program to its end and gives what it left; standard output and
// error as captured (empty where they were closed or given).
ChildRun run_program(const Program& program);

// The lines of text, without their line ends; a last line without one
// counts, an empty text has none.
std::vector<std::string> lines_of(const std::string& text);

// The whole contents of a host file ("" when it cannot be read).
std::string file_text(const std::string& path);

// Makes (or replaces) a host file that holds text.
void write_text(const std::string& path, const std::string& text);

// Gives a variable of the configuration of the host in force a value (or,
// with none, removes it) for one scope, and puts back what it was. What the
// library reads from the configuration after this sees it; states already
// made from the configuration do not.
class ScopedVariable {
 public:
  ScopedVariable(std::string name, std::optional<std::string> value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The same for the rest of the process (a test's child).
void set_variable(const std::string& name, std::optional<std::string> value);

// A gtest environment for a whole test program: the volume $ZSWAP on a
// scratch directory of its own, which is also the swap volume, in a host of
// its own. Register it with ::testing::AddGlobalTestEnvironment.
class SwapVolumeHost : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;
  // The volume's directory while the environment is up.
  static const std::string& root();

 private:
  std::unique_ptr<ScratchDirectory> directory_;
  std::unique_ptr<platform::ScopedHost> host_;
};

// A test on SwapVolumeHost's volume that may allocate the segments `ids`:
// it stops at once when the volume is not up, and deallocates them at its
// end, whatever the test left.
class SwapSegmentTest : public ::testing::Test {
 protected:
  explicit SwapSegmentTest(std::initializer_list<int16_t> ids) : ids_(ids) {}
  void SetUp() override;
  void TearDown() override;

 private:
  std::vector<int16_t> ids_;
};

// Says on standard error that the check `what` at file:line did not hold;
// the half of ZEB_FAIL_IF that is not a return.
void report_failed_check(const char* what, const char* file, int line);

// Asks done up to `tries` times, pausing `pause_us` microseconds after each
// no, and says whether it ever answered yes. For a peer this process cannot
// be told about (a named process coming up or going, a log another process
// writes); the caller checks the outcome itself.
bool wait_until(const std::function<bool()>& done, int tries = 500, int pause_us = 10000);

}  // namespace zeb::testing

// In a body that reports by what it returns (0: all held), as the bodies of
// run_in_child and of tests that run in a host of their own do: when cond
// holds, says so with its line on standard error and returns the line, so
// the test's EXPECT_EQ(..., 0) names the check that failed.
#define ZEB_FAIL_IF(cond)                                             \
  do {                                                                \
    if (cond) {                                                       \
      ::zeb::testing::report_failed_check(#cond, __FILE__, __LINE__); \
      return __LINE__;                                                \
    }                                                                 \
  } while (0)
