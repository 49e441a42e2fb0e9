// The codec of the messages between processes (see messages.h).
#include "platform/ipc/messages.h"

#include <algorithm>
#include <cstring>

namespace zeb::platform {
namespace {

void append16(Message* m, int16_t value) {
  m->push_back(static_cast<char>((static_cast<uint16_t>(value) >> 8) & 0xFF));
  m->push_back(static_cast<char>(static_cast<uint16_t>(value) & 0xFF));
}

// Grows the message and copies into the new room (an insert of a range here
// draws a false bounds warning from GCC 12 at -O3).
void append_bytes(Message* m, const char* data, size_t length) {
  const size_t at = m->size();
  m->resize(at + length);
  if (length != 0) std::memcpy(m->data() + at, data, length);
}

std::string_view view(std::span<const char> message, size_t at, size_t length) {
  return std::string_view(message.data() + at, length);
}

}  // namespace

int16_t get16(const char* p) {
  return static_cast<int16_t>((static_cast<unsigned char>(p[0]) << 8) |
                              static_cast<unsigned char>(p[1]));
}

void put16(char* p, int16_t value) {
  p[0] = static_cast<char>((static_cast<uint16_t>(value) >> 8) & 0xFF);
  p[1] = static_cast<char>(static_cast<uint16_t>(value) & 0xFF);
}

int16_t message_code(std::span<const char> message) {
  return message.size() < 2 ? int16_t{0} : get16(message.data());
}

Message open_message() {
  Message m;
  append16(&m, kOpenCode);
  for (int i = 0; i < 5; ++i) append16(&m, 0);    // access, exclusion, nowait, sync depth, options
  for (int i = 0; i < 10; ++i) append16(&m, -1);  // no primary opener
  return m;
}

Message close_message() {
  Message m;
  append16(&m, kCloseCode);
  append16(&m, 0);
  return m;
}

Message startup_message(const char* defaults, const char* in_name, const char* out_name,
                        std::string_view text) {
  Message m;
  append16(&m, kStartupCode);
  append_bytes(&m, defaults, 16);
  append_bytes(&m, in_name, 24);
  append_bytes(&m, out_name, 24);
  append_bytes(&m, text.data(), text.size());
  m.push_back('\0');
  if (m.size() % 2 != 0) m.push_back('\0');
  return m;
}

Message assign_message(std::string_view logical_name, const char* physical_name) {
  Message m;
  append16(&m, kAssignCode);
  m.push_back(0);  // program part of the logical unit: none
  m.insert(m.end(), kAssignMaxName, ' ');
  const size_t n = std::min<size_t>(logical_name.size(), kAssignMaxName);
  m.push_back(static_cast<char>(n));
  append_bytes(&m, logical_name.data(), n);
  m.insert(m.end(), kAssignMaxName - n, ' ');
  append16(&m, static_cast<int16_t>(0x8000));  // field mask: the physical name is given
  append16(&m, 0);
  append_bytes(&m, physical_name, 24);
  for (int i = 0; i < 7; ++i) append16(&m, 0);  // extents, file code, exclusion, access, sizes
  return m;
}

Message param_message(const std::vector<std::pair<std::string, std::string>>& params) {
  Message m;
  append16(&m, kParamCode);
  append16(&m, static_cast<int16_t>(params.size()));
  for (const auto& [name, value] : params) {
    size_t n = std::min(name.size(), kMaxParamPart), v = std::min(value.size(), kMaxParamPart);
    m.push_back(static_cast<char>(n));
    append_bytes(&m, name.data(), n);
    m.push_back(static_cast<char>(v));
    append_bytes(&m, value.data(), v);
  }
  return m;
}

std::optional<StartupView> decode_startup(std::span<const char> message) {
  if (message.size() < static_cast<size_t>(kStartupTextOffset) ||
      message_code(message) != kStartupCode) {
    return std::nullopt;
  }
  StartupView v;
  v.defaults = view(message, kStartupDefaultsOffset, 16);
  v.in_name = view(message, kStartupInOffset, 24);
  v.out_name = view(message, kStartupOutOffset, 24);
  std::string_view rest = view(message, kStartupTextOffset, message.size() - kStartupTextOffset);
  v.text = rest.substr(0, rest.find('\0'));
  return v;
}

std::optional<AssignView> decode_assign(std::span<const char> message) {
  if (message.size() < static_cast<size_t>(kAssignMinLength) ||
      message_code(message) != kAssignCode) {
    return std::nullopt;
  }
  const size_t n = std::min<size_t>(static_cast<unsigned char>(message[kAssignNameLengthOffset]),
                                    kAssignMaxName);
  return AssignView{view(message, kAssignNameOffset, n), view(message, kAssignFileOffset, 24)};
}

std::optional<std::vector<std::pair<std::string_view, std::string_view>>> decode_param(
    std::span<const char> message) {
  if (message.size() < static_cast<size_t>(kParamFirstOffset) ||
      message_code(message) != kParamCode) {
    return std::nullopt;
  }
  const int count = get16(message.data() + kParamCountOffset);
  if (count < 0) return std::nullopt;
  std::vector<std::pair<std::string_view, std::string_view>> params;
  size_t at = kParamFirstOffset;
  // Each part is a length byte and that many bytes; both must lie inside.
  auto part = [&](std::string_view* out) {
    if (at >= message.size()) return false;
    const size_t n = static_cast<unsigned char>(message[at]);
    if (at + 1 + n > message.size()) return false;
    *out = view(message, at + 1, n);
    at += 1 + n;
    return true;
  };
  for (int i = 0; i < count; ++i) {
    std::string_view name, value;
    if (!part(&name) || !part(&value)) return std::nullopt;
    params.emplace_back(name, value);
  }
  return params;
}

std::optional<Message> startup_from_stored(const char* source) {
  // The NUL is looked for up to the byte after the longest message a child
  // reads whole, where the intake stores it behind such a message.
  constexpr int kStored = kStartupReadCount + 1;
  const void* nul = std::memchr(source + kStartupTextOffset, '\0', kStored - kStartupTextOffset);
  if (nul == nullptr) return std::nullopt;
  const size_t n = static_cast<size_t>(static_cast<const char*>(nul) - source + 1);
  Message m(source, source + n);
  if (m.size() % 2 != 0) m.push_back('\0');
  return m;
}

void encode_cmon_request(const CmonRequest& r, char* buffer) {
  std::memset(buffer, ' ', kCmonRequestLength);
  put16(buffer, kCmonRequestCode);
  put16(buffer + 2, r.access_id);
  put16(buffer + 4, r.own_priority);
  std::memcpy(buffer + 6, r.name_a, 24);
  std::memcpy(buffer + 30, r.name_b, 24);
  std::memcpy(buffer + 54, r.program, 24);
  put16(buffer + 78, r.priority);
  put16(buffer + 80, r.processor);
  std::memcpy(buffer + 82, r.name_a, 24);
  std::memcpy(buffer + 106, r.name_b, 24);
}

CmonReply decode_cmon_reply(std::span<const char> reply) {
  CmonReply r;
  // A reply too short to say yes says no.
  if (reply.size() < 2 || get16(reply.data()) != 0) return r;
  r.allowed = true;
  if (reply.size() >= 26) r.program = view(reply, 2, 24);
  if (reply.size() >= 28) r.priority = get16(reply.data() + 26);
  if (reply.size() >= 30) r.processor = get16(reply.data() + 28);
  return r;
}

}  // namespace zeb::platform
