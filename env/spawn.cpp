// Process spawning: the parent's side of the start-up conversation.
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/util/helpers.h>
#include "env/environment.h"
#include "platform/ipc/messages.h"
#include "platform/processes/processes.h"
#include "util/helpers_internal.h"

namespace err = zeb::err;
using zeb::present;

namespace {

namespace zp = zeb::platform;

// A stored start-up message: the bytes a child reads whole and the byte
// after them, where the intake stores the NUL behind such a message.
constexpr int kMaxStartup = zp::kStartupReadCount + 1;

// This process's own start-up message, or, when it received none, one with
// its defaults, blank IN and OUT names and an empty parameter text.
void own_startup(const EnvRecord* env, char* source) {
  if (env->startup_len > 0) {
    std::memcpy(source, env->startup_msg, kMaxStartup);
    return;
  }
  std::memset(source, ' ', kMaxStartup);
  zp::put16(source, zp::kStartupCode);
  std::memcpy(source + zp::kStartupDefaultsOffset, env->default_names, 16);
  source[zp::kStartupTextOffset] = '\0';
}

// What a reply of the child means for the conversation. 0 and 70
// ("continue") go on; an error number (above 0) is the child's own error
// and ends it. A reply below 0 is no error number at all: the child does
// not speak this protocol, and the spawn fails with 308 (a bad message)
// rather than hand the raw reply to the caller as if it were an error.
int16_t reply_error(int16_t reply) {
  if (reply < 0) return err::kBadMessage;
  return reply == 70 ? int16_t{0} : reply;
}

// STARTUP^SEQUENCE: the start-up message, then (only when the child asks
// for more with 70) every ASSIGN and every PARAM, then "close". The result
// is 0 when the child took everything, the child's error, 308 for a reply
// that is no error number, or the error that kept a message from its reply
// (40: the child did not answer within the reply limit; 201: it has gone).
int16_t startup_sequence(const EnvRecord* env, zp::ChildChannel& child,
                         const zp::Message& message) {
  // The ASSIGNs, then the PARAMs, in list order.
  std::vector<std::span<const char>> messages;
  auto collect = [&messages](const char* node_message, int16_t node_length) {
    messages.emplace_back(node_message, static_cast<size_t>(node_length));
    return int16_t{0};
  };
  (void)zp::for_each_message(&env->assign_list, collect);
  (void)zp::for_each_message(&env->param_list, collect);
  if (messages.empty()) {
    // Nothing to hand on: "close" follows the start-up message whatever the
    // child answers it, so both go at once and the replies are read after.
    const std::span<const char> only[] = {message};
    return child.send_all(only, reply_error, true).code();
  }
  const int16_t reply = child.send(message).code();
  if (reply != 70) {
    if (int16_t error = reply_error(reply); error != 0) return error;
    return reply_error(child.close().code());
  }
  // Sent ahead of their replies, and "close" behind them (send_all); the
  // first reply that is no "continue" ends the conversation as it would one
  // message at a time.
  return child.send_all(messages, reply_error, true).code();
}

}  // namespace

namespace zeb::env {

Status spawn(EnvRecord& env, const SpawnRequest& request) {
  int16_t processor = request.cpu;
  int16_t prio = request.priority;
  char own[kMaxStartup];
  const char* source = request.startup;
  if (source == nullptr) {
    own_startup(&env, own);
    source = own;
  }
  // The message to write is a copy, so that its padding never lands in the
  // caller's memory; a text with no NUL in time is refused.
  std::optional<zp::Message> built = zp::startup_from_stored(source);
  if (!built) return Status::error(err::kOutOfBounds);
  zp::Message& startup_message = *built;
  // The new process's home terminal is that of every process of this host
  // (hometerm is not passed on), and its processor is the host's choice.

  char program_file[24];
  std::memcpy(program_file, request.program, 24);
  // The monitor's "no" is 310; a monitor that cannot be asked or does not
  // answer in time gives its own error (34, 40, ...), never a refusal.
  if (int16_t allowed = zeb::util::consult_monitor(program_file, &prio, &processor,
                                                   startup_message.data() + zp::kStartupInOffset,
                                                   startup_message.data() + zp::kStartupOutOffset);
      allowed != 0) {
    return Status::error(allowed, "$CMON");
  }

  zp::CreateRequest create;
  create.program = program_file;
  create.priority = prio;
  create.name = request.name;
  zp::Result<zp::Created> created = zp::create_process(create);
  const int16_t word = created.code();
  if (request.pid != nullptr) std::memcpy(request.pid, created->id.data(), 8);
  if (request.word != nullptr) *request.word = word;
  if (static_cast<uint16_t>(word) >= 2) return Status::error(err::kCreationFailed);

  // The conversation runs on the child's private channel, each reply
  // waited for within the reply limit. A child that lets a wait run out is
  // hung: it is ended (its watcher reaps it), so a spawn that fails with 40
  // leaves no process, descriptor or socket behind.
  int16_t result = 0;
  {
    zp::Result<zp::ChildChannel> child = zp::ChildChannel::open(created->pid);
    result =
        child.ok() ? startup_sequence(&env, *child, startup_message) : reply_error(child.code());
  }
  if (result == err::kTimedOut) zp::end_child(created->pid);
  return Status::error(result);
}

}  // namespace zeb::env

int16_t ENV_SPAWN(uint32_t mask, EnvRecord* env, const char* program, const char* name, int16_t cpu,
                  int16_t priority, const char* startup, int16_t* pid, int16_t* error,
                  const char* /*hometerm*/) {
  if (!zeb::mask_fits(mask, 9)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || env == nullptr || program == nullptr) {
    return err::kMissingParameter;
  }
  return zeb::env::spawn(*env, zeb::env::spawn_request(mask, 3, program, name, cpu, priority,
                                                       startup, pid, error))
      .code();
}

zeb::env::SpawnRequest zeb::env::spawn_request(uint32_t mask, int first, const char* program,
                                               const char* name, int16_t cpu, int16_t priority,
                                               const char* startup, int16_t* pid, int16_t* word) {
  SpawnRequest request;
  request.program = program;
  if (present(mask, first)) request.name = name;
  if (present(mask, first + 1)) request.cpu = cpu;
  if (present(mask, first + 2)) request.priority = priority;
  if (present(mask, first + 3)) request.startup = startup;
  if (present(mask, first + 4)) request.pid = pid;
  if (present(mask, first + 5)) request.word = word;
  return request;
}
