// The start-up intake: the conversation with the parent on $RECEIVE. Each
// message is answered before the next is read; the start-up, ASSIGN and
// PARAM messages go to the caller's call-backs.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/this_process.h>
#include "env/environment.h"
#include "env/startup.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/ipc/channel.h"
#include "platform/ipc/messages.h"
#include "platform/ipc/receive_queue.h"
#include "platform/processes/processes.h"

namespace err = zeb::err;
namespace zp = zeb::platform;
using zeb::env::IntakeCallbacks;
using zeb::platform::Status;

namespace {

constexpr int16_t kContinue = 70;           // "continue file operation": send the rest
constexpr int16_t kNotFromParent = 60;      // a data message from another process
constexpr int16_t kNotFromParentSys = 100;  // a system message from another process

int16_t code_of(const char* message, int16_t length) {
  return zp::message_code({message, static_cast<size_t>(std::max<int16_t>(length, 0))});
}

// FROM^MOM: whether the sender of the message just read is the parent: the
// mother, or else the ancestor (no process of this host has one: the null
// handle). Without receive information (nothing read yet) the sender's
// handle stays zeros, which no process has.
bool from_mom() {
  std::array<int16_t, 17> info{};
  if (zp::Result<std::array<int16_t, 17>> got = zp::receive_info(); got.ok()) info = *got;
  int16_t mom[10], ancestor[10];
  zp::mother_handle(mom);
  if (std::equal(mom, mom + 10, info.begin() + 6)) return true;
  zp::null_handle(ancestor);
  return std::equal(ancestor, ancestor + 10, info.begin() + 6);
}

// The intake's state, a state of the host (a test's host has its own): the
// time limit of each wait, in hundredths of a second, and what the store
// could not hold.
struct IntakeState {
  int32_t limit = 3000;
  // The ASSIGNs and PARAMs the call-backs could not store, and why (the
  // last error they gave).
  int32_t dropped_assigns = 0;
  int32_t dropped_params = 0;
  int16_t why = 0;
};

IntakeState& intake_state() { return zp::host().state<IntakeState>(); }

// A call-back that could not store an ASSIGN or PARAM: the parent still
// gets 0 and goes on, and the item is missing from the store; it is
// counted, and said once when the intake ends.
void dropped(int32_t* count, int16_t error) {
  ++*count;
  intake_state().why = error;
}

// Says on standard error, once at the end of the intake, what the store
// could not hold.
void report_dropped() {
  const IntakeState& s = intake_state();
  if (s.dropped_assigns == 0 && s.dropped_params == 0) return;
  zp::write_error_line(
      "zeb: start-up: " + std::to_string(s.dropped_params) + " PARAM and " +
      std::to_string(s.dropped_assigns) +
      " ASSIGN messages from the parent were not stored (error " + std::to_string(s.why) +
      (s.why == err::kPoolExhausted ? ": the environment's pool is full" : "") + ")");
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
      if (in.assign != nullptr) {
        if (int16_t error = in.assign(in.user_data, message, length); error != 0) {
          dropped(&intake_state().dropped_assigns, error);
        }
      }
      return 0;
    case -3:
      // As for an ASSIGN: the parent goes on, the parameters are missing.
      if (in.param != nullptr) {
        if (int16_t error = in.param(in.user_data, message, length); error != 0) {
          dropped(&intake_state().dropped_params, error);
        }
      }
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
    case zeb::platform::kOldOpenCode:
    case zeb::platform::kOpenCode:
      return 0;
    case zeb::platform::kOldCloseCode:
    case zeb::platform::kCloseCode:
      *finished = true;
      return 0;
    default:
      return err::kInvalidOperation;
  }
}

// PROCESS^STARTUP: the receive loop.
int16_t process_startup(const IntakeCallbacks& in) {
  char buffer[zeb::platform::kStartupReadCount];
  for (;;) {
    // The queue is open with nowait depth 1: the read is started, then
    // completed within the time limit.
    if (zp::Result<zp::Delivery> started = zp::receive_read(buffer); !started.ok()) {
      return started.code();
    }
    zp::Result<zp::Delivery> got = zp::receive_await(zeb::intake_time_limit());
    if (!got.ok()) return got.code();
    const int16_t count = got->count;
    // A reply that cannot be delivered means the parent has gone; the next
    // read reports that.
    if (!got->system) {
      zp::receive_reply({}, data_message(in, buffer, count)).status().ignore();
    } else {
      bool finished = false;
      zp::receive_reply({}, system_message(buffer, count, &finished)).status().ignore();
      if (finished) return 0;
    }
  }
}

}  // namespace

int32_t& zeb::intake_time_limit() { return zp::host().state<IntakeState>().limit; }

int32_t zeb::intake_dropped() {
  const IntakeState& s = zp::host().state<IntakeState>();
  return s.dropped_assigns + s.dropped_params;
}

namespace zeb::env {

Status run_intake(const IntakeCallbacks& callbacks) {
  // Nowait depth 1, so that each read is waited for within the time limit.
  // The queue's file number closes when the intake is over.
  zp::Result<zp::ReceiveQueueHandle> queue = zp::ReceiveQueueHandle::open(1);
  if (!queue.ok()) return queue.status();
  const int16_t result = process_startup(callbacks);
  report_dropped();
  return Status::error(result);
}

Status store_startup(EnvRecord& record, std::span<const char> message) {
  // Only the intake's reads (at most 596 bytes) fit the record; any other
  // length is refused and nothing changes.
  if (message.size() > static_cast<size_t>(zp::kStartupReadCount)) {
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
  if (length > zp::kStartupDefaultsOffset) {
    size_t n = std::min<size_t>(sizeof record.default_names,
                                static_cast<size_t>(length - zp::kStartupDefaultsOffset));
    std::memcpy(record.default_names, message.data() + zp::kStartupDefaultsOffset, n);
  }
  return Status();
}

}  // namespace zeb::env
