// Process spawning: the parent's side of the start-up conversation.
#include <cstring>
#include <optional>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/newprocess.h>
#include <zeb/util/helpers.h>
#include "platform/ipc/messages.h"

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

// Writes one message to the child and gives the error it replied with.
int16_t send(int16_t fnum, const char* message, int16_t length) {
  WRITEX(zeb::mask({1, 2, 3}), fnum, message, length);
  int16_t reply = 0;
  FILE_GETINFO_(zeb::mask({1, 2}), fnum, &reply);
  return reply;
}

// STARTUP^SEQUENCE: the start-up message, then (only when the child asks
// for more with 70) every ASSIGN and every PARAM.
int16_t startup_sequence(const EnvRecord* env, int16_t fnum, const char* message, int16_t length) {
  int16_t reply = send(fnum, message, length);
  if (reply != 70) return reply;
  auto write_node = [fnum](const char* node_message, int16_t node_length) {
    return send(fnum, node_message, node_length);
  };
  if (int16_t error = zp::for_each_message(&env->assign_list, write_node); error != 0) return error;
  return zp::for_each_message(&env->param_list, write_node);
}

}  // namespace

int16_t ENV_SPAWN(uint32_t mask, EnvRecord* env, const char* program, const char* name, int16_t cpu,
                  int16_t priority, const char* startup, int16_t* pid, int16_t* error,
                  const char* hometerm) {
  if (!zeb::mask_fits(mask, 9)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || env == nullptr || program == nullptr) {
    return err::kMissingParameter;
  }
  const bool named = present(mask, 3) && name != nullptr;
  int16_t processor = present(mask, 4) ? cpu : -1;
  int16_t prio = present(mask, 5) ? priority : -1;
  char own[kMaxStartup];
  const char* source = startup;
  if (!present(mask, 6) || startup == nullptr) {
    own_startup(env, own);
    source = own;
  }
  // The message to write is a copy, so that its padding never lands in the
  // caller's memory; a text with no NUL in time is refused.
  std::optional<zp::Message> built = zp::startup_from_stored(source);
  if (!built) return err::kOutOfBounds;
  zp::Message& startup_message = *built;
  char terminal[24];
  if (present(mask, 9) && hometerm != nullptr) {
    std::memcpy(terminal, hometerm, 24);
  } else {
    MYTERM(terminal);
  }

  char program_file[24];
  std::memcpy(program_file, program, 24);
  if (UTIL_CMON(program_file, &prio, &processor, startup_message.data() + zp::kStartupInOffset,
                startup_message.data() + zp::kStartupOutOffset) == zeb::kFalse) {
    return err::kMonitorRefused;
  }

  int16_t id[4] = {0, 0, 0, 0};
  int16_t word = 0;
  if (named) {
    NEWPROCESS(zeb::mask({1, 2, 4, 5, 6, 7, 8}), program_file, prio, 0, processor, id, &word, name,
               terminal);
  } else {
    NEWPROCESS(zeb::mask({1, 2, 4, 5, 6, 8}), program_file, prio, 0, processor, id, &word, nullptr,
               terminal);
  }
  if (present(mask, 7) && pid != nullptr) std::memcpy(pid, id, sizeof id);
  if (present(mask, 8) && error != nullptr) *error = word;
  if (static_cast<uint16_t>(word) >= 2) return err::kCreationFailed;

  // The new process by name: the first 6 bytes of its identifier when it is
  // named, all 8 otherwise, then blanks.
  char process_name[24];
  std::memset(process_name, ' ', sizeof process_name);
  std::memcpy(process_name, id, named ? 6 : 8);
  int16_t fnum = zeb::kNotOpen;
  OPEN(zeb::mask({1, 2}), process_name, &fnum);
  int16_t open_error = 0;
  FILE_GETINFO_(zeb::mask({1, 2}), -1, &open_error);
  if (open_error != 0) return open_error;

  int16_t result = startup_sequence(env, fnum, startup_message.data(),
                                    static_cast<int16_t>(startup_message.size()));
  FILE_CLOSE_(zeb::mask({1}), fnum);
  return result;
}
