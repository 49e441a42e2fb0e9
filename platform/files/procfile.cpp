// Processes as files: OPEN and FILE_OPEN_ of a process, and the messages
// WRITEX and WRITEREADX send it (see the "Process files" section of
// platform/README.md). The file table (process_file.cpp) keeps the connection; this
// file speaks over it.
#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include "platform/host/syscalls.h"
#include "platform/processes/conversation.h"
#include "platform/rooms.h"

namespace err = zeb::err;
using zeb::present;

namespace zeb::platform {
namespace {

std::string trimmed(const char* text, size_t size) {
  std::string s(text, size);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// A connection to the process a pid names: the private channel when it is a
// child of this process, else its named socket.
int16_t connect_process(long pid, const std::string& name, int* fd) {
  if (pid != 0) {
    *fd = dup_child_channel(pid);
    if (*fd >= 0) return 0;
  }
  if (name.empty()) return err::kNoSuchDevice;
  Connection connection;
  int16_t error = connect_named_process(name, &connection);
  *fd = connection.fd;
  return error;
}

// A process that does not answer "open" within this many milliseconds is
// no library process (a program that never reads its $RECEIVE): the open
// fails with 40 rather than wait for ever. It is the limit a library
// process's intake gives its parent for each message.
constexpr int kOpenReplyLimitMs = 30000;

// Sends "open" and takes a file number for the connection.
int16_t open_connection(int fd, const std::string& name, int16_t* filenum) {
  Connection connection{fd};
  int16_t reply = 0;
  int16_t error = send_message(connection, true, open_message(), &reply, kOpenReplyLimitMs);
  if (error == 0) error = reply;
  if (error == 0) error = add_process_file(fd, name, filenum);
  if (error != 0) syscalls().close(fd);
  return error;
}

}  // namespace

bool is_process_name(const std::string& volume) {
  return !process_name_from(volume).empty() && volume[0] == '$';
}

int16_t open_process_by_name(const std::string& name, int16_t* filenum) {
  const std::string process = process_name_from(name);
  if (process.empty()) return err::kBadName;
  int fd = -1;
  if (int16_t error = connect_process(find_named_process(process), process, &fd); error != 0) {
    return error;
  }
  return open_connection(fd, process, filenum);
}

int16_t process_message(int fd, const void* buffer, int16_t write_count, void* reply,
                        int16_t reply_max, int16_t* reply_len, int16_t* reply_error) {
  Connection connection{fd};
  const char* bytes = static_cast<const char*>(buffer);
  Message message(bytes, bytes + write_count);
  return send_message(connection, false, message, reply_error, -1, reply, reply_max, reply_len);
}

void close_process(int fd) {
  Connection connection{fd};
  int16_t reply = 0;
  send_message(connection, true, close_message(), &reply);
  close_connection(&connection);
}

}  // namespace zeb::platform

using namespace zeb::platform;

int16_t OPEN(uint32_t mask, const char* name, int16_t* filenum, int16_t /*flags*/,
             int16_t /*sync_depth*/) {
  if (!zeb::mask_fits(mask, 4)) return record_open_error(err::kInvalidOperation);
  if (!present(mask, 1) || !present(mask, 2) || name == nullptr || filenum == nullptr) {
    return record_open_error(err::kMissingParameter);
  }
  *filenum = zeb::kNotOpen;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(name);
  const bool blank_rest = trimmed(name + 8, 16).empty();
  if ((bytes[0] & 0x80) != 0 && blank_rest) {
    // An unnamed process by its identifier: only a child of this process
    // can be reached.
    int16_t id[4];
    std::memcpy(id, name, 8);
    long pid = pid_of_identifier(id);
    int fd = -1;
    if (int16_t error = connect_process(pid, "", &fd); error != 0) {
      return record_open_error(error);
    }
    return record_open_error(open_connection(fd, "", filenum));
  }
  const std::string first = trimmed(name, 8);
  if (blank_rest && first.size() <= 6 && find_volume(first) == nullptr && is_process_name(first)) {
    return record_open_error(open_process_by_name(first, filenum));
  }
  char external[32];
  int16_t length = FNAMECOLLAPSE(name, external);
  return FILE_OPEN_(zeb::mask({1, 2, 3}), external, length, filenum);
}
