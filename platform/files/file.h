// The files room's inside: one interface for an open file of any kind, one
// class a kind behind it (disk files, simulated-disk files, standard streams,
// terminals, key-sequenced files, $RECEIVE and process files), and the file
// table that numbers them. Internal to the platform.
//
// A procedure that serves every kind asks the object what it can do; no
// procedure switches on the kind of a file. Operations that a kind does not
// have answer 2 (invalid operation).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include <zeb/platform/fs.h>
#include <zeb/platform/terminal.h>
#include "platform/host/status.h"
#include "platform/names/file_names.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {

class DiskFile;
class KeyedFile;
class TerminalFile;

// An open file. The object owns what the file holds on the host (its
// descriptor, a terminal's saved settings, a key-sequenced file's database)
// and gives it back when destroyed; close() is the orderly close of
// FILE_CLOSE_, which may say goodbye to a peer first.
class File {
 public:
  explicit File(std::string name) : name_(std::move(name)) {}
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The external name it was opened by.
  const std::string& name() const { return name_; }
  // The error of the last operation on it (FILE_GETINFO_).
  int16_t last_error() const { return last_error_; }
  void set_last_error(int16_t error) { last_error_ = error; }

  // The host descriptor, -1 when the file has none of its own.
  virtual int host_fd() const { return -1; }
  // The volume of a disk file, else null.
  virtual const Volume* volume() const { return nullptr; }
  // Device type and subtype as FILE_GETINFO_ gives them, and the device
  // type word of FILEINFO ((type << 6) | subtype).
  virtual int16_t device_type() const { return zeb::kDeviceTypeTerminal; }
  virtual int16_t device_subtype() const { return 0; }
  virtual int16_t device_type_word() const {
    return static_cast<int16_t>((device_type() << 6) | device_subtype());
  }

  // A waited write of data (its size fits 16 bits); *written, when given,
  // receives the count written.
  virtual Status write(std::span<const char> data, int16_t* written);
  // A read of up to buffer.size() bytes; *count_read, when given, receives
  // the count read.
  virtual Status read(std::span<char> buffer, int16_t* count_read);
  // Writes write_count bytes of buffer and reads up to read_count bytes of
  // the reply into it (counts unchecked: each kind checks them).
  virtual Status write_read(char* buffer, int16_t write_count, int16_t read_count,
                            int16_t* count_read);
  // Sets the byte address of the next transfer (-1: the end).
  virtual Status position(int32_t address);
  // The orderly close; the object is destroyed after it.
  virtual void close() {}

  // The kinds that have operations of their own beyond this interface.
  virtual DiskFile* disk() { return nullptr; }
  virtual KeyedFile* keyed() { return nullptr; }
  virtual TerminalFile* terminal() { return nullptr; }

 private:
  std::string name_;
  int16_t last_error_ = 0;
};

// A file that lives only as long as someone holds it: a temporary file, or
// any file of a simulated volume. The creator's descriptor keeps it alive
// until its last open is closed.
struct HeldFile {
  int fd = -1;
  int opens = 0;
  bool temporary = true;
  std::string directory;  // where a temporary file of a directory volume was made
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile();
};

// The file table: the open files by number (0 to 255), the error of the
// last open or creation that produced no file number (file number -1), and
// the files held by name. A state of the host; its files are closed with it.
class FileTable {
 public:
  static constexpr int kMaxFiles = 256;

  // The open file of that number, or null.
  File* find(int16_t filenum) const;
  // The lowest free number, or -1 when the table is full.
  int16_t free_number() const;
  void put(int16_t filenum, std::unique_ptr<File> file);
  std::unique_ptr<File> take(int16_t filenum);
  // Calls f(number, file) for every open file, in number order.
  template <typename F>
  void for_each(F f) {
    for (int16_t i = 0; i < kMaxFiles; ++i) {
      if (files_[i]) f(i, *files_[i]);
    }
  }

  // Keeps error as the error of file number -1 and returns it.
  int16_t record_no_file(int16_t error) { return no_file_error_ = error; }
  int16_t no_file_error() const { return no_file_error_; }

  // Files held by name (external name): temporary files and the files of
  // simulated volumes.
  std::map<std::string, std::shared_ptr<HeldFile>>& held() { return held_; }
  // The next temporary file number (1 to 9999999, then round again).
  int next_temporary() { return ++temp_counter_ % 10000000; }

 private:
  std::unique_ptr<File> files_[kMaxFiles];
  int16_t no_file_error_ = 0;
  std::map<std::string, std::shared_ptr<HeldFile>> held_;
  int temp_counter_ = 0;
};

// The file table of the host in force.
FileTable& file_table();

// Makers of each kind, used by open_file (files.cpp).
//
// A disk file of a parsed name, opened with the open(2) access flags; a
// key-sequenced file when its contents say so, a simulated-disk file on a
// simulated volume.
Result<std::unique_ptr<File>> open_disk_file(const FileName& name, int flags);
// A standard stream of a reserved stream name, opened waited.
Result<std::unique_ptr<File>> open_stream_file(const FileName& name);
// A terminal: a device name, or a stream name opened with a nowait depth.
Result<std::unique_ptr<File>> open_terminal_file(const FileName& name, int16_t nowait_depth);
// $RECEIVE for file number filenum.
Result<std::unique_ptr<File>> open_receive_file(int16_t filenum, const FileName& name,
                                                int16_t nowait_depth);
// A connection to a process's $RECEIVE on descriptor fd (the file owns it).
std::unique_ptr<File> make_process_file(int fd, const std::string& name);

// The host path of a terminal device name ("$PTS3" is /dev/pts/3), or empty
// when the volume name is not one.
std::string terminal_device_path(std::string_view volume);

// A host descriptor for a parsed disk-file name, opened with flags (the
// access mode and any other open flags): its volume and, for a held file,
// the hold (the descriptor is then a duplicate and keeps the mode the file
// was made with). The caller owns fd.
struct OpenedDescriptor {
  int fd = -1;
  const Volume* volume = nullptr;
  std::shared_ptr<HeldFile> held;
};
Result<OpenedDescriptor> open_descriptor(const FileName& name, int flags);

}  // namespace zeb::platform
