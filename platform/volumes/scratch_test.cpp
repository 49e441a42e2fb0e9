// Where temporary files go and how they are made: the volume's root, else a
// directory of the same file system the user may write; the swap file in the
// temporary directory itself; the private-directory fallback where the file
// system has no O_TMPFILE, against another user who renames what he can; and
// files sized against the file-size limit and the free space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <zeb/platform/fs.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

using zeb::platform::FileStatus;
using zeb::platform::SyscallOverride;
using zeb::platform::syscalls;

using EnvScope = zeb::testing::ScopedVariable;

class CwdScope {
 public:
  explicit CwdScope(const std::string& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~CwdScope() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

// A file created with only a volume, as FILE_CREATE_ does it, then opened,
// written and closed: success, or the status of the first failure (its note
// names what was in the way).
zeb::platform::Status scratch_file(const std::string& volume) {
  zeb::platform::Result<zeb::platform::FileName> made =
      zeb::platform::create_file(volume, 0, zeb::platform::FileAttributes{});
  if (!made.ok()) return made.status();
  const std::string name = made->external();
  int16_t fnum = -2;
  int16_t error =
      FILE_OPEN_(zeb::mask({1, 2, 3}), name.c_str(), static_cast<int16_t>(name.size()), &fnum);
  if (error != 0) return zeb::platform::Status::error(error);
  char block[512];
  std::memset(block, 'X', sizeof block);
  WRITEX(zeb::mask({1, 2, 3}), fnum, block, 512);
  FILE_GETINFO_(zeb::mask({1, 2}), fnum, &error);
  FILE_CLOSE_(zeb::mask({1}), fnum);
  return zeb::platform::Status::error(error);
}

// The regular files anywhere below dir.
int files_below(const std::string& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    n += e.is_regular_file() ? 1 : 0;
  }
  return n;
}

// A volume $SCR with a temporary, a home and a current directory beside it on
// the same file system; the seam refuses O_TMPFILE in some of them, puts
// some on another device and records where the file was made.
struct Placement : ::testing::Test {
  zeb::testing::ScratchVolume volume{"$SCR"};
  zeb::testing::ScratchDirectory tmp, home, cwd;
  std::set<std::string> refused, elsewhere, full;
  std::string made_in;

  void install(SyscallOverride& scope) {
    syscalls().open = [this, &scope](const char* path, int flags, unsigned mode) {
      if ((flags & O_TMPFILE) == O_TMPFILE) {
        if (refused.count(path) != 0) {
          errno = EACCES;
          return -1;
        }
        if (full.count(path) != 0) {
          errno = ENOSPC;
          return -1;
        }
        int fd = scope.saved().open(path, flags, mode);
        if (fd >= 0) made_in = path;
        return fd;
      }
      return scope.saved().open(path, flags, mode);
    };
    syscalls().stat = [this, &scope](const char* path, FileStatus* st) {
      int rc = scope.saved().stat(path, st);
      if (rc == 0 && elsewhere.count(path) != 0) st->device ^= 0x5a5a;
      return rc;
    };
  }
};

TEST_F(Placement, RootElseTheSameFileSystemsDirectoriesInOrder) {
  EnvScope t("TMPDIR", tmp.path()), h("HOME", home.path());
  CwdScope c(cwd.path());
  const std::string R = volume.root(), T = tmp.path(), H = home.path(), C = cwd.path();
  struct Case {
    std::set<std::string> refused, elsewhere, full;
    int16_t error;
    std::string made_in;  // or, on error, the directory the note names
  } cases[] = {
      {{}, {}, {}, 0, R},
      {{R}, {}, {}, 0, T},
      {{R, T}, {}, {}, 0, H},
      {{R, T, H}, {}, {}, 0, C},
      {{R}, {T}, {}, 0, H},           // another file system is never used
      {{R}, {T, H, C}, {}, 48, R},    // nowhere left: the root's refusal
      {{R, T, H, C}, {}, {}, 48, R},  //
      {{R}, {}, {T}, 43, T},          // a full disk is not a refusal: no further
      {{}, {}, {R}, 43, R},           //
  };
  for (const Case& k : cases) {
    SyscallOverride scope;
    refused = k.refused;
    elsewhere = k.elsewhere;
    full = k.full;
    made_in.clear();
    install(scope);
    zeb::platform::Status made = scratch_file("$SCR");
    EXPECT_EQ(made.code(), k.error) << k.made_in;
    if (k.error == 0) {
      EXPECT_EQ(made_in, k.made_in);
    } else {
      EXPECT_EQ(made.what(), "cannot create a temporary file in " + k.made_in);
    }
  }
}

TEST_F(Placement, SwapFileGoesInTheTemporaryDirectoryItself) {
  // The temporary directory below the volume's root: a swap file (CREATE)
  // goes in it, a scratch file (FILE_CREATE_) in the root.
  const std::string T = volume.path("tmp");
  ASSERT_EQ(mkdir(T.c_str(), 0700), 0);
  EnvScope t("TMPDIR", T);
  SyscallOverride scope;
  install(scope);
  char internal[25] = "$SCR                    ";
  ASSERT_EQ(CREATE(zeb::mask({1, 2}), internal, 4), 0);
  EXPECT_EQ(made_in, T);
  ASSERT_EQ(scratch_file("$SCR").code(), 0);
  EXPECT_EQ(made_in, volume.root());
  // Where the temporary directory cannot be used, the swap file goes nowhere
  // else: its error names the directory.
  refused = {T};
  std::memcpy(internal, "$SCR    ", 8);
  std::memset(internal + 8, ' ', 16);
  zeb::platform::Status swap = zeb::platform::create_by_internal_name(internal, {4, 0, 0});
  EXPECT_EQ(swap.code(), 48);
  EXPECT_EQ(swap.what(), "cannot create a temporary file in " + T);
}

// The file system has no O_TMPFILE; hook, when set, plays the other user at
// one step of the fallback.
struct Fallback : ::testing::Test {
  zeb::testing::ScratchVolume volume{"$SCR"};
  std::string private_dir;  // the directory the fallback made

  void install(SyscallOverride& scope, bool rename_after_mkdir, bool rename_after_file) {
    syscalls().open = [&scope](const char* path, int flags, unsigned mode) {
      if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
      }
      return scope.saved().open(path, flags, mode);
    };
    syscalls().mkdir = [this, &scope, rename_after_mkdir](const char* path, unsigned mode) {
      int rc = scope.saved().mkdir(path, mode);
      private_dir = path;
      if (rc == 0 && rename_after_mkdir) {
        // Another user moves the new directory away and puts his own,
        // open to him, in its place.
        std::rename(path, volume.path("moved").c_str());
        scope.saved().mkdir(path, 0777);
        chmod(path, 0777);
      }
      return rc;
    };
    syscalls().openat = [this, &scope, rename_after_file](int dirfd, const char* path, int flags,
                                                          unsigned mode) {
      int fd = scope.saved().openat(dirfd, path, flags, mode);
      if (fd >= 0 && rename_after_file)
        std::rename(private_dir.c_str(), volume.path("moved").c_str());
      return fd;
    };
  }
};

TEST_F(Fallback, PrivateDirectoryKeepsTheFileFromEveryoneElse) {
  struct Case {
    const char* name;
    bool rename_after_mkdir, rename_after_file;
    int16_t error;
  } cases[] = {
      {"undisturbed", false, false, 0},
      {"directory replaced before it is opened", true, false, 48},
      {"directory renamed while the file is in it", false, true, 48},
  };
  for (const Case& k : cases) {
    SyscallOverride scope;
    install(scope, k.rename_after_mkdir, k.rename_after_file);
    EXPECT_EQ(scratch_file("$SCR").code(), k.error) << k.name;
    // No file is kept anywhere: a moved directory is left empty.
    EXPECT_EQ(files_below(volume.root()), 0) << k.name;
    for (const auto& e : std::filesystem::directory_iterator(volume.root())) {
      EXPECT_TRUE(std::filesystem::is_empty(e.path())) << k.name << ": " << e.path();
      zeb::testing::remove_tree(e.path());
    }
  }
}

TEST(Sizing, FileSizeLimitAndFullDiskAreErrorsOfTheCreation) {
  zeb::testing::ScratchVolume volume{"$SCR"};
  struct Case {
    const char* name;
    long long limit;  // -1: none
    int fallocate_errno;
    int16_t error;
  } cases[] = {
      {"fits", -1, 0, 0},
      {"exactly the limit", 64 * 2048, 0, 0},
      {"beyond the limit", 64 * 2048 - 1, 0, 45},
      {"disk full", -1, ENOSPC, 43},
      {"no block reservation on this file system", -1, EOPNOTSUPP, 0},
  };
  for (const Case& k : cases) {
    SyscallOverride scope;
    long long limit = k.limit;
    int e = k.fallocate_errno;
    syscalls().file_size_limit = [limit] { return limit; };
    if (e != 0) {
      syscalls().fallocate = [e](int, long long, long long) {
        errno = e;
        return -1;
      };
    }
    // CREATE of a temporary: 4 pages and 15 more extents of 4, 64 pages.
    char internal[25] = "$SCR                    ";
    int16_t result = CREATE(zeb::mask({1, 2}), internal, 4);
    int16_t last = 0;
    FILEINFO(zeb::mask({1, 2}), -1, &last);
    EXPECT_EQ(result != 0 ? last : 0, k.error) << k.name;
    // A named file of the same size.
    char named[25] = "$SCR    SUB     F       ";
    named[17] = static_cast<char>('A' + (&k - cases));
    result = CREATE(zeb::mask({1, 2}), named, 4);
    FILEINFO(zeb::mask({1, 2}), -1, &last);
    EXPECT_EQ(result != 0 ? last : 0, k.error == 43 ? 0 : k.error) << k.name << " (named)";
  }
}

}  // namespace
