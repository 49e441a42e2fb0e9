// The typed core of the files room (files.h): opening by name, which picks
// the kind of file, and the calls that hand each operation to the file's
// object and keep its error as the file's last error.
#include "platform/files/files.h"

#include <fcntl.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include "platform/files/disk_file.h"
#include "platform/files/file.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/receive_queue.h"
#include "platform/names/file_names.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

// Keeps the outcome of an operation as the file's last error.
Status recorded(File& f, Status status) {
  f.set_last_error(status.code());
  return status;
}

// Keeps the error of an open or creation that produced no file number as
// the error of file number -1, and hands its status on whole.
Status no_file(Status status) {
  file_table().record_no_file(status.code());
  return status;
}
Status no_file(int16_t error) { return no_file(Status::error(error)); }

// Forgets the held files of the volume table in force before it is
// replaced: every file of a simulated volume, and temporary files that are
// not open.
void forget_held_files() {
  auto& held = file_table().held();
  for (auto it = held.begin(); it != held.end();) {
    FileName name;
    const Volume* v = parse_name(it->first, &name) ? find_volume(name.volume) : nullptr;
    bool forget = v == nullptr || v->simulated || (it->second->temporary && it->second->opens == 0);
    it = forget ? held.erase(it) : std::next(it);
  }
}

void replace_volume_table(const char* text) {
  if (VolumeTable* table = host().find_state<VolumeTable>(); table != nullptr) {
    forget_held_files();
    table->replace(text);
  } else if (text != nullptr) {
    host().state<VolumeTable>().replace(text);
  }
}

}  // namespace

Result<int16_t> open_file(std::string_view text, OpenOptions options) {
  FileName name;
  if (!parse_name(text, &name)) return no_file(err::kBadName);
  const int16_t nowait = options.nowait_depth;
  // $RECEIVE, terminal devices, and the standard streams opened for nowait
  // I/O take a nowait depth; nothing else does.
  const bool receive = name.volume == kReceiveName && name.volume_only();
  const bool stream = is_stream_name(name.volume) && name.volume_only();
  const bool terminal = !receive && name.volume_only() &&
                        (!terminal_device_path(name.volume).empty() || (stream && nowait != 0));
  if (nowait != 0 && !terminal && !receive) return no_file(err::kInvalidOperation);
  // A name that is no volume, device or stream but a process's: that
  // process's $RECEIVE.
  if (!receive && !terminal && name.volume_only() && !is_stream_name(name.volume) &&
      find_volume(name.volume) == nullptr && is_process_name(name.volume)) {
    Result<int16_t> opened = open_process_by_name(name.volume);
    file_table().record_no_file(opened.code());
    return opened;
  }
  FileTable& table = file_table();
  int16_t number = table.free_number();
  if (number < 0) return no_file(err::kNoControlBlock);
  Result<std::unique_ptr<File>> file = Status::error(err::kInvalidOperation);
  if (receive) {
    file = open_receive_file(number, name, nowait);
  } else if (terminal) {
    file = open_terminal_file(name, nowait);
  } else if (stream) {
    file = open_stream_file(name);
  } else {
    // Access 1 reads only and 2 writes only, so a file on a read-only file
    // system, or one the user may only read, can be opened for reading.
    int how = options.access == 1 ? O_RDONLY : options.access == 2 ? O_WRONLY : O_RDWR;
    file = open_disk_file(name, how | O_DSYNC);
  }
  if (!file.ok()) return no_file(file.status());
  table.put(number, std::move(file.value()));
  file_table().record_no_file(0);  // a successful open clears the error of file number -1
  return number;
}

Status close_file(int16_t filenum) {
  FileTable& table = file_table();
  if (table.find(filenum) == nullptr) return Status::error(err::kNotOpenFile);
  std::unique_ptr<File> file = table.take(filenum);
  file->close();
  return Status();
}

Status write_file(int16_t filenum, std::span<const char> data, int16_t* written) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (data.size() > INT16_MAX) return recorded(*f, Status::error(err::kBadCount));
  if (data.data() == nullptr && !data.empty()) {
    return recorded(*f, Status::error(err::kMissingParameter));
  }
  return recorded(*f, f->write(data, written));
}

Status read_file(int16_t filenum, std::span<char> buffer, int16_t* count_read) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (buffer.data() == nullptr) return recorded(*f, Status::error(err::kMissingParameter));
  if (buffer.size() > INT16_MAX) return recorded(*f, Status::error(err::kBadCount));
  return recorded(*f, f->read(buffer, count_read));
}

Status write_file(int16_t filenum, const void* data, int16_t count, int16_t* written) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (data == nullptr && count > 0) return recorded(*f, Status::error(err::kMissingParameter));
  if (count < 0) return recorded(*f, Status::error(err::kBadCount));
  return write_file(filenum, {static_cast<const char*>(data), static_cast<size_t>(count)}, written);
}

Status read_file(int16_t filenum, void* buffer, int16_t count, int16_t* count_read) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (buffer == nullptr) return recorded(*f, Status::error(err::kMissingParameter));
  if (count < 0) return recorded(*f, Status::error(err::kBadCount));
  return read_file(filenum, {static_cast<char*>(buffer), static_cast<size_t>(count)}, count_read);
}

Status write_read_file(int16_t filenum, std::span<char> buffer, int16_t write_count,
                       int16_t read_count, int16_t* count_read) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (write_count < 0 || read_count < 0 || static_cast<size_t>(write_count) > buffer.size() ||
      static_cast<size_t>(read_count) > buffer.size()) {
    return recorded(*f, Status::error(err::kBadCount));
  }
  return recorded(*f, f->write_read(buffer.data(), write_count, read_count, count_read));
}

Status position_file(int16_t filenum, int32_t address) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  return recorded(*f, f->position(address));
}

Result<int16_t> last_error(int16_t filenum) {
  if (filenum == -1) return file_table().no_file_error();
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  return f->last_error();
}

Result<FileInfo> file_info(int16_t filenum) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  return FileInfo{f->last_error(), f->name(), f->device_type(), f->device_subtype()};
}

Result<DiskFileInfo> disk_file_info(const char* internal_name) {
  FileName name;
  if (!from_internal(internal_name, &name)) return Status::error(err::kBadName);
  Result<OpenedDescriptor> opened = open_descriptor(name, O_RDONLY);
  if (!opened.ok()) return opened.status();
  const int fd = opened->fd;
  const Volume* v = opened->volume;
  DiskFileInfo info;
  info.ldev = static_cast<int16_t>(v->ldev);
  info.device_type = static_cast<int16_t>((zeb::kDeviceTypeDisk << 6) | (v->subtype & 0x3F));
  info.attributes = read_attributes(fd);
  if (FileStatus status; syscalls().fstat(fd, &status) == 0) {
    info.capacity = status.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.size);
    info.security = static_cast<int16_t>(status.mode & 0777);
  }
  // The descriptor was opened read-only for the inquiry alone: nothing was
  // written through it, so its close has nothing to report.
  syscalls().close(fd);
  return info;
}

Result<FileDetails> file_details(int16_t filenum) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  FileDetails details;
  details.last_error = f->last_error();
  details.name = f->name();
  details.ldev = static_cast<int16_t>(f->volume() != nullptr ? f->volume()->ldev : 0);
  details.device_type = f->device_type_word();
  DiskFile* disk = f->disk();
  if (disk == nullptr) return details;
  details.disk = true;
  details.attributes = read_attributes(disk->host_fd());
  if (FileStatus status; syscalls().fstat(disk->host_fd(), &status) == 0) {
    details.capacity = status.size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(status.size);
    details.security = static_cast<int16_t>(status.mode & 0777);
  } else {
    details.capacity = Status::from_errno(errno, "size of " + f->name());
  }
  return details;
}

Result<FileAttributes> disk_file_attributes(int16_t filenum) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return Status::error(err::kNotOpenFile);
  if (f->disk() == nullptr) return Status::error(err::kInvalidOperation);
  return read_attributes(f->host_fd());
}

// The descriptor of the disk file an internal name names, opened without
// access for an inquiry or a change of its permission bits.
Result<OpenedDescriptor> open_for_inquiry(const char* internal_name) {
  FileName name;
  if (!from_internal(internal_name, &name)) return Status::error(err::kBadName);
  return open_descriptor(name, O_RDONLY);
}

Result<FileAttributes> disk_file_attributes(const char* internal_name) {
  Result<OpenedDescriptor> opened = open_for_inquiry(internal_name);
  if (!opened.ok()) return opened.status();
  FileAttributes attributes = read_attributes(opened->fd);
  // Only read through: the close has nothing to lose.
  syscalls().close(opened->fd);
  return attributes;
}

Status set_security(const char* internal_name, int16_t security) {
  Result<OpenedDescriptor> opened = open_for_inquiry(internal_name);
  if (!opened.ok()) return opened.status();
  Status status;
  if (syscalls().fchmod(opened->fd, static_cast<unsigned>(security) & 0777u) != 0) {
    status = Status::from_errno(errno, "permissions of " + collapse_name(internal_name));
  }
  // The mode change was made and checked; the close has nothing left to
  // lose.
  syscalls().close(opened->fd);
  return status;
}

Status create_by_internal_name(char* internal_name, const Extents& extents,
                               FileAttributes attributes) {
  FileName name;
  if (!from_internal(internal_name, &name) || name.temporary() ||
      (!name.volume_only() && name.file.empty())) {
    return no_file(err::kBadName);
  }
  if (find_volume(name.volume) == nullptr) return no_file(err::kNoSuchDevice);
  const long long primary = extents.primary > 0 ? extents.primary : 1;
  const long long secondary = extents.secondary > 0 ? extents.secondary : primary;
  const long long count = extents.maxextents > 0 ? extents.maxextents : 16;
  const long long size = (primary + secondary * (count - 1)) * zeb::kPageBytes;
  if (name.volume_only()) {
    Result<FileName> made = create_temporary_file(name.volume, true, size);
    if (!made.ok()) return no_file(made.status());
    to_internal(*made, internal_name);
    return Status();
  }
  attributes.primary = static_cast<int16_t>(std::min<long long>(primary, INT16_MAX));
  attributes.secondary = static_cast<int16_t>(std::min<long long>(secondary, INT16_MAX));
  attributes.maxextents = static_cast<int16_t>(count);
  return no_file(create_disk_file(name, size, attributes));
}

Result<int> open_internal_for_mapping(const char* internal_name) {
  FileName name;
  if (!from_internal(internal_name, &name)) return Status::error(err::kBadName);
  Result<OpenedDescriptor> opened = open_descriptor(name, O_RDWR);
  if (!opened.ok()) return opened.status();
  return opened->fd;
}

void install_volume_table(const std::string& text) { replace_volume_table(text.c_str()); }

void restore_volume_table() { replace_volume_table(nullptr); }

}  // namespace zeb::platform
