// Test support (see testing.h). Uses the host's own calls, whatever a test
// has put in the seam's table meanwhile.
#include "platform/testing/testing.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <zeb/platform/segment.h>
#include <zeb/platform/types.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/volumes/volumes.h"

namespace zeb::testing {
namespace {

std::string make_private_directory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zeb-test-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a scratch directory from " << templ;
    return {};
  }
  return templ;
}

}  // namespace

void remove_tree(const std::string& path) {
  const platform::Syscalls& sys = platform::real_syscalls();
  platform::FileStatus status;
  if (sys.lstat(path.c_str(), &status) != 0) return;
  if (status.is_directory()) {
    std::vector<std::string> names;
    if (sys.list_directory(path.c_str(), &names) == 0) {
      for (const std::string& name : names) remove_tree(path + "/" + name);
    }
    // Clean-up after a test: what cannot be removed is left behind in
    // the temporary directory, and no test depends on its going.
    sys.rmdir(path.c_str());
  } else {
    sys.unlink(path.c_str());
  }
}

ScratchVolume::ScratchVolume(std::string name, const std::string& more)
    : name_(std::move(name)), root_(make_private_directory()) {
  platform::install_volume_table(entry() + (more.empty() ? "" : ";" + more));
}

ScratchVolume::~ScratchVolume() {
  platform::restore_volume_table();
  if (!root_.empty()) remove_tree(root_);
}

int ScratchVolume::entries() const {
  std::vector<std::string> names;
  if (platform::real_syscalls().list_directory(root_.c_str(), &names) != 0) return -1;
  return static_cast<int>(names.size());
}

ScratchDirectory::ScratchDirectory() : path_(make_private_directory()) {}

ScratchDirectory::~ScratchDirectory() {
  if (!path_.empty()) remove_tree(path_);
}

bool process_gone(long pid) {
  for (int i = 0; i < 500; ++i) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    ::usleep(10000);
  }
  return false;
}

long host_pid(const int16_t* id) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(id);
  return (long{b[2]} << 24) | (long{b[3]} << 16) | (long{b[4]} << 8) | b[5];
}

std::string hex(const void* data, size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<const unsigned char*>(data)[i];
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

ChildRun run_in_child(const std::function<int()>& body, const char* input) {
  ChildRun run;  // status -1 unless a child ran and exited
  FILE* in = input != nullptr ? tmpfile() : nullptr;
  FILE* out = tmpfile();
  if (out == nullptr || (input != nullptr && (in == nullptr || fputs(input, in) == EOF))) {
    if (in != nullptr) fclose(in);
    if (out != nullptr) fclose(out);
    return run;
  }
  if (in != nullptr) rewind(in);
  // Output still buffered would be written twice, by the child as well.
  fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    // A child whose streams cannot be set reports it instead of running.
    if ((in != nullptr && dup2(fileno(in), 0) < 0) || dup2(fileno(out), 1) < 0) _exit(126);
    // A line number of a failed check may be any size: an exit status
    // keeps eight bits, so any failure leaves at least 1.
    int result = body();
    _exit(result == 0 ? 0 : (result & 0xff) != 0 ? (result & 0xff) : 1);
  }
  int status = 0;
  pid_t waited = -1;
  while (pid > 0 && (waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (pid > 0 && waited == pid && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  rewind(out);
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, out)) > 0) run.out.append(buffer, n);
  // Both were only read from here on: their closes have nothing to lose.
  if (in != nullptr) fclose(in);
  fclose(out);
  return run;
}

ScopedVariable::ScopedVariable(std::string name, std::optional<std::string> value)
    : name_(std::move(name)), old_(platform::host().config().find(name_)) {
  set_variable(name_, std::move(value));
}

ScopedVariable::~ScopedVariable() { set_variable(name_, old_); }

void set_variable(const std::string& name, std::optional<std::string> value) {
  platform::host().mutable_config().set(name, std::move(value));
}

namespace {
std::string g_swap_root;
}  // namespace

void SwapVolumeHost::SetUp() {
  directory_ = std::make_unique<ScratchDirectory>();
  g_swap_root = directory_->path();
  platform::Configuration config = platform::host().config();
  config.set("ZEB_VOLUMES", "$ZSWAP=" + g_swap_root);
  config.set("ZEB_SWAPVOL", "$ZSWAP");
  host_ = std::make_unique<platform::ScopedHost>(std::move(config));
}

void SwapVolumeHost::TearDown() {
  host_.reset();
  directory_.reset();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string& SwapVolumeHost::root() { return g_swap_root; }

void SwapSegmentTest::SetUp() { ASSERT_FALSE(SwapVolumeHost::root().empty()); }

void SwapSegmentTest::TearDown() {
  for (int16_t id : ids_) DEALLOCATESEGMENT(mask({1}), id);
}

namespace {

// A descriptor of an unnamed temporary file, for what a child writes.
int capture_file() {
  FILE* f = tmpfile();
  if (f == nullptr) return -1;
  int fd = dup(fileno(f));
  fclose(f);
  return fd;
}

// Everything written to a capture file, which is then closed.
std::string captured(int fd) {
  std::string text;
  if (fd < 0) return text;
  lseek(fd, 0, SEEK_SET);
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

}  // namespace

ChildRun run_program(const Program& p) {
  ChildRun run;
  const int out_file = p.out == kCapture ? capture_file() : -1;
  const int err_file = p.err == kCapture ? capture_file() : -1;
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : p.env) putenv(const_cast<char*>(e.c_str()));
    const int null = open("/dev/null", O_RDONLY);
    const int wanted[3] = {p.in == kCapture ? null : p.in, p.out == kCapture ? out_file : p.out,
                           p.err == kCapture ? err_file : p.err};
    for (int fd = 0; fd < 3; ++fd) {
      if (wanted[fd] >= 0 && dup2(wanted[fd], fd) < 0) _exit(126);
    }
    for (int fd = 0; fd < 3; ++fd) {
      if (wanted[fd] == kClosed) close(fd);
    }
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    if (p.setup) p.setup();
    std::vector<char*> argv{const_cast<char*>(p.path.c_str())};
    for (const std::string& a : p.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(p.path.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  pid_t waited = -1;
  while (pid > 0 && (waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (pid > 0 && waited == pid) {
    if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  }
  run.out = captured(out_file);
  run.err = captured(err_file);
  return run;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void report_failed_check(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
}

bool wait_until(const std::function<bool()>& done, int tries, int pause_us) {
  for (int i = 0; i < tries; ++i) {
    if (done()) return true;
    ::usleep(static_cast<useconds_t>(pause_us));
  }
  return false;
}

}  // namespace zeb::testing
