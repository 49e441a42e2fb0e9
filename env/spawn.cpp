// Process spawning: the parent's side of the start-up conversation.
#include <array>
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

// What the child's answers mean. 0 and 70 ("continue") go on; an error
// number (above 0) is the child's own error and the spawn's result. A reply
// below 0 is no error number at all: the child does not speak this
// protocol, and the spawn fails with 308 (a bad message) rather than hand
// the raw reply to the caller as if it were one. "open" is answered with 0
// alone: 70 answers the start-up message, and a child that gives it to
// "open" would have the spawn succeed with nothing sent, so it is no
// protocol answer either (308).
bool goes_on(int16_t reply) { return reply == 0 || reply == 70; }
int16_t refusal(int16_t reply) { return reply > 0 && reply != 70 ? reply : err::kBadMessage; }

// STARTUP^SEQUENCE after "open": the start-up message, then (only when the
// child asks for more with 70) every ASSIGN and every PARAM, then "close".
// The result is 0 when the child took everything, else why the spawn
// failed: the child's error, 308 for a reply that is no error number, or
// the error that kept a message from its reply (40: the child did not
// answer before the spawn's deadline; 201: it has gone).
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
  auto failed = [](const zp::Result<zp::ChildReply>& answer) -> int16_t {
    if (!answer.ok()) return answer.code();
    return goes_on(answer.value().error) ? int16_t{0} : refusal(answer.value().error);
  };
  if (messages.empty()) {
    // Nothing to hand on: "close" follows the start-up message whatever the
    // child answers it, so both go at once and the replies are read after.
    const std::span<const char> only[] = {message};
    return failed(child.send_all(only, goes_on, true));
  }
  const zp::Result<zp::ChildReply> answer = child.send(message);
  if (!answer.ok()) return answer.code();
  if (answer.value().error != 70) {
    if (answer.value().error != 0) return refusal(answer.value().error);
    return failed(child.close());
  }
  // Sent ahead of their replies, and "close" behind them; the first reply
  // that does not go on ends the conversation.
  return failed(child.send_all(messages, goes_on, true));
}

// The conversation with a child just made, within the spawn's deadline.
int16_t converse(const EnvRecord* env, long pid, const zp::Message& startup,
                 zp::Deadline deadline) {
  zp::Result<zp::ChildChannel> child = zp::ChildChannel::connect(pid, deadline);
  if (!child.ok()) return child.code();
  const zp::Result<zp::ChildReply> opened = child->open();
  if (!opened.ok()) return opened.code();
  if (opened.value().error != 0) return refusal(opened.value().error);
  return startup_sequence(env, *child, startup);
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

  // One deadline for the whole spawn, the monitor's consent included: a
  // monitor or a child that answers each step just in time cannot stretch
  // it beyond the reply limit.
  const zp::Deadline deadline = zp::Deadline::reply_limit();
  char program_file[24];
  std::memcpy(program_file, request.program, 24);
  // The monitor's "no" is 310; a monitor that cannot be asked or does not
  // answer in time gives its own error (34, 40, ...), never a refusal.
  if (Status allowed = zeb::util::consult_monitor(
          program_file, &prio, &processor, startup_message.data() + zp::kStartupInOffset,
          startup_message.data() + zp::kStartupOutOffset, deadline);
      !allowed.ok()) {
    return allowed;
  }
  // A monitor that took the whole deadline (it let "close" run out) leaves
  // none for the child: nothing is made that would only be ended again.
  if (deadline.remaining_ms() == 0) return Status::error(err::kTimedOut, "$CMON took the deadline");

  zp::CreateRequest create;
  create.program = program_file;
  create.priority = prio;
  create.name = request.name;
  zp::Result<zp::Created> created = zp::create_process(create);
  // No channel could be made for the child: this process's own file-system
  // error (34 out of descriptors), before any process was asked for, as
  // when the monitor's look-ups fail; no creation error word.
  if (!created.ok() && created.code() < 0x200) return created.status();
  const int16_t word = created.code();
  // A creation that failed made no process: its identifier is all zeros.
  const std::array<int16_t, 4> id = created.ok() ? created->id : std::array<int16_t, 4>{};
  if (request.pid != nullptr) std::memcpy(request.pid, id.data(), 8);
  if (request.word != nullptr) *request.word = word;
  if (static_cast<uint16_t>(word) >= 2) return Status::error(err::kCreationFailed);

  // The conversation runs on the child's private channel. Whatever makes
  // the spawn fail once the child exists (its refusal, a reply that is no
  // error number, a broken channel, the deadline) ends the child, and it is
  // reaped before the error is returned: a failed spawn leaves no process,
  // descriptor or socket behind. A child that refused does not get "close"
  // first: its refusal is the spawn's result, and nothing it could answer
  // would change that.
  const int16_t result = converse(&env, created->pid, startup_message, deadline);
  if (result != 0) zp::end_child(created->pid);
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
