// Environment inquiry: the one read access to what the environment record
// holds, by item code.
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include "env/environment.h"
#include "env/startup.h"
#include "env/store.h"
#include "platform/ipc/messages.h"

namespace err = zeb::err;

namespace zeb::env {
namespace {

// The cleaned key: a length byte and up to 47 upshifted characters. Longer
// keys are cut to the 48 bytes the key is held in.
struct Key {
  unsigned char bytes[1 + 48];
};

Key clean_key(const char* key) {
  Key k{};
  UTIL_CLEANUPPARAMNAME(key, reinterpret_cast<char*>(k.bytes));
  if (k.bytes[0] > 47) k.bytes[0] = 47;
  return k;
}

// The newest node of the list whose name (a length byte at name_offset of
// the message, the characters after it) equals the key; null when none.
const char* find(const int32_t* head, const Key& key, int name_offset) {
  return zeb::env::find_node(
      head, std::string_view(reinterpret_cast<const char*>(key.bytes + 1), key.bytes[0]),
      name_offset);
}

uint16_t needed_flag(int16_t item) {
  switch (item) {
    case ENVINFO_INFNUM:
      return 0x0002;
    case ENVINFO_OUTFNUM:
      return 0x0004;
    case ENVINFO_TERMFNUM:
      return 0x0008;
    default:
      return 0x0001;
  }
}

// The length of the start-up message as stored, never beyond what the
// record can hold.
int startup_length(const EnvRecord* env) {
  int n = env->startup_len;
  return n < 0 ? 0 : n > zeb::platform::kStartupReadCount ? zeb::platform::kStartupReadCount : n;
}

void put_length(int16_t* length, int value) {
  if (length != nullptr) *length = static_cast<int16_t>(value);
}

void put(void* buffer, const void* data, size_t size) {
  if (buffer != nullptr) std::memcpy(buffer, data, size);
}

int16_t start_up_item(const EnvRecord* env, int16_t item, void* buffer, int16_t* length) {
  const int received = startup_length(env);
  switch (item) {
    case ENVINFO_STARTUP:
      put_length(length, received);
      put(buffer, env->startup_msg, static_cast<size_t>(received));
      return err::kOk;
    case ENVINFO_DEFAULTS:
      put_length(length, 16);
      put(buffer, env->default_names, 16);
      return err::kOk;
    case ENVINFO_INFILE:
    case ENVINFO_OUTFILE:
      put_length(length, 24);
      put(buffer,
          env->startup_msg + (item == ENVINFO_INFILE ? zeb::platform::kStartupInOffset
                                                     : zeb::platform::kStartupOutOffset),
          24);
      return err::kOk;
    case ENVINFO_INFNUM:
      put_length(length, 2);
      put(buffer, &env->in_fnum, 2);
      return err::kOk;
    case ENVINFO_OUTFNUM:
      put_length(length, 2);
      put(buffer, &env->out_fnum, 2);
      return err::kOk;
    case ENVINFO_TERMFNUM:
      put_length(length, 2);
      put(buffer, &env->term_fnum, 2);
      return err::kOk;
    default: {
      // Items 7 and 17: the parameter text and the NUL after it; without a
      // parameter text (fewer than 66 bytes received), an empty text.
      const int text = received > zeb::platform::kStartupTextOffset
                           ? received - zeb::platform::kStartupTextOffset
                           : 0;
      put_length(length, text);
      if (buffer == nullptr) return err::kOk;
      auto* out = static_cast<char*>(buffer);
      if (text > 0) {
        const char* src = env->startup_msg + zeb::platform::kStartupTextOffset;
        if (item == ENVINFO_PARAMTEXT)
          UTIL_UPSHIFT(src, out, static_cast<int16_t>(text));
        else
          std::memcpy(out, src, static_cast<size_t>(text));
      }
      out[text] = '\0';
      return err::kOk;
    }
  }
}

// The value of the newest PARAM named key, or null.
const unsigned char* find_param(const EnvRecord* env, const char* key) {
  const char* node = find(&env->param_list, clean_key(key), 4);
  if (node == nullptr) return nullptr;
  const auto* name =
      reinterpret_cast<const unsigned char*>(node + zeb::platform::kNodeMessageOffset + 4);
  return name + 1 + name[0];
}

int16_t param_item(const EnvRecord* env, int16_t item, const char* key, void* buffer,
                   int16_t* length) {
  const unsigned char* value = find_param(env, key);
  if (value == nullptr) return err::kNotFound;
  const char* text = reinterpret_cast<const char*>(value + 1);
  const int16_t size = value[0];
  switch (item) {
    case ENVINFO_PARAM:
      put_length(length, size);
      if (buffer != nullptr) {
        std::memcpy(buffer, text, static_cast<size_t>(size));
        static_cast<char*>(buffer)[size] = '\0';
      }
      return err::kOk;
    case ENVINFO_PARAMIPADDR: {
      uint8_t address[4];
      int16_t error = UTIL_IPADDR(text, size, address);
      if (error != err::kOk) return error;
      put_length(length, 4);
      put(buffer, address, 4);
      return err::kOk;
    }
    default: {
      int32_t number = 0;
      int16_t error = UTIL_DOUBLE(text, size, &number);
      if (error != err::kOk) return error;
      if (item == ENVINFO_PARAMINT) {
        auto low = static_cast<int16_t>(number & 0xFFFF);
        put_length(length, 2);
        put(buffer, &low, 2);
      } else {
        put_length(length, 4);
        put(buffer, &number, 4);
      }
      return err::kOk;
    }
  }
}

int16_t name_item(const EnvRecord* env, int16_t item, const char* key, void* buffer,
                  int16_t* length) {
  const bool translate = item == ENVINFO_LCONFFNAME || item == ENVINFO_LCONFFNAMEINTERNAL;
  const bool external = item == ENVINFO_FNAME || item == ENVINFO_LCONFFNAME;
  // The internal form's length is told whether or not the name resolves.
  if (!external) put_length(length, 24);
  Result<ResolvedName> name = resolve_name(*env, key, translate);
  if (!name.ok()) return name.code();
  if (external) {
    put(buffer, name->external.data(), static_cast<size_t>(name->external_length));
    put_length(length, name->external_length);
  } else {
    put(buffer, name->internal.data(), name->internal.size());
  }
  return err::kOk;
}

}  // namespace

Status inquire(const EnvRecord& env, int16_t item, const char* key, void* buffer, int16_t* length) {
  if (item == ENVINFO_DROPPED) {
    if ((env.flags & zeb::kFlagStartupProtocol) == 0) return Status::error(err::kNoStartup);
    const int32_t dropped = zeb::intake_dropped();
    put_length(length, 4);
    put(buffer, &dropped, 4);
    return Status();
  }
  if (item < ENVINFO_STARTUP || item > ENVINFO_PARAMTEXTASIS) {
    return Status::error(err::kOutOfBounds);
  }
  if (item <= ENVINFO_PARAMTEXT || item == ENVINFO_PARAMTEXTASIS) {
    if ((env.flags & needed_flag(item)) == 0) return Status::error(err::kNoStartup);
    return Status::error(start_up_item(&env, item, buffer, length));
  }
  if (key == nullptr) return Status::error(err::kMissingParameter);
  if (item == ENVINFO_ASSIGN) {
    const char* node =
        find(&env.assign_list, clean_key(key), zeb::platform::kAssignNameLengthOffset);
    if (node == nullptr) return Status::error(err::kNotFound);
    put_length(length, 24);
    put(buffer, node + zeb::platform::kNodeMessageOffset + zeb::platform::kAssignFileOffset, 24);
    return Status();
  }
  if (item <= ENVINFO_PARAMDOUBLE)
    return Status::error(param_item(&env, item, key, buffer, length));
  return Status::error(name_item(&env, item, key, buffer, length));
}

Result<InternalName> in_file(const EnvRecord& env) {
  if ((env.flags & kFlagStartupProtocol) == 0) return Status::error(err::kNoStartup);
  InternalName name;
  std::memcpy(name.data(), env.startup_msg + zeb::platform::kStartupInOffset, name.size());
  return name;
}

Result<std::string_view> param_value(const EnvRecord& env, const char* key) {
  const unsigned char* value = key != nullptr ? find_param(&env, key) : nullptr;
  if (value == nullptr) return Status::error(err::kNotFound);
  return std::string_view(reinterpret_cast<const char*>(value + 1), value[0]);
}

Result<int32_t> param_number(const EnvRecord& env, const char* key) {
  Result<std::string_view> text = param_value(env, key);
  if (!text.ok()) return text.status();
  int32_t number = 0;
  int16_t error = UTIL_DOUBLE(text->data(), static_cast<int16_t>(text->size()), &number);
  if (error != err::kOk) return Status::error(error);
  return number;
}

}  // namespace zeb::env
