// The start-up intake: the conversation with the parent on $RECEIVE. Each
// message is answered before the next is read; the start-up, ASSIGN and
// PARAM messages go to the caller's call-backs.
#include <algorithm>
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/platform.h>
#include <zeb/platform/receive.h>
#include "env/environment.h"
#include "env/startup.h"
#include "platform/files/files.h"

namespace err = zeb::err;
using zeb::mask;
using zeb::env::IntakeCallbacks;
using zeb::platform::Status;

namespace {

constexpr int16_t kContinue = 70;           // "continue file operation": send the rest
constexpr int16_t kNotFromParent = 60;      // a data message from another process
constexpr int16_t kNotFromParentSys = 100;  // a system message from another process

int16_t code_of(const char* message, int16_t length) {
  if (length < 2) return 0;
  return static_cast<int16_t>((static_cast<unsigned char>(message[0]) << 8) |
                              static_cast<unsigned char>(message[1]));
}

// FROM^MOM: whether the sender of the message just read is the parent: the
// mother, or else the ancestor. The results of the inquiries are not
// checked; the handles start out as values no sender has.
bool from_mom() {
  int16_t info[17] = {};
  int16_t mom[10], ancestor[10];
  std::fill(mom, mom + 10, int16_t{-1});
  std::fill(ancestor, ancestor + 10, int16_t{-1});
  FILE_GETRECEIVEINFO_(mask({1}), info);
  PROCESS_GETINFO_(mask({6}), nullptr, nullptr, 0, nullptr, nullptr, mom);
  if (std::equal(mom, mom + 10, info + 6)) return true;
  PROCESS_GETPAIRINFO_(mask({8}), nullptr, nullptr, 0, nullptr, nullptr, nullptr, nullptr,
                       ancestor);
  return std::equal(ancestor, ancestor + 10, info + 6);
}

// PROCESS^DATAMSG: the reply to one data message.
int16_t data_message(const IntakeCallbacks& in, const char* message, int16_t length) {
  if (!from_mom()) return kNotFromParent;
  switch (code_of(message, length)) {
    case -1:
      if (in.startup != nullptr) {
        int16_t error = in.startup(in.user_data, message, length);
        if (error != 0) return error;
      }
      return kContinue;
    case -2:
      // A failed call-back still gets 0: the item is missing from the store.
      if (in.assign != nullptr) in.assign(in.user_data, message, length);
      return 0;
    case -3:
      // As for an ASSIGN: the parent goes on, the parameters are missing.
      if (in.param != nullptr) in.param(in.user_data, message, length);
      return 0;
    default:  // also a message too short to hold a code
      return err::kInvalidOperation;
  }
}

// PROCESS^SYSMSG: the reply to one system message; *finished when the
// parent closed the process.
int16_t system_message(const char* message, int16_t length, bool* finished) {
  *finished = false;
  if (!from_mom()) return kNotFromParentSys;
  switch (code_of(message, length)) {
    case zeb::kSysMsgOpen:
    case zeb::kSysMsgOpenNew:
      return 0;
    case zeb::kSysMsgClose:
    case zeb::kSysMsgCloseNew:
      *finished = true;
      return 0;
    default:
      return err::kInvalidOperation;
  }
}

// PROCESS^STARTUP: the receive loop.
int16_t process_startup(const IntakeCallbacks& in, int16_t fnum) {
  char buffer[zeb::kStartupReadCount];
  for (;;) {
    int16_t error = 0;
    READUPDATE(mask({1, 2, 3}), fnum, buffer, zeb::kStartupReadCount);
    // $RECEIVE is open for the whole loop: its last error is always there.
    error = zeb::platform::last_error(fnum).value();
    if (error != 0) return error;
    int16_t count = 0, completed = fnum;
    AWAITIO(mask({1, 3, 5}), &completed, nullptr, &count, nullptr, zeb::intake_time_limit());
    error = zeb::platform::last_error(fnum).value();
    if (error == 0) {
      REPLY(mask({5}), nullptr, 0, nullptr, 0, data_message(in, buffer, count));
    } else if (error == err::kSystemMessage) {
      bool finished = false;
      REPLY(mask({5}), nullptr, 0, nullptr, 0, system_message(buffer, count, &finished));
      if (finished) return 0;
    } else {
      return error;
    }
  }
}

}  // namespace

int32_t& zeb::intake_time_limit() {
  static int32_t limit = 3000;
  return limit;
}

namespace zeb::env {

Status run_intake(const IntakeCallbacks& callbacks) {
  zeb::platform::OpenOptions options;
  options.nowait_depth = 1;
  zeb::platform::Result<int16_t> fnum = zeb::platform::open_file("$receive", options);
  if (!fnum.ok()) return Status::error(fnum.code(), "open $RECEIVE");
  int16_t error = process_startup(callbacks, *fnum);
  // The intake is over whatever the close answers: $RECEIVE stays this
  // process's queue, and closing it only ends this file number.
  zeb::platform::close_file(*fnum).ignore();
  return Status::error(error);
}

Status store_startup(EnvRecord& record, std::span<const char> message) {
  // Only the intake's reads (at most 596 bytes) fit the record; any other
  // length is refused and nothing changes.
  if (message.size() > static_cast<size_t>(kStartupReadCount)) {
    return Status::error(err::kOutOfBounds);
  }
  const auto length = static_cast<int16_t>(message.size());
  record.startup_len = length;
  if (length > 0) std::memcpy(record.startup_msg, message.data(), message.size());
  record.startup_msg[length] = '\0';
  // What an earlier, longer message left behind goes back to blanks.
  std::memset(record.startup_msg + length + 1, ' ', sizeof record.startup_msg - length - 1);
  // The default volume and subvolume follow the code; a message too short to
  // hold them leaves blanks.
  std::memset(record.default_names, ' ', sizeof record.default_names);
  if (length > kStartupDefaultsOffset) {
    size_t n = std::min<size_t>(sizeof record.default_names,
                                static_cast<size_t>(length - kStartupDefaultsOffset));
    std::memcpy(record.default_names, message.data() + kStartupDefaultsOffset, n);
  }
  return Status();
}

}  // namespace zeb::env
