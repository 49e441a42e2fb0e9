// Host files replaced whole: a reader sees the old file or the new one, and
// a failure at any step leaves the old file and no temporary behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
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

}  // namespace
}  // namespace zeb::platform
