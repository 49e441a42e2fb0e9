// $RECEIVE and process files in the file table. The messages themselves go
// through the process-connection functions (ipc/connection.h, ipc/receive_queue.h);
// these classes only give them a file number.
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/file.h"
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/connection.h"
#include "platform/ipc/receive_queue.h"
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
    Result<Reply> reply = send(data, {});
    if (!reply.ok()) return reply.status();
    if (written != nullptr) *written = static_cast<int16_t>(data.size());
    return Status::error(reply->error);
  }

  Status write_read(char* buffer, int16_t write_count, int16_t read_count,
                    int16_t* count_read) override {
    if (buffer == nullptr) return Status::error(err::kMissingParameter);
    if (write_count < 0 || read_count < 0) return Status::error(err::kBadCount);
    Result<Reply> reply =
        send({buffer, static_cast<size_t>(write_count)}, {buffer, static_cast<size_t>(read_count)});
    if (!reply.ok()) return reply.status();
    if (count_read != nullptr) *count_read = reply->length;
    return Status::error(reply->error);
  }

  void close() override {
    close_process(fd_);
    fd_ = -1;
  }

 private:
  // One message and its reply, whose data goes to reply_to: the message's
  // own buffer may hold both, nothing is copied for the message.
  Result<Reply> send(std::span<const char> message, std::span<char> reply_to) {
    Request request;
    request.message = message;
    request.reply_to = reply_to;
    return exchange(Connection{fd_}, request);
  }

  int fd_;
};

}  // namespace

Result<std::unique_ptr<File>> open_receive_file(int16_t filenum, const FileName& name,
                                                int16_t nowait_depth) {
  if (Status opened = receive_open(filenum, nowait_depth); !opened.ok()) return opened;
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
