// The standard streams opened waited ($ZHOME, $ZIN, $ZOUT, $ZERR): a
// duplicate of the standard descriptor, read and written a line at a time.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/file.h"
#include "platform/host/diagnostics.h"
#include "platform/host/syscalls.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

class StreamFile : public File {
 public:
  StreamFile(std::string name, int fd)
      : File(std::move(name)), fd_(fd), may_sigpipe_(may_raise_sigpipe(fd)) {}
  ~StreamFile() override {
    // A destructor has no one to tell; every write was reported.
    if (fd_ >= 0) syscalls().close(fd_);
  }
  int host_fd() const override { return fd_; }

  // Each write to a stream is one line.
  Status write(std::span<const char> data, int16_t* written) override {
    size_t count = data.size();
    char line[32768 + 1];
    if (count > 0) std::memcpy(line, data.data(), count);
    line[count] = '\n';
    // A reader that went away is an error of this write, never a signal.
    long n =
        may_sigpipe_ ? write_all_no_sigpipe(fd_, line, count + 1) : write_all(fd_, line, count + 1);
    if (n < 0) return Status::from_errno(errno);
    if (written != nullptr) *written = static_cast<int16_t>(count);
    return Status();
  }

  // One read is one line, as one write is: bytes are taken one at a time up
  // to the line feed, so the next line stays in the stream for the next
  // read. A line longer than the buffer is returned in pieces.
  Status read(std::span<char> buffer, int16_t* count_read) override {
    long n = 0;
    bool ended = false;
    while (static_cast<size_t>(n) < buffer.size()) {
      char c;
      long got = syscalls().read(fd_, &c, 1);
      if (got < 0) return Status::from_errno(errno);
      if (got == 0) {
        ended = true;
        break;
      }
      // A line read from a stream arrives without its line feed.
      if (c == '\n') break;
      buffer[static_cast<size_t>(n++)] = c;
    }
    // Nothing at all is the end of the input; an empty line is a line.
    if (ended && n == 0 && !buffer.empty()) return Status::error(err::kEndOfFile);
    if (count_read != nullptr) *count_read = static_cast<int16_t>(n);
    return Status();
  }

  void close() override {
    // Every write was made at once and reported; closing an open file
    // number succeeds.
    syscalls().close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  // A stream whose writes can raise SIGPIPE (a pipe or socket): its writes
  // keep the signal away. Fixed at open: a descriptor's file type never
  // changes.
  bool may_sigpipe_;
};

}  // namespace

Result<std::unique_ptr<File>> open_stream_file(const FileName& name) {
  int source = name.volume == kStdinName ? 0 : name.volume == kStderrName ? 2 : 1;
  int fd = syscalls().dup(source);
  if (fd < 0) {
    return Status::from_errno(errno, std::string("cannot open ") +
                                         (source == 0   ? "standard input"
                                          : source == 1 ? "standard output"
                                                        : "standard error") +
                                         " (" + name.external() + ")");
  }
  return std::unique_ptr<File>(std::make_unique<StreamFile>(name.external(), fd));
}

}  // namespace zeb::platform
