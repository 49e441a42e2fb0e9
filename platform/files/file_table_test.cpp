// The file table and the kinds of file behind it, through the typed calls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/testing/testing.h"

namespace zeb::platform {
namespace {

// Numbers are handed out lowest first and come back when closed; a full
// table refuses with 34, which file number -1 keeps until an open succeeds;
// the files of a host are closed with it.
TEST(FileTable, NumbersComeBackAndGoWithTheirHost) {
  // Every file of a full table holds a descriptor of its own.
  // A low soft limit is raised as far as the hard one allows.
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 512) {
    limit.rlim_cur = std::min<rlim_t>(512, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 512)
      GTEST_SKIP() << "needs 512 descriptors, allowed " << limit.rlim_cur;
  }
  int descriptor = -1;
  {
    ScopedHost own(Configuration::from_entries({}));
    for (int16_t expected = 0; expected < 256; ++expected) {
      Result<int16_t> opened = open_file("$ZOUT");
      ASSERT_TRUE(opened.ok()) << expected;
      EXPECT_EQ(*opened, expected);
    }
    EXPECT_EQ(open_file("$ZOUT").code(), 34);
    EXPECT_EQ(*last_error(-1), 34);
    EXPECT_TRUE(close_file(5).ok());
    EXPECT_EQ(close_file(5).code(), 16);
    EXPECT_EQ(last_error(5).code(), 16);
    EXPECT_EQ(*open_file("$ZOUT"), 5);
    EXPECT_EQ(*last_error(-1), 0);
    descriptor = host_fd(255);
    ASSERT_GE(descriptor, 0);
    EXPECT_NE(::fcntl(descriptor, F_GETFD), -1);
  }
  EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1);
  EXPECT_EQ(host_fd(255), -1);
}

// Each kind answers for itself: its device type and subtype, whether it can
// be positioned, and what a write-read does on it.
TEST(FileKinds, EachKindAnswersForItself) {
  testing::ScratchVolume scratch("$SCRATCH", "$SIM=sim:rpm=6000,subtype=7");
  ASSERT_TRUE(create_file("$SCRATCH.SUB.DISK").ok());
  ASSERT_TRUE(create_file("$SIM.SUB.DISK").ok());
  struct Case {
    const char* name;
    int16_t type, subtype, position, write_read;
  } cases[] = {
      {"$SCRATCH.SUB.DISK", 3, 0, 0, 2},
      {"$SIM.SUB.DISK", 3, 7, 0, 2},
      {"$ZOUT", 6, 0, 2, 2},
  };
  for (const Case& c : cases) {
    Result<int16_t> f = open_file(c.name);
    ASSERT_TRUE(f.ok()) << c.name;
    Result<FileInfo> info = file_info(*f);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->name, c.name);
    EXPECT_EQ(info->device_type, c.type) << c.name;
    EXPECT_EQ(info->device_subtype, c.subtype) << c.name;
    EXPECT_EQ(position_file(*f, 0).code(), c.position) << c.name;
    char buffer[4] = {};
    EXPECT_EQ(write_read_file(*f, buffer, 1, 1).code(), c.write_read) << c.name;
    EXPECT_EQ(*last_error(*f), c.write_read) << c.name;
    EXPECT_EQ(write_read_file(*f, buffer, 5, 0).code(), 21) << c.name;
    EXPECT_TRUE(close_file(*f).ok());
  }
}

// A temporary file lives until its last open is closed.
TEST(FileKinds, ATemporaryGoesWithItsLastOpen) {
  testing::ScratchVolume scratch;
  Result<FileName> made = create_file("$SCRATCH");
  ASSERT_TRUE(made.ok());
  ASSERT_TRUE(made->temporary());
  std::vector<int16_t> opens;
  for (int i = 0; i < 2; ++i) {
    Result<int16_t> f = open_file(made->external());
    ASSERT_TRUE(f.ok());
    opens.push_back(*f);
  }
  const char text[] = "kept";
  ASSERT_TRUE(write_file(opens[0], std::span<const char>(text, 4)).ok());
  EXPECT_TRUE(close_file(opens[0]).ok());
  char back[4] = {};
  int16_t got = 0;
  ASSERT_TRUE(read_file(opens[1], back, &got).ok());
  EXPECT_EQ(std::string(back, static_cast<size_t>(got)), "kept");
  EXPECT_TRUE(close_file(opens[1]).ok());
  EXPECT_EQ(open_file(made->external()).code(), 11);
}

}  // namespace
}  // namespace zeb::platform
