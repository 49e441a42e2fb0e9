// The ASSIGN and PARAM store: two singly linked lists of pool buffers hanging
// off the environment record, newest node first.
//
// A link is a signed 32-bit offset from the link word to the node it leads
// to (a node begins with its link word); a head leads to itself when the list
// is empty, and a walk ends when a link leads back to the head. Every node
// holds a complete message, so that the whole store can be handed on to a
// child process unchanged.
#include <cstring>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include "env/store.h"
#include "platform/ipc/messages.h"

namespace err = zeb::err;

namespace zeb::env {

char* follow(const int32_t* link) {
  int32_t offset = 0;
  std::memcpy(&offset, link, sizeof offset);
  return const_cast<char*>(reinterpret_cast<const char*>(link)) + offset;
}

void set_link(int32_t* link, const void* target) {
  int32_t offset =
      static_cast<int32_t>(static_cast<const char*>(target) - reinterpret_cast<const char*>(link));
  std::memcpy(link, &offset, sizeof offset);
}

int16_t node_length(const char* node) {
  int16_t length = 0;
  std::memcpy(&length, node + zeb::platform::kNodeLengthOffset, sizeof length);
  return length;
}

// Pushes node at the head of the list.
void push(int32_t* head, char* node) {
  auto* link = reinterpret_cast<int32_t*>(node);
  set_link(link, follow(head));
  set_link(head, node);
}

}  // namespace zeb::env

namespace {

using zeb::env::follow;

uint16_t be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool all_blank(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != ' ') return false;
  return true;
}

}  // namespace

int16_t ENV_ASSIGNPROC_(void* user_data, const void* message, int16_t length) {
  auto* env = static_cast<EnvRecord*>(user_data);
  if (env == nullptr || message == nullptr) return err::kMissingParameter;
  if (length < zeb::platform::kAssignMinLength) return err::kBadMessage;
  void* buffer = nullptr;
  int16_t error =
      MEM_ALLOC(zeb::env_pool(env), &buffer, length + zeb::platform::kNodeMessageOffset);
  if (error != err::kOk) return error;
  char* node = static_cast<char*>(buffer);
  std::memcpy(node + zeb::platform::kNodeLengthOffset, &length, sizeof length);
  char* msg = node + zeb::platform::kNodeMessageOffset;
  std::memcpy(msg, message, static_cast<size_t>(length));
  // A blank volume comes from the start-up message's defaults; a blank
  // subvolume only when a file is named.
  char* volume = msg + zeb::platform::kAssignFileOffset;
  if (all_blank(volume, 8))
    std::memcpy(volume, env->startup_msg + zeb::platform::kStartupDefaultsOffset, 8);
  if (all_blank(volume + 8, 8) && !all_blank(volume + 16, 8)) {
    std::memcpy(volume + 8, env->startup_msg + zeb::platform::kStartupDefaultsOffset + 8, 8);
  }
  zeb::env::push(&env->assign_list, node);
  return err::kOk;
}

int16_t ENV_PARAMPROC_(void* user_data, const void* message, int16_t length) {
  auto* env = static_cast<EnvRecord*>(user_data);
  if (env == nullptr || message == nullptr) return err::kMissingParameter;
  const auto* msg = static_cast<const unsigned char*>(message);
  if (length < zeb::platform::kParamFirstOffset) return err::kBadMessage;
  auto count = static_cast<int16_t>(be16(msg + zeb::platform::kParamCountOffset));
  // The whole message is checked before anything is stored: a parameter that
  // runs past the received bytes refuses the message.
  int at = zeb::platform::kParamFirstOffset;
  for (int i = 0; i < count; ++i) {
    if (at + 1 > length) return err::kBadMessage;
    at += 1 + msg[at];
    if (at + 1 > length) return err::kBadMessage;
    at += 1 + msg[at];
    if (at > length) return err::kBadMessage;
  }
  at = zeb::platform::kParamFirstOffset;
  for (int i = 0; i < count; ++i) {
    const unsigned char* name = msg + at;
    const unsigned char* value = name + 1 + name[0];
    int16_t error = ENV_ADDPARAM(env, reinterpret_cast<const char*>(name + 1), name[0],
                                 reinterpret_cast<const char*>(value + 1), value[0]);
    if (error != err::kOk) return error;
    at += 2 + name[0] + value[0];
  }
  return err::kOk;
}

int16_t ENV_ADDPARAM(EnvRecord* env, const char* name, int16_t name_length, const char* value,
                     int16_t value_length) {
  if (env == nullptr) return err::kMissingParameter;
  if (name_length < 0 || name_length > 255 || value_length < 0 || value_length > 255) {
    return err::kOutOfBounds;
  }
  if ((name == nullptr && name_length > 0) || (value == nullptr && value_length > 0)) {
    return err::kMissingParameter;
  }
  void* buffer = nullptr;
  int16_t error = MEM_ALLOC(zeb::env_pool(env), &buffer, name_length + value_length + 12);
  if (error != err::kOk) return error;
  auto* node = static_cast<char*>(buffer);
  auto* msg = reinterpret_cast<unsigned char*>(node + zeb::platform::kNodeMessageOffset);
  auto length = static_cast<int16_t>(name_length + value_length + 6);
  std::memcpy(node + zeb::platform::kNodeLengthOffset, &length, sizeof length);
  msg[0] = 0xFF;  // code -3, big-endian
  msg[1] = 0xFD;
  msg[2] = 0x00;  // count 1
  msg[3] = 0x01;
  msg[4] = static_cast<unsigned char>(name_length);
  UTIL_UPSHIFT(name, msg + 5, name_length);
  msg[5 + name_length] = static_cast<unsigned char>(value_length);
  UTIL_UPSHIFT(value, msg + 6 + name_length, value_length);

  // Every older parameter of the same name goes.
  void* pool = zeb::env_pool(env);
  auto* head = &env->param_list;
  int32_t* link = head;
  for (char* old = follow(link); old != reinterpret_cast<char*>(head); old = follow(link)) {
    const char* old_name = old + zeb::platform::kNodeMessageOffset + 4;
    if (old_name[0] == static_cast<char>(msg[4]) &&
        std::memcmp(old_name + 1, msg + 5, static_cast<size_t>(name_length)) == 0) {
      zeb::env::set_link(link, follow(reinterpret_cast<int32_t*>(old)));
      MEM_FREE(pool, old);
    } else {
      link = reinterpret_cast<int32_t*>(old);
    }
  }
  zeb::env::push(head, node);
  return err::kOk;
}
