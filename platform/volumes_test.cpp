// The volume table: explicit tables and names given to discovered devices.
#include <gtest/gtest.h>

#include <set>

#include "platform/platform.h"
#include "platform/volumes.h"

namespace zeb::platform {
namespace {

TEST(VolumeTable, ParsesDirectoriesAndSimulatedDisks) {
  auto v = parse_volume_table(
      "$TMPV=/tmp;$s72=sim:rpm=7200;$SKIP=sim:rpm=7200,subtype=36;"
      "$BAD=sim:rpm=7200,fail=31");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0].name, "$TMPV");
  EXPECT_EQ(v[0].root, "/tmp");
  EXPECT_FALSE(v[0].simulated);
  EXPECT_EQ(v[1].name, "$S72");
  EXPECT_TRUE(v[1].simulated);
  EXPECT_EQ(v[1].rpm, 7200);
  EXPECT_EQ(v[2].subtype, 36);
  EXPECT_EQ(v[3].fail_at, 31);
}

TEST(VolumeTable, LogicalDeviceNumbersRiseInTableOrder) {
  auto v = parse_volume_table(
      "$A=/tmp;$B=sim:rpm=1,ldev=10;$C=/tmp;$D=sim:rpm=1,ldev=5;"
      "$E=sim:rpm=1,ldev=40");
  ASSERT_EQ(v.size(), 5u);
  std::vector<int32_t> numbers;
  for (const auto& volume : v) numbers.push_back(volume.ldev);
  EXPECT_EQ(numbers, (std::vector<int32_t>{1, 10, 11, 12, 40}));
}

TEST(VolumeTable, RefusesBadEntriesAndKeepsTheRest) {
  auto v = parse_volume_table(
      "NODOLLAR=/tmp;$1ABC=/tmp;$TOOLONGNM=/tmp;$NODIR=/no/such/dir;$NORPM=sim:subtype=3;"
      "$ZERO=sim:rpm=0;$JUNK=sim:rpm=7200,color=red;$DUP=/tmp;$DUP=/tmp;$OK=sim:rpm=5400;novalue;"
      "$FAST=sim:rpm=7200,clock=fast;$VC=sim:rpm=7200,clock=virtual;$RC=sim:clock=real,rpm=9");
  std::vector<std::string> names;
  std::vector<bool> virtual_clock;
  for (const auto& volume : v) {
    names.push_back(volume.name);
    virtual_clock.push_back(volume.virtual_clock);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"$DUP", "$OK", "$VC", "$RC"}));
  EXPECT_EQ(virtual_clock, (std::vector<bool>{false, false, true, false}));
}

TEST(VolumeNames, FollowTheKernelNameAndStayUnique) {
  std::set<std::string> taken;
  EXPECT_EQ(volume_name_for_device("vda", taken), "$VDA");
  EXPECT_EQ(volume_name_for_device("sdb1", taken), "$SDB1");
  EXPECT_EQ(volume_name_for_device("dm-0", taken), "$DM0");
  EXPECT_EQ(volume_name_for_device("0abc", taken), "$D0ABC");
  EXPECT_EQ(volume_name_for_device("m\xc3\xa9m-1", taken), "$MM1");  // ASCII only
  EXPECT_EQ(volume_name_for_device("nvme0n1p2", taken), "$NVMN1P2");
  taken.insert("$NVMN1P2");
  std::string second = volume_name_for_device("nvme1n1p2", taken);
  EXPECT_EQ(second, "$NVMN1P1");
  taken.insert(second);
  EXPECT_EQ(volume_name_for_device("nvme2n1p2", taken), "$NVMN1P3");
}

}  // namespace
}  // namespace zeb::platform
