// The volume table: explicit tables and names given to discovered devices.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>

#include <zeb/platform/fs.h>
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/volumes/device_info.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {
namespace {

TEST(VolumeTable, ParsesDirectoriesAndSimulatedDisks) {
  auto v = parse_volume_table(
      "$TMPV=/tmp;$s72=sim:rpm=7200;$SKIP=sim:rpm=7200,subtype=36;"
      "$BAD=sim:rpm=7200,fail=31;$BUSY=sim:rpm=7200,busy=10");
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0].name, "$TMPV");
  EXPECT_EQ(v[0].root, "/tmp");
  EXPECT_FALSE(v[0].simulated);
  EXPECT_EQ(v[1].name, "$S72");
  EXPECT_TRUE(v[1].simulated);
  EXPECT_EQ(v[1].rpm, 7200);
  EXPECT_EQ(v[2].subtype, 36);
  EXPECT_EQ(v[3].fail_at, 31);
  EXPECT_EQ(v[4].busy_every, 10);
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
      "$TRAIL=sim:rpm=1,;$LEAD=sim:,rpm=1;$IDLE=sim:rpm=1,busy=0");
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
// before a read-only one (which is measured, and fails), escapes undone; an
// image no mount can write (squashfs) is never surveyed.
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
               "26 1 8:3 / /w\\011tab rw - xfs /dev/sdb rw\n"
               "27 1 7:0 / /snap/core rw shared:5 - squashfs /dev/loop0 ro");
    syscalls().access = [](const char* path, int) {
      return std::strncmp(path, "/sys/dev/block/8:", 17) == 0 ||
                     std::strcmp(path, "/sys/dev/block/7:0") == 0
                 ? 0
                 : -1;
    };
    syscalls().readlink = [](const char* path, std::string* target) {
      const std::string device = path + 15;  // after "/sys/dev/block/"
      *target = "../../devices/virtual/block/" + std::string(device == "8:1"   ? "sda1"
                                                             : device == "8:2" ? "sda2"
                                                             : device == "7:0" ? "loop0"
                                                                               : "sdb");
      return 0;
    };
    // A host of its own, configured without ZEB_VOLUMES, discovers its table.
    ScopedHost own(Configuration::from_entries({}));
    for (const Volume& v : volumes()) {
      found.push_back(v.name + " " + v.root + " " + std::to_string(v.subtype));
    }
  }
  EXPECT_EQ(found, (std::vector<std::string>{"$SDA1 /data 0", "$SDA2 /m2 0", "$SDB /w\ttab 0",
                                             "$LOOP0 /snap/core 36"}));
}

// A ZEB_SWAPVOL that names no volume is told once for each host's
// configuration, however often the swap volume is asked for.
TEST(SwapVolume, AnUnknownOneIsToldOncePerHost) {
  std::string told;
  SyscallOverride capture;
  syscalls().write = [&told, real = capture.saved().write](int fd, const void* p, size_t n) {
    if (fd != 2) return real(fd, p, n);
    told.append(static_cast<const char*>(p), n);
    return static_cast<long>(n);
  };
  const std::string line = program_name() +
                           ": ZEB_SWAPVOL: \"$NONE\" is not a volume; the swap file goes in the "
                           "temporary directory\n";
  for (int host_number = 1; host_number <= 2; ++host_number) {
    ScopedHost own(Configuration::from_entries({"ZEB_VOLUMES=", "ZEB_SWAPVOL=$NONE"}));
    for (int ask = 0; ask < 3; ++ask) EXPECT_EQ(swap_volume(), "$TMP");
    std::string expected;
    for (int k = 0; k < host_number; ++k) expected += line;
    EXPECT_EQ(told, expected);
  }
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

// Device details come from the mount list and /sys, served here: the mount
// that holds a directory (the longest mount point over it, optional fields
// and escapes in the list), the partition's disk for model and queue, and
// what is missing left unknown.
TEST(DeviceDetails, FromTheMountListAndSys) {
  SyscallOverride fake;
  serve_file("/proc/self/mountinfo",
             "21 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
             "22 21 253:0 / /srv\\040data rw shared:2 master:1 - xfs /dev/mapper/vg-data rw\n"
             "23 21 0:40 / /run rw - tmpfs tmpfs rw\n"
             "24 21 8:1 / /srvx rw - ext4 /dev/sda1 rw\n");
  syscalls().realpath = [](const char* path, std::string* resolved) {
    *resolved = path;
    return 0;
  };
  syscalls().stat = [](const char* path, FileStatus* st) {
    const std::string p = path;
    if (p == "/etc/passwd") {
      st->mode = 0100644;
      return 0;
    }
    st->mode = 0040755;
    st->device = p.rfind("/run", 0) == 0        ? makedev(0, 40)
                 : p.rfind("/srv data", 0) == 0 ? makedev(253, 0)
                                                : makedev(8, 1);
    return 0;
  };
  syscalls().readlink = [](const char* path, std::string* target) {
    const std::string p = path;
    if (p == "/sys/dev/block/8:1")
      *target = "../../devices/pci0/host0/block/sda/sda1";
    else if (p == "/sys/dev/block/253:0")
      *target = "../../devices/virtual/block/dm-0";
    else
      return errno = ENOENT, -1;
    return 0;
  };
  syscalls().access = [](const char* path, int) {
    return std::string(path) == "/sys/dev/block/8:1/partition" ? 0 : (errno = ENOENT, -1);
  };
  serve_file("/sys/dev/block/8:1/../device/model", "QEMU HARDDISK   \n");
  serve_file("/sys/dev/block/8:1/../queue/rotational", "1\n");
  serve_file("/sys/dev/block/8:1/../queue/write_cache", "write back\n");
  serve_file("/sys/dev/block/253:0/queue/rotational", "0\n");
  serve_file("/sys/dev/block/253:0/queue/write_cache", "write through\n");
  struct Case {
    const char* dir;
    const char* mount_point;
    const char* fs_type;
    const char* device;
    std::optional<std::string> model;
    std::optional<bool> rotational;
    std::optional<std::string> write_cache;
  } cases[] = {
      {"/home/u", "/", "ext4", "/dev/sda1", "QEMU HARDDISK", true, "write back"},
      {"/srvx/a", "/srvx", "ext4", "/dev/sda1", "QEMU HARDDISK", true, "write back"},
      {"/srv data/x", "/srv data", "xfs", "/dev/dm-0", std::nullopt, false, "write through"},
      {"/run/user", "/run", "tmpfs", "", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& k : cases) {
    Result<DeviceDetails> d = device_details(std::string(k.dir));
    ASSERT_TRUE(d.ok()) << k.dir;
    EXPECT_EQ(d->mount_point, k.mount_point) << k.dir;
    EXPECT_EQ(d->fs_type, k.fs_type) << k.dir;
    EXPECT_EQ(d->device, k.device) << k.dir;
    EXPECT_EQ(d->model, k.model) << k.dir;
    EXPECT_EQ(d->rotational, k.rotational) << k.dir;
    EXPECT_EQ(d->write_cache, k.write_cache) << k.dir;
  }
  EXPECT_EQ(device_details(std::string("/etc/passwd")).code(), 2);
  Volume sim;
  sim.simulated = true;
  EXPECT_EQ(device_details(sim)->mount_point, "");
}

}  // namespace
}  // namespace zeb::platform
