// The ENV_ procedures: each checks its parameter mask and its required
// parameters, hands the parameters given to the environment's typed core
// (env/environment.h) and returns the status's error number.
#include <algorithm>
#include <cstddef>
#include <span>
#include <string_view>

#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/this_process.h>
#include <zeb/platform/types.h>
#include "env/environment.h"

namespace err = zeb::err;
using zeb::present;

namespace {

// The bytes of a message as the call-backs receive it; a negative length is
// no message at all.
std::span<const char> message_bytes(const void* message, int16_t length) {
  return {static_cast<const char*>(message), length < 0 ? size_t{0} : static_cast<size_t>(length)};
}

}  // namespace

int16_t ENV_STARTUP(uint32_t mask, EnvRecord** env, void* pool, uint16_t flags, const char* lconf) {
  if (!zeb::mask_fits(mask, 4)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || !present(mask, 3) || env == nullptr ||
      pool == nullptr) {
    return err::kMissingParameter;
  }
  return zeb::env::start(env, pool, flags, present(mask, 4) ? lconf : nullptr).code();
}

void ENV_SHUTDOWN(uint32_t mask, EnvRecord* env, int16_t code) {
  if (!present(mask, 1)) ABEND();
  zeb::env::shut_down(env, present(mask, 2) ? code : 0);
}

int16_t ENV_INITIALIZER_(uint32_t mask, EnvCallback startup_proc, EnvCallback assign_proc,
                         EnvCallback param_proc, void* user_data) {
  // Bits beyond the four parameters are outside the contract; refusing them
  // is safer than guessing.
  if (!zeb::mask_fits(mask, 4)) return err::kInvalidOperation;
  return zeb::env::run_intake(
             {present(mask, 1) ? startup_proc : nullptr, present(mask, 2) ? assign_proc : nullptr,
              present(mask, 3) ? param_proc : nullptr, present(mask, 4) ? user_data : nullptr})
      .code();
}

int16_t ENV_STARTUPPROC_(void* env, const void* message, int16_t length) {
  if (env == nullptr || length < 0 || (message == nullptr && length > 0)) {
    return err::kOutOfBounds;
  }
  return zeb::env::store_startup(*static_cast<EnvRecord*>(env), message_bytes(message, length))
      .code();
}

int16_t ENV_ASSIGNPROC_(void* env, const void* message, int16_t length) {
  if (env == nullptr || message == nullptr) return err::kMissingParameter;
  return zeb::env::store_assign(*static_cast<EnvRecord*>(env), message_bytes(message, length))
      .code();
}

int16_t ENV_PARAMPROC_(void* env, const void* message, int16_t length) {
  if (env == nullptr || message == nullptr) return err::kMissingParameter;
  auto bytes = message_bytes(message, length);
  return zeb::env::store_params(
             *static_cast<EnvRecord*>(env),
             {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()})
      .code();
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
  return zeb::env::add_param(*env, {name, static_cast<size_t>(name_length)},
                             {value, static_cast<size_t>(value_length)})
      .code();
}

int16_t ENV_INQUIRE(uint32_t mask, const EnvRecord* env, int16_t item, const char* key,
                    void* buffer, int16_t* length) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || env == nullptr) return err::kMissingParameter;
  return zeb::env::inquire(*env, item, present(mask, 3) ? key : nullptr,
                           present(mask, 4) ? buffer : nullptr, present(mask, 5) ? length : nullptr)
      .code();
}

int16_t ENV_FNAME(uint32_t mask, const EnvRecord* env, const char* name, char* internal,
                  char* external, int16_t* length, int16_t translate) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || env == nullptr || name == nullptr) {
    return err::kMissingParameter;
  }
  auto resolved = zeb::env::resolve_name(*env, name, present(mask, 6) && translate != 0);
  if (!resolved.ok()) return resolved.code();
  if (present(mask, 3) && internal != nullptr) {
    std::copy(resolved->internal.begin(), resolved->internal.end(), internal);
  }
  if (present(mask, 4) && external != nullptr) {
    std::string_view text = resolved->external_text();
    std::copy(text.begin(), text.end(), external);
  }
  if (present(mask, 5) && length != nullptr) *length = resolved->external_length;
  return err::kOk;
}

int16_t ENV_LOG(uint32_t mask, EnvRecord* env, const char* format, const void* a1, const void* a2,
                const void* a3, const void* a4, const void* a5, const void* a6, const void* a7,
                const void* a8, const void* a9, const void* a10, const void* a11, const void* a12) {
  if (!zeb::mask_fits(mask, 14)) return err::kInvalidOperation;
  if (!present(mask, 1) || !present(mask, 2) || env == nullptr || format == nullptr) {
    return err::kMissingParameter;
  }
  // Only the arguments the caller passed go on: one not marked in the mask
  // is never read.
  const void* args[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12};
  for (int n = 0; n < 12; ++n) {
    if (!present(mask, 3 + n)) args[n] = nullptr;
  }
  return zeb::env::log(*env, format, args).code();
}
