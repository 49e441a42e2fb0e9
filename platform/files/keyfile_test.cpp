// Key-sequenced files: whole-file writes, recognition by FILE_OPEN_, the
// three positioning modes, and DEFINEs from the environment.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <zeb/platform/define.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include <zeb/platform/types.h>
#include "platform/host/syscalls.h"
#include "platform/testing/testing.h"

namespace {

// Records of 8 bytes keyed by their first 3.
const std::vector<std::string> kRecords = {"AAA-one.", "AAB-two.", "ABA-thr.", "BBB-fou."};

class KeyFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(volume_.path("sub").c_str(), 0700), 0);
    std::string problem;
    ASSERT_EQ(zeb::platform::keyfile_write(volume_.path("sub/keyed"), 3, kRecords, &problem), 0)
        << problem;
    std::ofstream(volume_.path("sub/plain")) << "not keyed";
    ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3, 4}), "$KS.SUB.KEYED", 13, &fnum_, zeb::kAccessRead),
              0);
  }
  void TearDown() override { FILE_CLOSE_(zeb::mask({1}), fnum_); }

  // Reads until an error; "records...|error".
  std::string read_all() {
    std::string out;
    for (;;) {
      char buffer[16] = {};
      int16_t count = 0;
      int16_t error = READX(zeb::mask({1, 2, 3, 4}), fnum_, buffer, sizeof buffer, &count);
      if (error != 0) return out + "|" + std::to_string(error);
      out += std::string(buffer, static_cast<size_t>(count)) + " ";
    }
  }

  zeb::testing::ScratchVolume volume_{"$KS"};
  int16_t fnum_ = -2;
};

TEST_F(KeyFileTest, PositioningModes) {
  EXPECT_EQ(read_all(), "AAA-one. AAB-two. ABA-thr. BBB-fou. |1");
  struct {
    const char* key;
    int16_t length;  // -1: absent
    int16_t mode;
    std::string want;
  } cases[] = {
      {"AAB", -1, zeb::kPositionExact, "AAB-two. |1"},
      {"AAC", -1, zeb::kPositionExact, "|11"},
      {"AAC", -1, zeb::kPositionApproximate, "ABA-thr. BBB-fou. |1"},
      {"AA", 2, zeb::kPositionGeneric, "AAA-one. AAB-two. |1"},
      {"C", 1, zeb::kPositionGeneric, "|1"},
      {"", 0, zeb::kPositionApproximate, "AAA-one. AAB-two. ABA-thr. BBB-fou. |1"},
  };
  for (const auto& c : cases) {
    uint32_t mask = zeb::mask({1, 2, 5});
    if (c.length >= 0) mask |= zeb::mask({4});
    ASSERT_EQ(KEYPOSITIONX(mask, fnum_, c.key, 0, c.length, c.mode), 0) << c.key;
    EXPECT_EQ(read_all(), c.want) << c.key;
  }
  int16_t last = 0;
  struct {
    uint32_t mask;
    int16_t specifier, length, mode, error;
  } bad[] = {
      {zeb::mask({1, 2, 5}), 0, 0, 3, 2},  {zeb::mask({1, 2, 3}), 1, 0, 0, 2},
      {zeb::mask({1, 2, 4}), 0, 4, 0, 22}, {zeb::mask({1, 2, 4}), 0, -1, 0, 22},
      {zeb::mask({1}), 0, 0, 0, 29},       {zeb::mask({1, 2, 6}), 0, 0, 0, 2},
  };
  for (const auto& b : bad) {
    EXPECT_EQ(KEYPOSITIONX(b.mask, fnum_, "AAA", b.specifier, b.length, b.mode), b.error);
  }
  // A refused positioning is the file's last error.
  EXPECT_EQ(KEYPOSITIONX(zeb::mask({1, 2, 4}), fnum_, "AAA", 0, 9), 22);
  FILE_GETINFO_(zeb::mask({1, 2}), fnum_, &last);
  EXPECT_EQ(last, 22);
  EXPECT_EQ(KEYPOSITIONX(zeb::mask({1, 2}), 200, "AAA"), 16);
  // The file is only read.
  EXPECT_EQ(WRITEX(zeb::mask({1, 2, 3}), fnum_, "x", 1), 2);
  EXPECT_EQ(POSITION(fnum_, 0), 2);
  // A file that is not key-sequenced cannot be positioned by key.
  int16_t plain = -2;
  ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3}), "$KS.SUB.PLAIN", 13, &plain), 0);
  EXPECT_EQ(KEYPOSITIONX(zeb::mask({1, 2}), plain, "AAA"), 2);
  FILE_CLOSE_(zeb::mask({1}), plain);
}

TEST_F(KeyFileTest, WholeFileWritesAndReads) {
  std::string problem;
  std::vector<std::string> records;
  // Two records of one key: refused, the old file stays.
  EXPECT_EQ(zeb::platform::keyfile_write(volume_.path("sub/keyed"), 3, {"KEY1", "KEY2"}, &problem),
            10);
  ASSERT_EQ(zeb::platform::keyfile_read_all(volume_.path("sub/keyed"), &records, &problem), 0);
  EXPECT_EQ(records, kRecords);
  EXPECT_EQ(zeb::platform::keyfile_read_all(volume_.path("sub/plain"), &records, &problem), 2);
  EXPECT_EQ(zeb::platform::keyfile_read_all(volume_.path("sub/none"), &records, &problem), 11);
  EXPECT_EQ(zeb::platform::keyfile_write(volume_.path("sub"), 3, kRecords, &problem), 2);
  EXPECT_EQ(zeb::platform::keyfile_write(volume_.path("sub/x"), 0, kRecords, &problem), 22);
  // A reader keeps the file it opened while a new one replaces it.
  ASSERT_EQ(zeb::platform::keyfile_write(volume_.path("sub/keyed"), 3, {"NEW-rec."}, &problem), 0);
  ASSERT_EQ(KEYPOSITIONX(zeb::mask({1, 2, 5}), fnum_, "BBB", 0, 0, zeb::kPositionExact), 0);
  EXPECT_EQ(read_all(), "BBB-fou. |1");
  // A failed flush of the directory after the rename is reported, not
  // taken for success.
  {
    zeb::platform::SyscallOverride fault;
    auto fsyncs = std::make_shared<int>(0);
    zeb::platform::syscalls().fsync = [fsyncs, real = fault.saved().fsync](int fd) {
      return ++*fsyncs == 2 ? (errno = EIO, -1) : real(fd);
    };
    EXPECT_EQ(zeb::platform::keyfile_write(volume_.path("sub/keyed"), 3, kRecords, &problem), 190);
    EXPECT_EQ(problem.rfind("flush the directory ", 0), 0u) << problem;
  }
  // Nothing but the files made here is in the directory.
  std::vector<std::string> names;
  zeb::platform::syscalls().list_directory(volume_.path("sub").c_str(), &names);
  EXPECT_EQ(names.size(), 2u);
}

// The descriptors this process has open.
size_t open_descriptors() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A file that is recognised as key-sequenced but refused when opened gives
// back everything its open took: a thousand refused opens, by FILE_OPEN_ and
// by a whole-file read, leave the descriptors as they were.
TEST_F(KeyFileTest, RefusedOpensLeaveNothingBehind) {
  struct Damage {
    const char* what;
    size_t offset;  // the header bytes overwritten
    std::string bytes;
  } damages[] = {
      {"key length 0", 60, std::string(4, '\0')},          // user_version
      {"key length 256", 60, std::string("\0\0\1\0", 4)},  // beyond 255
  };
  const std::string path = volume_.path("sub/damaged");
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string problem;
    ASSERT_EQ(zeb::platform::keyfile_write(path, 3, kRecords, &problem), 0) << problem;
    {
      std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(d.offset));
      f.write(d.bytes.data(), static_cast<std::streamsize>(d.bytes.size()));
    }
    const size_t before = open_descriptors();
    std::vector<std::string> records;
    for (int i = 0; i < 1000; ++i) {
      int16_t fnum = -2;
      ASSERT_EQ(FILE_OPEN_(zeb::mask({1, 2, 3, 4}), "$KS.SUB.DAMAGED", 15, &fnum, zeb::kAccessRead),
                2);
      ASSERT_EQ(zeb::platform::keyfile_read_all(path, &records, &problem), 2);
    }
    EXPECT_EQ(open_descriptors(), before);
  }
}

TEST(DefineInfo, EnvironmentVariablesAreDefines) {
  zeb::testing::set_variable("ZEB_DEFINE_LCONF", "$DATA.ZEB.LCONF");
  zeb::testing::set_variable("ZEB_DEFINE_lower", "=other");
  zeb::testing::set_variable("ZEB_DEFINE_LONGVALUE", std::string(49, 'x').c_str());
  struct {
    const char* name;
    int16_t error;
    std::string value;
  } cases[] = {
      {"=LCONF                  ", 0, "$DATA.ZEB.LCONF"},
      {"=lconf                  ", 0, "$DATA.ZEB.LCONF"},
      {"=LOWER                  ", 0, "=other"},
      {"=NONE                   ", 198, ""},
      {"=LONGVALUE              ", 22, ""},
      {"LCONF                   ", 13, ""},
      {"=                       ", 13, ""},
      {"=1ABC                   ", 13, ""},
      {"=A B                    ", 13, ""},
      {"=A.B                    ", 13, ""},
  };
  for (const auto& c : cases) {
    char value[48], cls[16], attr[16];
    std::memset(value, '#', sizeof value);
    int16_t length = -1;
    EXPECT_EQ(DEFINEINFO(c.name, cls, attr, value, sizeof value, &length), c.error) << c.name;
    if (c.error == 0) {
      EXPECT_EQ(std::string(value, static_cast<size_t>(length)), c.value);
      EXPECT_EQ(std::string(cls, 16), "MAP             ");
      EXPECT_EQ(std::string(attr, 16), "FILE            ");
    }
  }
  zeb::testing::set_variable("ZEB_DEFINE_LCONF", std::nullopt);
  zeb::testing::set_variable("ZEB_DEFINE_lower", std::nullopt);
  zeb::testing::set_variable("ZEB_DEFINE_LONGVALUE", std::nullopt);
}

}  // namespace
