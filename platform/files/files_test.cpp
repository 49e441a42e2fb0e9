// The typed calls on files named by internal name: creation with extents
// and the inquiry that does not open the file for its caller.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "platform/files/files.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"

namespace zeb::platform {
namespace {

std::string internal_of(const char* external) {
  Result<FileName> name = parse_file_name(external);
  EXPECT_TRUE(name.ok()) << external;
  std::string internal(24, ' ');
  to_internal(*name, internal.data());
  return internal;
}

TEST(FilesByInternalName, CreateTakesExtentDefaultsAndDescribesTheFile) {
  zeb::testing::ScratchVolume volume("$DIRA", "$SIM=sim:rpm=6000,subtype=36");
  // Sizes in pages: the primary extent and maxextents - 1 secondary ones.
  struct Case {
    const char* name;
    Extents extents;
    int32_t pages;
  } cases[] = {
      {"$DIRA.SUB.DEFAULT", {}, 1 + 1 * 15},
      {"$DIRA.SUB.PRIMARY", {4, 0, 0}, 4 + 4 * 15},
      {"$DIRA.SUB.ALL", {4, 2, 3}, 4 + 2 * 2},
      {"$DIRA.SUB.NEGATIVE", {-1, -1, -1}, 1 + 1 * 15},
  };
  for (const Case& c : cases) {
    std::string internal = internal_of(c.name);
    FileAttributes attributes;
    attributes.filecode = 101;
    ASSERT_TRUE(create_by_internal_name(internal.data(), c.extents, attributes).ok()) << c.name;
    EXPECT_EQ(*last_error(-1), 0) << c.name;
    Result<DiskFileInfo> info = disk_file_info(internal.data());
    ASSERT_TRUE(info.ok()) << c.name;
    EXPECT_EQ(info->capacity, c.pages * 2048) << c.name;
    EXPECT_EQ(info->attributes.filecode, 101) << c.name;
    EXPECT_EQ(info->device_type >> 6, 3) << c.name;
    EXPECT_EQ(info->security, 0600) << c.name;
  }
  // A swap file on a volume alone: its name is written back.
  std::string swap = internal_of("$SIM");
  ASSERT_TRUE(create_by_internal_name(swap.data(), {2, 0, 1}).ok());
  EXPECT_EQ(swap[8], '#');
  Result<DiskFileInfo> info = disk_file_info(swap.data());
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(info->capacity, 2 * 2048);
  EXPECT_EQ(info->device_type, (3 << 6) | 36);
}

TEST(FilesByInternalName, FailuresAreKeptAsTheErrorOfFileMinusOne) {
  zeb::testing::ScratchVolume volume("$DIRA");
  std::string existing = internal_of("$DIRA.SUB.FILE");
  ASSERT_TRUE(create_by_internal_name(existing.data(), {}).ok());
  struct Case {
    std::string internal;
    int16_t create, inquire;
  } cases[] = {
      {existing, 10, 0},
      {internal_of("$DIRA.NOSUB"), 13, 11},
      {internal_of("$NOVOL.SUB.FILE"), 14, 14},
      {std::string(24, '*'), 13, 13},
  };
  for (Case& c : cases) {
    EXPECT_EQ(create_by_internal_name(c.internal.data(), {}).code(), c.create) << c.internal;
    EXPECT_EQ(*last_error(-1), c.create) << c.internal;
    EXPECT_EQ(disk_file_info(c.internal.data()).code(), c.inquire) << c.internal;
  }
}

}  // namespace
}  // namespace zeb::platform
