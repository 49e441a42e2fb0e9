// Disk files and simulated-disk files, creation of disk and temporary files,
// and the file table that numbers every open file.
//
// Disk files are opened O_DSYNC, so a write returns when its data is on
// stable storage and a timed rewrite measures the device. A simulated
// volume's files are in-memory files (memfd) held by name in the file table;
// each write to one first waits for its block to come round (simdisk.h).
#include "platform/files/disk_file.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/simdisk.h"

namespace err = zeb::err;

namespace zeb::platform {

HeldFile::~HeldFile() {
  // Nothing is written through a holding descriptor: its close has
  // nothing to lose.
  if (fd >= 0) syscalls().close(fd);
}

File* FileTable::find(int16_t filenum) const {
  if (filenum < 0 || filenum >= kMaxFiles) return nullptr;
  return files_[filenum].get();
}

int16_t FileTable::free_number() const {
  for (int16_t i = 0; i < kMaxFiles; ++i) {
    if (!files_[i]) return i;
  }
  return -1;
}

void FileTable::put(int16_t filenum, std::unique_ptr<File> file) {
  files_[filenum] = std::move(file);
}

std::unique_ptr<File> FileTable::take(int16_t filenum) { return std::move(files_[filenum]); }

FileTable& file_table() { return host().state<FileTable>(); }

Status File::write(std::span<const char>, int16_t*) {
  return Status::error(err::kInvalidOperation);
}

Status File::read(std::span<char>, int16_t*) { return Status::error(err::kInvalidOperation); }

Status File::write_read(char* buffer, int16_t write_count, int16_t read_count, int16_t*) {
  if (buffer == nullptr) return Status::error(err::kMissingParameter);
  if (write_count < 0 || read_count < 0) return Status::error(err::kBadCount);
  return Status::error(err::kInvalidOperation);
}

Status File::position(int32_t) { return Status::error(err::kInvalidOperation); }

namespace {

// A file of a simulated volume: every write first waits for its block.
class SimulatedDiskFile : public DiskFile {
 public:
  using DiskFile::DiskFile;
  Status write(std::span<const char> data, int16_t* written) override {
    if (Status waited = simdisk_write(*volume_, position_); !waited.ok()) return waited;
    return DiskFile::write(data, written);
  }
};

}  // namespace

DiskFile::~DiskFile() {
  // Writes are synchronous (O_DSYNC): a close has nothing left to
  // lose, and a destructor no one to tell.
  if (fd_ >= 0) syscalls().close(fd_);
}

int16_t DiskFile::device_type_word() const {
  return static_cast<int16_t>((zeb::kDeviceTypeDisk << 6) | (volume_->subtype & 0x3F));
}

Status DiskFile::write(std::span<const char> data, int16_t* written) {
  if (!data.empty()) {
    long n = syscalls().pwrite(fd_, data.data(), data.size(), position_);
    if (n < 0) return Status::from_errno(errno);
    if (static_cast<size_t>(n) != data.size()) return Status::error(err::kNoDiscSpace);
    position_ += n;
  }
  if (written != nullptr) *written = static_cast<int16_t>(data.size());
  return Status();
}

Status DiskFile::read(std::span<char> buffer, int16_t* count_read) {
  long n = syscalls().pread(fd_, buffer.data(), buffer.size(), position_);
  if (n < 0) return Status::from_errno(errno);
  if (n == 0 && !buffer.empty()) return Status::error(err::kEndOfFile);
  position_ += n;
  if (count_read != nullptr) *count_read = static_cast<int16_t>(n);
  return Status();
}

Status DiskFile::position(int32_t address) {
  if (address == -1) {
    FileStatus status;
    if (syscalls().fstat(fd_, &status) != 0) return Status::from_errno(errno);
    position_ = status.size;
  } else if (address < 0) {
    return Status::error(err::kOutOfBounds);
  } else {
    position_ = address;
  }
  return Status();
}

void DiskFile::close() {
  // Writes were synchronous (O_DSYNC), so the close has nothing left
  // to lose; closing an open file number succeeds.
  syscalls().close(fd_);
  fd_ = -1;
  if (held_ && --held_->opens <= 0 && held_->temporary) {
    // The last open of a temporary file is gone: discard it.
    auto& held = file_table().held();
    for (auto it = held.begin(); it != held.end(); ++it) {
      if (it->second == held_) {
        held.erase(it);
        break;
      }
    }
  }
}

// The attributes a disk file was created with, kept with the file in the
// extended attribute "user.zeb.attributes" as "name=value" words. A file
// without them (made by other means, or on a file system that keeps no
// extended attributes) reports the defaults, its primary extent being its
// size in pages.
constexpr char kAttributesName[] = "user.zeb.attributes";

void store_attributes(int fd, const FileAttributes& a) {
  std::string text =
      "filecode=" + std::to_string(a.filecode) + " primary=" + std::to_string(a.primary) +
      " secondary=" + std::to_string(a.secondary) + " maxextents=" + std::to_string(a.maxextents) +
      " filetype=" + std::to_string(a.filetype) + " recordlen=" + std::to_string(a.recordlen) +
      " blocklen=" + std::to_string(a.blocklen) + " buffersize=" + std::to_string(a.buffersize);
  syscalls().fsetxattr(fd, kAttributesName, text);  // kept where the file system can
}

FileAttributes read_attributes(int fd) {
  FileAttributes a;
  FileStatus status;
  if (syscalls().fstat(fd, &status) == 0) {
    long long pages = (status.size + zeb::kPageBytes - 1) / zeb::kPageBytes;
    a.primary = a.secondary = static_cast<int16_t>(std::clamp<long long>(pages, 1, INT16_MAX));
  }
  std::string text;
  if (syscalls().fgetxattr(fd, kAttributesName, &text) != 0) return a;
  const std::pair<const char*, int16_t*> fields[] = {
      {"filecode", &a.filecode},     {"primary", &a.primary},      {"secondary", &a.secondary},
      {"maxextents", &a.maxextents}, {"filetype", &a.filetype},    {"recordlen", &a.recordlen},
      {"blocklen", &a.blocklen},     {"buffersize", &a.buffersize}};
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    size_t eq = word.find('=');
    for (const auto& [key, field] : fields) {
      if (eq != std::string::npos && word.compare(0, eq, key) == 0 && std::strlen(key) == eq) {
        long value = std::strtol(word.c_str() + eq + 1, nullptr, 10);
        *field = static_cast<int16_t>(std::clamp<long>(value, INT16_MIN, INT16_MAX));
      }
    }
    pos = end + 1;
  }
  return a;
}

Result<OpenedDescriptor> open_descriptor(const FileName& name, int flags) {
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return Status::error(err::kNoSuchDevice);
  if (name.volume_only()) return Status::error(err::kBadName);
  OpenedDescriptor opened;
  opened.volume = v;
  auto& table = file_table().held();
  auto it = table.find(name.external());
  if (it != table.end()) {
    opened.fd = syscalls().dup(it->second->fd);
    if (opened.fd < 0) {
      const std::string& dir = it->second->directory;
      Status status = Status::from_errno(
          errno, "cannot open " + name.external() +
                     (dir.empty() ? "" : " (a temporary file in " + dir + ")") + " again");
      return status;
    }
    opened.held = it->second;
    return opened;
  }
  if (v->simulated || name.temporary()) return Status::error(err::kNotFound);
  // Opened without waiting: a FIFO where a disk file is expected would
  // otherwise stop the open until some writer came. A FIFO is no disk file
  // and is refused; a device keeps the blocking open it had.
  const std::string path = host_path(*v, name);
  opened.fd = syscalls().open(path.c_str(), O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | flags, 0);
  if (opened.fd < 0) return Status::from_errno(errno, "open " + path);
  FileStatus status;
  if (syscalls().fstat(opened.fd, &status) == 0 && !status.is_regular() && !status.is_directory()) {
    // Nothing was read or written through it.
    syscalls().close(opened.fd);
    if ((status.mode & 0170000u) == 0010000u) {
      return Status::error(err::kInvalidOperation, path + " is a FIFO");
    }
    opened.fd = syscalls().open(path.c_str(), O_NOFOLLOW | O_CLOEXEC | flags, 0);
    if (opened.fd < 0) return Status::from_errno(errno, "open " + path);
  }
  return opened;
}

Result<std::unique_ptr<File>> open_disk_file(const FileName& name, int flags) {
  Result<OpenedDescriptor> opened = open_descriptor(name, flags);
  if (!opened.ok()) return opened.status();
  const int fd = opened->fd;
  const Volume* v = opened->volume;
  std::shared_ptr<HeldFile> held = std::move(opened->held);
  std::unique_ptr<File> file;
  // A key-sequenced file is read through its index from now on.
  if (keyfile_recognise(fd)) {
    Result<std::unique_ptr<File>> keyed = make_keyed_file(name.external(), fd, v, held);
    if (!keyed.ok()) {
      // Only read through; the key file's failure is the one to report.
      syscalls().close(fd);
      return keyed.status();
    }
    file = std::move(keyed.value());
  } else if (v->simulated) {
    file = std::make_unique<SimulatedDiskFile>(name.external(), fd, v, held);
  } else {
    file = std::make_unique<DiskFile>(name.external(), fd, v, held);
  }
  if (held) ++held->opens;
  return file;
}

Status create_disk_file(const FileName& name, long long size, const FileAttributes& attributes) {
  const Volume* v = find_volume(name.volume);
  if (v == nullptr) return Status::error(err::kNoSuchDevice);
  if (v->simulated) {
    auto& held = file_table().held();
    if (held.count(name.external()) != 0) return Status::error(err::kAlreadyExists);
    auto file = std::make_shared<HeldFile>();
    file->temporary = false;
    file->fd = syscalls().memfd_create("zeb-sim");
    if (file->fd < 0) return Status::from_errno(errno);
    if (size > 0 && extend_file(file->fd, size) != 0) return Status::from_errno(errno);
    store_attributes(file->fd, attributes);
    held[name.external()] = file;
    return Status();
  }
  std::string path = host_path(*v, name);
  std::string dir = path.substr(0, path.find_last_of('/'));
  if (syscalls().mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return Status::from_errno(errno);
  int fd = syscalls().open(path.c_str(), O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return Status::from_errno(errno);
  Status sized;
  if (size > 0 && extend_file(fd, size) != 0) sized = Status::from_errno(errno);
  if (sized.ok()) store_attributes(fd, attributes);
  // The size and the attributes were set through it and checked; the
  // close has nothing left to lose. A file that failed is removed as
  // far as possible: the creation's error is the one reported.
  syscalls().close(fd);
  if (!sized.ok()) syscalls().unlink(path.c_str());
  return sized;
}

Result<FileName> create_temporary_file(std::string_view volume, bool swap, long long size) {
  const Volume* v = find_volume(volume);
  if (v == nullptr) return Status::error(err::kNoSuchDevice);
  Result<ScratchFile> scratch = create_scratch(*v, swap);
  if (!scratch.ok()) return scratch.status();
  auto file = std::make_shared<HeldFile>();
  file->fd = scratch->fd;
  file->directory = scratch->directory;
  char digits[16];
  std::snprintf(digits, sizeof digits, "#%07d", file_table().next_temporary());
  FileName name{v->name, digits, ""};
  if (swap) {
    // The blocks are reserved now, so a full disk is this call's error.
    if (reserve_file(file->fd, size) != 0) {
      return Status::from_errno(
          errno, "cannot make a temporary file of " + std::to_string(size) + " bytes in " +
                     (v->simulated ? v->name : file->directory) + file_size_limit_text(size));
    }
    // A swap file lives until the process ends: nothing closes it by file
    // number.
    file->opens = 1;
  }
  file_table().held()[name.external()] = file;
  return name;
}

Result<FileName> create_file(std::string_view text, long long size,
                             const FileAttributes& attributes) {
  FileTable& table = file_table();
  FileName name;
  if (!parse_name(text, &name) || name.temporary() || (!name.volume_only() && name.file.empty())) {
    return Status::error(table.record_no_file(err::kBadName));
  }
  if (find_volume(name.volume) == nullptr) {
    return Status::error(table.record_no_file(err::kNoSuchDevice));
  }
  if (name.volume_only()) {
    Result<FileName> made = create_temporary_file(name.volume);
    if (!made.ok()) table.record_no_file(made.code());
    return made;
  }
  Status created = create_disk_file(name, size, attributes);
  table.record_no_file(created.code());
  if (!created.ok()) return created;
  return name;
}

void discard_temporary_file(const FileName& name) { file_table().held().erase(name.external()); }

}  // namespace zeb::platform
