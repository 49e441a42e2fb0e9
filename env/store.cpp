// The ASSIGN and PARAM store: two singly linked lists of pool buffers hanging
// off the environment record, newest node first.
//
// A link is a signed 32-bit offset from the link word to the node it leads
// to (a node begins with its link word); a head leads to itself when the list
// is empty, and a walk ends when a link leads back to the head. Every node
// holds a complete message, so that the whole store can be handed on to a
// child process unchanged.
//
// Look-ups by name go through an index beside each list, a hash map from a
// name to its newest node, kept by the host per list head. The lists stay
// exactly as they are. The store changes them only here, and keeps the index
// up to date as it does; a list changed behind its back (a record emptied by
// start-up, or one made anew at the same address) no longer starts at the
// node the index noted last, and the index is built again from the list.
#include <cstring>
#include <string>
#include <unordered_map>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include "env/environment.h"
#include "env/store.h"
#include "platform/host/host.h"
#include "platform/ipc/messages.h"

namespace err = zeb::err;

namespace zeb::env {
// The layouts of the stored messages and of the list nodes that hold them.
using platform::kAssignFileOffset;
using platform::kAssignMinLength;
using platform::kAssignNameLengthOffset;
using platform::kNodeLengthOffset;
using platform::kNodeMessageOffset;
using platform::kParamCountOffset;
using platform::kParamFirstOffset;
using platform::kStartupDefaultsOffset;
}  // namespace zeb::env

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

namespace {

// The name a node holds at name_offset of its message; false when the
// message is too short to hold it (such a node is never found by name).
bool node_name(const char* node, int name_offset, std::string_view* name) {
  const int16_t length = node_length(node);
  if (name_offset + 1 > length) return false;
  const char* at = node + kNodeMessageOffset + name_offset;
  const int n = static_cast<unsigned char>(at[0]);
  if (name_offset + 1 + n > length) return false;
  *name = std::string_view(at + 1, static_cast<size_t>(n));
  return true;
}

// The index of one list: the node it started at when the index was last
// brought up to date, and the newest node of each name.
struct ListIndex {
  const char* first = nullptr;
  int name_offset = -1;
  std::unordered_map<std::string, const char*> newest;
};

// The indexes of the process's lists, by the address of the list head.
class StoreIndex {
 public:
  // The index of the list at head, built again when the list no longer
  // starts where the index noted.
  ListIndex& of(const int32_t* head, int name_offset) {
    ListIndex& index = lists_[head];
    const char* first = follow(head);
    if (index.first != first || index.name_offset != name_offset) {
      index.newest.clear();
      index.name_offset = name_offset;
      index.first = first;
      for (const char* node = first; node != reinterpret_cast<const char*>(head);
           node = follow(reinterpret_cast<const int32_t*>(node))) {
        std::string_view name;
        if (node_name(node, name_offset, &name)) index.newest.try_emplace(std::string(name), node);
      }
    }
    return index;
  }

 private:
  std::unordered_map<const int32_t*, ListIndex> lists_;
};

ListIndex& index_of(const int32_t* head, int name_offset) {
  return platform::host().state<StoreIndex>().of(head, name_offset);
}

// Pushes node at the head of the list and notes it as the newest of its name.
void push_indexed(int32_t* head, char* node, int name_offset) {
  ListIndex& index = index_of(head, name_offset);
  push(head, node);
  index.first = node;
  std::string_view name;
  if (node_name(node, name_offset, &name)) index.newest.insert_or_assign(std::string(name), node);
}

}  // namespace

const char* find_node(const int32_t* head, std::string_view name, int name_offset) {
  ListIndex& index = index_of(head, name_offset);
  auto it = index.newest.find(std::string(name));
  return it == index.newest.end() ? nullptr : it->second;
}

}  // namespace zeb::env

namespace zeb::env {
namespace {

uint16_t be16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool all_blank(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != ' ') return false;
  return true;
}

}  // namespace
}  // namespace zeb::env

namespace zeb::env {

Status store_assign(EnvRecord& env, std::span<const char> message) {
  if (message.size() < static_cast<size_t>(kAssignMinLength))
    return Status::error(err::kBadMessage);
  const auto length = static_cast<int16_t>(message.size());
  void* buffer = nullptr;
  int16_t error = MEM_ALLOC(env_pool(&env), &buffer, length + kNodeMessageOffset);
  if (error != err::kOk) return Status::error(error, "ASSIGN store");
  char* node = static_cast<char*>(buffer);
  std::memcpy(node + kNodeLengthOffset, &length, sizeof length);
  char* msg = node + kNodeMessageOffset;
  std::memcpy(msg, message.data(), message.size());
  // A blank volume comes from the start-up message's defaults; a blank
  // subvolume only when a file is named.
  char* volume = msg + kAssignFileOffset;
  if (all_blank(volume, 8)) std::memcpy(volume, env.startup_msg + kStartupDefaultsOffset, 8);
  if (all_blank(volume + 8, 8) && !all_blank(volume + 16, 8)) {
    std::memcpy(volume + 8, env.startup_msg + kStartupDefaultsOffset + 8, 8);
  }
  push_indexed(&env.assign_list, node, kAssignNameLengthOffset);
  return Status();
}

Status store_params(EnvRecord& env, std::span<const unsigned char> message) {
  const unsigned char* msg = message.data();
  const auto length = static_cast<int>(message.size());
  if (length < kParamFirstOffset) return Status::error(err::kBadMessage);
  auto count = static_cast<int16_t>(be16(msg + kParamCountOffset));
  // The whole message is checked before anything is stored: a parameter that
  // runs past the received bytes refuses the message.
  int at = kParamFirstOffset;
  for (int i = 0; i < count; ++i) {
    if (at + 1 > length) return Status::error(err::kBadMessage);
    at += 1 + msg[at];
    if (at + 1 > length) return Status::error(err::kBadMessage);
    at += 1 + msg[at];
    if (at > length) return Status::error(err::kBadMessage);
  }
  at = kParamFirstOffset;
  for (int i = 0; i < count; ++i) {
    const unsigned char* name = msg + at;
    const unsigned char* value = name + 1 + name[0];
    Status status = add_param(env, {reinterpret_cast<const char*>(name + 1), name[0]},
                              {reinterpret_cast<const char*>(value + 1), value[0]});
    if (!status.ok()) return status;
    at += 2 + name[0] + value[0];
  }
  return Status();
}

Status add_param(EnvRecord& env, std::string_view name, std::string_view value) {
  if (name.size() > 255 || value.size() > 255) return Status::error(err::kOutOfBounds);
  const auto name_length = static_cast<int16_t>(name.size());
  const auto value_length = static_cast<int16_t>(value.size());
  void* buffer = nullptr;
  int16_t error = MEM_ALLOC(env_pool(&env), &buffer, name_length + value_length + 12);
  if (error != err::kOk) return Status::error(error, "PARAM store");
  auto* node = static_cast<char*>(buffer);
  auto* msg = reinterpret_cast<unsigned char*>(node + kNodeMessageOffset);
  auto length = static_cast<int16_t>(name_length + value_length + 6);
  std::memcpy(node + kNodeLengthOffset, &length, sizeof length);
  msg[0] = 0xFF;  // code -3, big-endian
  msg[1] = 0xFD;
  msg[2] = 0x00;  // count 1
  msg[3] = 0x01;
  msg[4] = static_cast<unsigned char>(name_length);
  UTIL_UPSHIFT(name.data(), msg + 5, name_length);
  msg[5 + name_length] = static_cast<unsigned char>(value_length);
  UTIL_UPSHIFT(value.data(), msg + 6 + name_length, value_length);

  // Every older parameter of the same name goes; the index notes the new
  // node as the newest of its name once it is pushed.
  void* pool = env_pool(&env);
  auto* head = &env.param_list;
  ListIndex& index = index_of(head, kParamFirstOffset);
  int32_t* link = head;
  for (char* old = follow(link); old != reinterpret_cast<char*>(head); old = follow(link)) {
    const char* old_name = old + kNodeMessageOffset + 4;
    if (old_name[0] == static_cast<char>(msg[4]) &&
        std::memcmp(old_name + 1, msg + 5, static_cast<size_t>(name_length)) == 0) {
      set_link(link, follow(reinterpret_cast<int32_t*>(old)));
      // The node came from this pool and is unlinked: giving it back cannot
      // fail in a way the store could act on.
      MEM_FREE(pool, old);
    } else {
      link = reinterpret_cast<int32_t*>(old);
    }
  }
  // Only older nodes went, so the list still starts where the index noted
  // unless its first node was one of them.
  index.first = follow(head);
  push_indexed(head, node, kParamFirstOffset);
  return Status();
}

}  // namespace zeb::env
