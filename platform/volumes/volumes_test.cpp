// The volume table: explicit tables and names given to discovered devices.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include <zeb/platform/platform.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/volumes/volumes.h"

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
      "$FAST=sim:rpm=7200,clock=fast;$VC=sim:rpm=7200,clock=virtual;$RC=sim:clock=real,rpm=9;;"
      "$TRAIL=sim:rpm=1,;$LEAD=sim:,rpm=1;");
  std::vector<std::string> names;
  std::vector<bool> virtual_clock;
  for (const auto& volume : v) {
    names.push_back(volume.name);
    virtual_clock.push_back(volume.virtual_clock);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"$DUP", "$OK", "$VC", "$RC", "$TRAIL"}));
  EXPECT_EQ(virtual_clock, (std::vector<bool>{false, false, true, false, false}));
}

// Without ZEB_VOLUMES the table is the mounted block devices, one volume each:
// the mount of the file system's root before a bind mount, a writable mount
// before a read-only one (which is never surveyed), escapes undone.
TEST(VolumeTable, DiscoveryReadsTheMountList) {
  std::vector<std::string> found;
  {
    SyscallOverride fake;
    serve_file("/proc/self/mountinfo",
               "21 1 8:1 / /data rw,relatime - ext4 /dev/sda1 rw\n"
               "22 1 8:1 /sub /bind rw - ext4 /dev/sda1 rw\n"
               "23 1 0:5 / /proc rw - proc proc rw\n"
               "24 1 8:2 /x /m\\040two ro - ext4 /dev/sda2 ro\n"
               "25 1 8:2 / /m2  ro,noatime - ext4 /dev/sda2 ro\n"
               "short line\n"
               "26 1 8:3 / /w\\011tab rw - xfs /dev/sdb rw");
    syscalls().access = [](const char* path, int) {
      return std::strncmp(path, "/sys/dev/block/8:", 17) == 0 ? 0 : -1;
    };
    syscalls().readlink = [](const char* path, std::string* target) {
      const std::string device = path + 15;  // after "/sys/dev/block/"
      *target = "../../devices/virtual/block/" + std::string(device == "8:1"   ? "sda1"
                                                             : device == "8:2" ? "sda2"
                                                                               : "sdb");
      return 0;
    };
    // A host of its own, configured without ZEB_VOLUMES, discovers its table.
    ScopedHost own(Configuration::from_entries({}));
    for (const Volume& v : volumes()) {
      found.push_back(v.name + " " + v.root + " " + std::to_string(v.subtype));
    }
  }
  EXPECT_EQ(found, (std::vector<std::string>{"$SDA1 /data 0", "$SDA2 /m2 36", "$SDB /w\ttab 0"}));
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
