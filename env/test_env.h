// Test helpers: an environment record in a pool of its own, as ENV_STARTUP
// leaves it, and the start-up, ASSIGN and PARAM messages a parent sends.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include "platform/ipc/messages.h"

namespace zeb::test {

inline std::string pad(const std::string& s, size_t n) {
  std::string r = s.substr(0, n);
  r.resize(n, ' ');
  return r;
}

class TestEnv {
 public:
  explicit TestEnv(int32_t pool_size = 1 << 16, uint16_t flags = 0x0001)
      : area_(static_cast<size_t>(pool_size)) {
    MEM_DEFINEPOOL(area_.data(), pool_size);
    void* buffer = nullptr;
    MEM_ALLOC(area_.data(), &buffer, sizeof(EnvRecord));
    env_ = static_cast<EnvRecord*>(buffer);
    std::memset(env_, ' ', sizeof *env_);
    env_->start_time = 0;
    env_set_pool(env_, area_.data());
    env_->flags = flags;
    env_->in_fnum = env_->out_fnum = env_->term_fnum = -2;
    env_->param_list = env_->assign_list = kEmptyList;
    env_->startup_len = 0;
  }
  EnvRecord* get() { return env_; }
  EnvRecord* operator->() { return env_; }
  void* pool() { return area_.data(); }

  // Stores a start-up message as the intake would.
  void startup(const std::string& message) {
    env_->startup_len = static_cast<int16_t>(message.size());
    std::memcpy(env_->startup_msg, message.data(), message.size());
    env_->startup_msg[message.size()] = '\0';
    std::memcpy(env_->default_names, message.data() + zeb::platform::kStartupDefaultsOffset, 16);
  }

  // Pushes a node holding message at the head of the list at head, as the
  // store does: links are relative to their own word; an empty list leads
  // to its head. False when the pool has no room.
  bool push(int32_t* head, const std::string& message) {
    namespace zp = zeb::platform;
    void* buffer = nullptr;
    const auto size = static_cast<int32_t>(zp::kNodeMessageOffset + message.size());
    if (MEM_ALLOC(area_.data(), &buffer, size) != 0) return false;
    char* node = static_cast<char*>(buffer);
    char* first = reinterpret_cast<char*>(head) + *head;
    int32_t link = static_cast<int32_t>(first - node);
    int16_t length = static_cast<int16_t>(message.size());
    std::memcpy(node, &link, sizeof link);
    std::memcpy(node + zp::kNodeLengthOffset, &length, sizeof length);
    std::memcpy(node + zp::kNodeMessageOffset, message.data(), message.size());
    *head = static_cast<int32_t>(node - reinterpret_cast<char*>(head));
    return true;
  }
  // A PARAM of one pair, from the codec, on the PARAM list.
  bool param(const std::string& name, const std::string& value) {
    zeb::platform::Message m = zeb::platform::param_message({{name, value}});
    return push(&env_->param_list, std::string(m.begin(), m.end()));
  }
  // An ASSIGN of logical to volume.subvol.file, from the codec, on the
  // ASSIGN list.
  bool assign(const std::string& logical, const std::string& volume, const std::string& subvol,
              const std::string& file) {
    const std::string physical = pad(volume, 8) + pad(subvol, 8) + pad(file, 8);
    zeb::platform::Message m = zeb::platform::assign_message(logical, physical.c_str());
    return push(&env_->assign_list, std::string(m.begin(), m.end()));
  }

 private:
  std::vector<char> area_;
  EnvRecord* env_ = nullptr;
};

// The byte images a parent sends, built with the codec's layout. The
// images stop where a test needs them to (no NUL after the start-up text,
// an ASSIGN through its physical name only) and a PARAM count can be made
// to disagree with the pairs.
inline std::string code_bytes(int16_t code) {
  char bytes[2];
  zeb::platform::put16(bytes, code);
  return std::string(bytes, 2);
}

// A start-up message: code, defaults, IN and OUT (internal form), text.
inline std::string startup_message(const std::string& volume, const std::string& subvol,
                                   const std::string& in, const std::string& out,
                                   const std::string& text) {
  return code_bytes(zeb::platform::kStartupCode) + pad(volume, 8) + pad(subvol, 8) + pad(in, 24) +
         pad(out, 24) + text;
}

// An ASSIGN message: code, the logical name, the physical name (volume,
// subvolume, file), through the physical name only.
inline std::string assign_message(const std::string& logical, const std::string& volume,
                                  const std::string& subvol, const std::string& file) {
  namespace zp = zeb::platform;
  std::string m(zp::kAssignMinLength, '\0');
  zp::put16(m.data(), zp::kAssignCode);
  m[zp::kAssignNameLengthOffset] = static_cast<char>(logical.size());
  std::memcpy(&m[zp::kAssignNameOffset], logical.data(), logical.size());
  std::string physical = pad(volume, 8) + pad(subvol, 8) + pad(file, 8);
  std::memcpy(&m[zp::kAssignFileOffset], physical.data(), 24);
  return m;
}

constexpr int kCountOfParams = 1 << 20;

// A PARAM message: code, the count (the number of pairs unless given),
// then name/value pairs.
inline std::string param_message(const std::vector<std::pair<std::string, std::string>>& params,
                                 int count = kCountOfParams) {
  namespace zp = zeb::platform;
  if (count == kCountOfParams) count = static_cast<int>(params.size());
  std::string m = code_bytes(zp::kParamCode) + std::string(2, '\0');
  zp::put16(m.data() + zp::kParamCountOffset, static_cast<int16_t>(count));
  for (const auto& [name, value] : params) {
    m.push_back(static_cast<char>(name.size()));
    m += name;
    m.push_back(static_cast<char>(value.size()));
    m += value;
  }
  return m;
}

}  // namespace zeb::test
