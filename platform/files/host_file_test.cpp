// Host files replaced whole: a reader sees the old file or the new one, and
// a failure at any step leaves the old file and no temporary behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <cerrno>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "platform/files/host_file.h"
#include "platform/host/syscalls.h"
#include "platform/testing/testing.h"

namespace zeb::platform {
namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t entries(const std::string& dir) {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir)) ++n;
  return n;
}

TEST(ReplaceHostFile, WholeOrNotAtAll) {
  zeb::testing::ScratchDirectory dir;
  const std::string file = dir.path() + "/m.prom";
  ASSERT_TRUE(replace_host_file(file, "old\n").ok());
  // The mode is the one asked for, whatever the umask.
  const mode_t before = umask(077);
  ASSERT_TRUE(replace_host_file(file, "new\n").ok());
  umask(before);
  struct stat st;
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(contents(file), "new\n");

  // Each step that can fail, failed: the old file stays, nothing is left.
  struct Case {
    const char* step;
    int16_t error;
    void (*inject)();
  } cases[] = {
      {"write", 43,
       [] { syscalls().write = [](int, const void*, size_t) { return errno = ENOSPC, -1L; }; }},
      {"flush", 190, [] { syscalls().fsync = [](int) { return errno = EIO, -1; }; }},
      {"rename", 48,
       [] { syscalls().rename = [](const char*, const char*) { return errno = EACCES, -1; }; }},
      {"create", 45,
       [] { syscalls().open = [](const char*, int, unsigned) { return errno = EFBIG, -1; }; }},
  };
  for (const Case& k : cases) {
    SyscallOverride fault;
    k.inject();
    Status s = replace_host_file(file, "lost\n");
    EXPECT_EQ(s.code(), k.error) << k.step;
    EXPECT_EQ(s.what().rfind(k.step, 0), 0u) << s.what();
  }
  EXPECT_EQ(contents(file), "new\n");
  EXPECT_EQ(entries(dir.path()), 1u);
  // A directory for a name is refused before anything is made.
  EXPECT_EQ(replace_host_file(dir.path() + "/", "x").code(), 2);
}

// The probe ahead of a long run finds what would fail the replacement at its
// start, and leaves nothing behind either way.
TEST(ReplaceHostFile, ProbeFindsWhatWouldFailFirst) {
  zeb::testing::ScratchDirectory dir;
  struct Case {
    std::string path;
    int16_t error;  // 0: the file could be replaced
  } cases[] = {
      {dir.path() + "/m.prom", 0},
      {dir.path() + "/none/m.prom", 11},
      {dir.path(), 2},  // a directory
      {dir.path() + "/", 2},
      {"", 2},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(probe_host_file(k.path).code(), k.error) << k.path;
  }
  EXPECT_EQ(entries(dir.path()), 0u);
  SyscallOverride fault;
  syscalls().open = [](const char*, int, unsigned) { return errno = EROFS, -1; };
  Status s = probe_host_file(dir.path() + "/m.prom");
  EXPECT_EQ(s.code(), 101);
  EXPECT_EQ(s.what().rfind("create ", 0), 0u) << s.what();
}

// Makes the when-th call (1-based) of the entry that install replaces fail
// with e; other calls go on to the entry in place before.
template <typename Entry>
void fail_call(Entry& entry, int when, int e) {
  auto count = std::make_shared<int>(0);
  entry = [real = entry, count, when, e](auto... args) {
    if (++*count == when) {
      errno = e;
      return decltype(real(args...))(-1);
    }
    return real(args...);
  };
}

// The unnamed way, as key-sequenced files are written: each step failed in
// turn is reported with its own words, nothing is left behind, and path
// keeps the old text unless the rename was made; only the flush of the
// directory comes after it. A file system without unnamed files, or one
// that cannot flush a directory, is no failure.
TEST(ReplaceHostFile, EveryStepOfTheUnnamedWayIsReported) {
  zeb::testing::ScratchDirectory dir;
  const std::string file = dir.path() + "/conf";
  Replacement how;
  how.temp_name = [&](int attempt) { return file + ".new-" + std::to_string(attempt); };
  how.unnamed = true;
  struct Case {
    const char* step;  // what the status begins with; "" for success
    int16_t error;
    bool replaced;
    std::function<void()> inject;
  } cases[] = {
      {"create", 48, false,
       [] { syscalls().open = [](const char*, int, unsigned) { return errno = EACCES, -1; }; }},
      {"write", 43, false, [] { fail_call(syscalls().write, 1, ENOSPC); }},
      {"flush the new file", 190, false, [] { fail_call(syscalls().fsync, 1, EIO); }},
      {"name the new file", 190, false, [] { fail_call(syscalls().link_open_file, 1, EIO); }},
      {"close", 190, false, [] { fail_call(syscalls().close, 1, EIO); }},
      {"open the directory", 34, false, [] { fail_call(syscalls().open, 2, EMFILE); }},
      {"rename", 48, false, [] { fail_call(syscalls().rename, 1, EACCES); }},
      {"flush the directory", 190, true, [] { fail_call(syscalls().fsync, 2, EIO); }},
      {"", 0, true, [] { fail_call(syscalls().fsync, 2, EINVAL); }},
      {"", 0, true, [] { fail_call(syscalls().open, 1, EOPNOTSUPP); }},
      {"", 0, true, [] {}},
  };
  int version = 0;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.step);
    ASSERT_TRUE(replace_host_file(file, "old\n", how).ok());
    const std::string text = "new " + std::to_string(++version) + "\n";
    Status s;
    {
      SyscallOverride fault;
      k.inject();
      s = replace_host_file(file, text, how);
    }
    EXPECT_EQ(s.code(), k.error);
    EXPECT_EQ(s.what().rfind(k.step, 0), 0u) << s.what();
    EXPECT_EQ(contents(file), k.replaced ? text : "old\n");
    EXPECT_EQ(entries(dir.path()), 1u);
  }
}

}  // namespace
}  // namespace zeb::platform
