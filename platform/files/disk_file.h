// Disk files: host files below a directory volume's root, and the in-memory
// files of a simulated volume, read and written at a byte position of their
// own. Key-sequenced files (keyfile.cpp) are disk files read through their
// index. Internal to the platform.
#pragma once

#include <memory>
#include <string>

#include "platform/files/file.h"
#include "platform/files/files.h"

namespace zeb::platform {

class DiskFile : public File {
 public:
  // Owns fd; held is the held file it was opened from, if any (its open
  // count already taken).
  DiskFile(std::string name, int fd, const Volume* volume, std::shared_ptr<HeldFile> held)
      : File(std::move(name)), fd_(fd), volume_(volume), held_(std::move(held)) {}
  ~DiskFile() override;

  int host_fd() const override { return fd_; }
  const Volume* volume() const override { return volume_; }
  int16_t device_type() const override { return zeb::kDeviceTypeDisk; }
  int16_t device_subtype() const override { return volume_->subtype; }
  int16_t device_type_word() const override;
  Status write(std::span<const char> data, int16_t* written) override;
  Status read(std::span<char> buffer, int16_t* count_read) override;
  Status position(int32_t address) override;
  void close() override;
  DiskFile* disk() override { return this; }

 protected:
  int fd_;
  const Volume* volume_;
  long long position_ = 0;
  std::shared_ptr<HeldFile> held_;
};

// The creation attributes kept with a disk file's descriptor (defaults when
// it has none), and storing them.
FileAttributes read_attributes(int fd);
void store_attributes(int fd, const FileAttributes& attributes);

// A key-sequenced file for a disk file open on fd (keyfile.cpp): true from
// keyfile_recognise when fd holds one; make_keyed_file opens its database
// and takes fd, or gives the error and leaves fd to the caller.
bool keyfile_recognise(int fd);
Result<std::unique_ptr<File>> make_keyed_file(std::string name, int fd, const Volume* volume,
                                              std::shared_ptr<HeldFile> held);

}  // namespace zeb::platform
