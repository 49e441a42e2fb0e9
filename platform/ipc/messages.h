// The codec of the messages that cross between processes: the start-up
// conversation ("open", the start-up message, ASSIGN, PARAM, "close") and
// the process-creation monitor's request and reply. Every layout constant
// of those messages is defined here and nowhere else; the parent's side,
// the child's side and the tests all build and read the bytes through these
// functions.
//
// Every message is big-endian, byte for byte as it travels on the channels
// (framing in platform/README.md). Internal to the library: usable by the
// layers above the platform, never installed.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeb::platform {

using Message = std::vector<char>;

// Message codes.
constexpr int16_t kStartupCode = -1;
constexpr int16_t kAssignCode = -2;
constexpr int16_t kParamCode = -3;
constexpr int16_t kOpenCode = -103;
constexpr int16_t kCloseCode = -104;
// The older "open" and "close" system messages, still accepted.
constexpr int16_t kOldOpenCode = -30;
constexpr int16_t kOldCloseCode = -31;
constexpr int16_t kCmonRequestCode = -52;

// The start-up message: code, default volume and subvolume (8 bytes each),
// the IN and OUT files in internal form (24 bytes each), the parameter text
// ending in a NUL byte, and one more NUL when that makes the length odd.
constexpr int kStartupDefaultsOffset = 2;
constexpr int kStartupInOffset = 18;
constexpr int kStartupOutOffset = 42;
constexpr int kStartupTextOffset = 66;
// The largest message a start-up read takes, and the longest parameter text
// that fits in it with the NUL byte after it.
constexpr int kStartupReadCount = 596;
constexpr int kMaxParamText = kStartupReadCount - kStartupTextOffset - 1;

// The ASSIGN message (108 bytes as sent): code; the logical unit (program
// part: length byte at 2 and 31 characters; file part: length byte at 34
// and 31 characters, blank padded); the 32-bit field mask at 66 (0x80000000:
// the physical name is given); the physical name in internal form at 70;
// then extents, file code, exclusion, access, record and block size. A
// reader needs only the bytes through the physical name.
constexpr int kAssignNameLengthOffset = 34;
constexpr int kAssignNameOffset = 35;
constexpr int kAssignMaxName = 31;
constexpr int kAssignFieldMaskOffset = 66;
constexpr int kAssignFileOffset = 70;
constexpr int kAssignMinLength = 94;
constexpr int kAssignLength = 108;

// The PARAM message: code, the count, then each parameter as name length
// byte, name, value length byte, value.
constexpr int kParamCountOffset = 2;
constexpr int kParamFirstOffset = 4;
constexpr size_t kMaxParamPart = 255;

// The "open" system message (code, access, exclusion, nowait depth, sync
// depth, options, all 0, and a null primary handle) and the "close" system
// message (code and tape disposition 0).
constexpr int kOpenLength = 32;
constexpr int kCloseLength = 4;

// The process-creation monitor's request: code, the asker's access id and
// priority, two names (24 bytes each), the program's internal name, the
// priority and processor asked for, the two names again, blank to the end.
// Its reply: an error (0: allowed), then the program, priority and
// processor to use, each taken only when the reply holds it whole.
constexpr int kCmonRequestLength = 178;
constexpr int kCmonReplyLength = 30;

// Stored lists of messages (the ASSIGN and PARAM lists of an environment
// record): a node is a 32-bit link relative to the node, the message length
// (signed 16 bits, host order), then the message.
constexpr int kNodeLengthOffset = 4;
constexpr int kNodeMessageOffset = 6;

// Big-endian 16-bit fields.
int16_t get16(const char* p);
void put16(char* p, int16_t value);

// The code of a message (0 when it is shorter than a code).
int16_t message_code(std::span<const char> message);

// Encoders. defaults is 16 bytes, in_name, out_name and physical_name 24
// bytes each. The logical name is cut to 31 characters; names and values of
// a PARAM to 255 bytes each.
Message open_message();
Message close_message();
Message startup_message(const char* defaults, const char* in_name, const char* out_name,
                        std::string_view text);
Message assign_message(std::string_view logical_name, const char* physical_name);
Message param_message(const std::vector<std::pair<std::string, std::string>>& params);

// Decoders: views into the message, or nothing when it is not a whole
// message of its kind.
struct StartupView {
  std::string_view defaults;  // 16 bytes
  std::string_view in_name;   // 24 bytes
  std::string_view out_name;  // 24 bytes
  std::string_view text;      // up to the first NUL (or the end)
};
std::optional<StartupView> decode_startup(std::span<const char> message);

struct AssignView {
  std::string_view logical_name;   // as long as its length byte says
  std::string_view physical_name;  // 24 bytes
};
std::optional<AssignView> decode_assign(std::span<const char> message);

// The parameters of a PARAM message, when the count matches the pairs that
// the message holds whole.
std::optional<std::vector<std::pair<std::string_view, std::string_view>>> decode_param(
    std::span<const char> message);

// A start-up message taken from a stored one (source: at least
// kStartupReadCount + 1 bytes): the bytes up to the NUL that ends the
// parameter text, that NUL and, when the length would be odd, one more NUL.
// Nothing when the text has no NUL within that length.
std::optional<Message> startup_from_stored(const char* source);

// The monitor's request and reply.
struct CmonRequest {
  int16_t access_id = 0;
  int16_t own_priority = 0;
  const char* name_a = nullptr;   // 24 bytes
  const char* name_b = nullptr;   // 24 bytes
  const char* program = nullptr;  // 24 bytes
  int16_t priority = 0;
  int16_t processor = 0;
};
void encode_cmon_request(const CmonRequest& request, char* buffer);  // kCmonRequestLength bytes

struct CmonReply {
  bool allowed = false;  // the reply holds an error word and it is 0
  std::optional<std::string_view> program;
  std::optional<int16_t> priority;
  std::optional<int16_t> processor;
};
CmonReply decode_cmon_reply(std::span<const char> reply);

// Calls visit(message, length) for every node of a stored list, newest
// first; stops at the first non-zero result and returns it. head is the
// list's head word: each link is relative to its own word, and the walk
// ends at the node that leads back to the head.
template <typename Visit>
int16_t for_each_message(const int32_t* head, Visit visit) {
  const char* end = reinterpret_cast<const char*>(head);
  const char* node = end + *head;
  while (node != end) {
    int16_t length;
    std::memcpy(&length, node + kNodeLengthOffset, sizeof length);
    if (int16_t error = visit(node + kNodeMessageOffset, length); error != 0) return error;
    int32_t link;
    std::memcpy(&link, node, sizeof link);
    node += link;
  }
  return 0;
}

}  // namespace zeb::platform
