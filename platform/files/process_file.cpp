// $RECEIVE and process files in the file table. The messages themselves go
// through the process-connection functions (ipc/connection.h, ipc/queue.h);
// these classes only give them a file number.
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/file.h"
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/queue.h"
#include "platform/names/file_names.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

// A process's device type word: type 2, subtype 0.
constexpr int16_t kProcessTypeWord = 2 << 6;

// This process's own $RECEIVE under a file number.
class ReceiveFile : public File {
 public:
  ReceiveFile(std::string name, int16_t filenum) : File(std::move(name)), filenum_(filenum) {}
  int16_t device_type_word() const override { return kProcessTypeWord; }
  void close() override { receive_close(filenum_); }

 private:
  int16_t filenum_;
};

// A connection to another process's $RECEIVE: each write is a message, its
// reply the write's error (and a write-read's data).
class ProcessFile : public File {
 public:
  ProcessFile(std::string name, int fd) : File(std::move(name)), fd_(fd) {}
  ~ProcessFile() override {
    // The connection ends with the descriptor; a destructor has no one
    // to tell.
    if (fd_ >= 0) syscalls().close(fd_);
  }
  int host_fd() const override { return fd_; }
  int16_t device_type_word() const override { return kProcessTypeWord; }

  // The process's reply error is the write's.
  Status write(std::span<const char> data, int16_t* written) override {
    int16_t reply = 0;
    int16_t error = process_message(fd_, data.data(), static_cast<int16_t>(data.size()), nullptr, 0,
                                    nullptr, &reply);
    if (error != 0) return Status::error(error);
    if (written != nullptr) *written = static_cast<int16_t>(data.size());
    return Status::error(reply);
  }

  Status write_read(char* buffer, int16_t write_count, int16_t read_count,
                    int16_t* count_read) override {
    if (buffer == nullptr) return Status::error(err::kMissingParameter);
    if (write_count < 0 || read_count < 0) return Status::error(err::kBadCount);
    int16_t reply = 0, got = 0;
    int16_t error = process_message(fd_, buffer, write_count, buffer, read_count, &got, &reply);
    if (error != 0) return Status::error(error);
    if (count_read != nullptr) *count_read = got;
    return Status::error(reply);
  }

  void close() override {
    close_process(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

}  // namespace

Result<std::unique_ptr<File>> open_receive_file(int16_t filenum, const FileName& name,
                                                int16_t nowait_depth) {
  if (int16_t error = receive_open(filenum, nowait_depth); error != 0) {
    return Status::error(error);
  }
  return std::unique_ptr<File>(std::make_unique<ReceiveFile>(name.external(), filenum));
}

std::unique_ptr<File> make_process_file(int fd, const std::string& name) {
  return std::make_unique<ProcessFile>(name, fd);
}

Result<int16_t> add_process_file(int fd, const std::string& name) {
  FileTable& table = file_table();
  int16_t number = table.free_number();
  if (number < 0) return Status::error(err::kNoControlBlock, "file table full");
  table.put(number, make_process_file(fd, name));
  return number;
}

int16_t record_open_error(int16_t error) { return file_table().record_no_file(error); }

bool set_last_error(int16_t filenum, int16_t error) {
  File* f = file_table().find(filenum);
  if (f == nullptr) return false;
  f->set_last_error(error);
  return true;
}

void set_file_error(int16_t filenum, int16_t error) { set_last_error(filenum, error); }

int host_fd(int16_t filenum) {
  File* f = file_table().find(filenum);
  return f != nullptr ? f->host_fd() : -1;
}

}  // namespace zeb::platform
