// The seam through which the platform makes its system calls.
//
// Every system call the platform makes for files and devices goes through
// this table, so a test can replace one entry and make, for example, the
// thirtieth write fail on the real code path. Tests restore the table with
// SyscallOverride (RAII) or reset_syscalls().
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeb::platform {

struct Syscalls {
  int (*open)(const char* path, int flags, unsigned mode);
  int (*close)(int fd);
  long (*pread)(int fd, void* buf, size_t count, long long offset);
  long (*pwrite)(int fd, const void* buf, size_t count, long long offset);
  long (*write)(int fd, const void* buf, size_t count);
  int (*fstat_size)(int fd, long long* size);  // file size in bytes
  int (*ftruncate)(int fd, long long length);
  int (*fsync)(int fd);
};

// The live table. Only the platform calls through it; tests may assign to it.
Syscalls& syscalls();

// The table of the real system calls.
const Syscalls& real_syscalls();
void reset_syscalls();

// Replaces the live table for one scope and restores it afterwards.
class SyscallOverride {
 public:
  SyscallOverride() : saved_(syscalls()) {}
  ~SyscallOverride() { syscalls() = saved_; }
  SyscallOverride(const SyscallOverride&) = delete;
  SyscallOverride& operator=(const SyscallOverride&) = delete;

 private:
  Syscalls saved_;
};

// The file-system error number nearest to an errno value (one table, in
// errno_map.cpp).
int16_t error_from_errno(int e);

}  // namespace zeb::platform
