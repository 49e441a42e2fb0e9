// The entry points on the library's environment record, and the IN and OUT
// file procedures they reach.
#include <zeb/env/context.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/types.h>
#include <zeb/runtime/entry.h>
#include "env/environment.h"
#include "platform/files/files.h"

namespace err = zeb::err;
using zeb::present;

namespace {

// The piece of library state an entry point needs, or null before start-up
// has set it up.
EnvRecord* started_env() { return static_cast<EnvRecord*>(zeb::library_env()); }

// The file's last error after a transfer. A file number that start-up did
// not open (-2) answers the inquiry itself with 16.

}  // namespace

int16_t ENV_READINFILE(const EnvRecord* env, void* buffer, int16_t maxlen, int16_t* count) {
  if (env == nullptr) return err::kMissingParameter;
  return zeb::platform::read_file(env->in_fnum, buffer, maxlen, count).code();
}

int16_t ENV_WRITEOUTFILE(const EnvRecord* env, const void* buffer, int16_t length) {
  if (env == nullptr) return err::kMissingParameter;
  return zeb::platform::write_file(env->out_fnum, buffer, length).code();
}

int16_t ZEB_READINFILE(void* buffer, int16_t maxlen, int16_t* count) {
  EnvRecord* env = started_env();
  return env == nullptr ? err::kNoStartup : ENV_READINFILE(env, buffer, maxlen, count);
}

int16_t ZEB_WRITEOUTFILE(const void* buffer, int16_t length) {
  EnvRecord* env = started_env();
  return env == nullptr ? err::kNoStartup : ENV_WRITEOUTFILE(env, buffer, length);
}

int16_t ZEB_ADDPARAM(const char* name, int16_t name_length, const char* value,
                     int16_t value_length) {
  EnvRecord* env = started_env();
  return env == nullptr ? err::kNoStartup
                        : ENV_ADDPARAM(env, name, name_length, value, value_length);
}

int16_t ZEB_SPAWN(uint32_t mask_word, const char* program, const char* name, int16_t cpu,
                  int16_t priority, const char* startup, int16_t* pid, int16_t* error,
                  const char* /*hometerm*/) {
  EnvRecord* env = started_env();
  if (env == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 8)) return err::kInvalidOperation;
  if (!present(mask_word, 1) || program == nullptr) return err::kMissingParameter;
  return zeb::env::spawn(*env, zeb::env::spawn_request(mask_word, 2, program, name, cpu, priority,
                                                       startup, pid, error))
      .code();
}

int16_t ZEB_ENVINFO(uint32_t mask_word, int16_t item, const char* key, void* buffer,
                    int16_t* length) {
  EnvRecord* env = started_env();
  if (env == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 4)) return err::kInvalidOperation;
  if (!present(mask_word, 1)) return err::kMissingParameter;
  return zeb::env::inquire(*env, item, present(mask_word, 2) ? key : nullptr,
                           present(mask_word, 3) ? buffer : nullptr,
                           present(mask_word, 4) ? length : nullptr)
      .code();
}

int16_t ZEB_OPEN(uint32_t mask_word, const char* name, int16_t* filenum, int16_t access,
                 int16_t /*exclusion*/, int16_t nowait_depth, int16_t /*sync_or_receive_depth*/,
                 int16_t /*options*/, int16_t /*seq_block_buffer_id*/,
                 int16_t /*seq_block_buffer_len*/, const void* /*primary_handle*/) {
  EnvRecord* env = started_env();
  if (env == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 10)) return err::kInvalidOperation;
  if (!present(mask_word, 1) || !present(mask_word, 2) || name == nullptr || filenum == nullptr) {
    return err::kMissingParameter;
  }
  // Parameters 8 to 10 (a sequential block buffer's id and length, a
  // primary process's handle) are accepted and ignored: this platform has
  // neither block buffers nor process pairs, and a program that passes
  // them opens its file as if it had not.
  zeb::platform::Result<zeb::env::ResolvedName> resolved = zeb::env::resolve_name(*env, name);
  if (!resolved.ok()) return resolved.code();
  // Exclusion, sync depth and options are accepted and not interpreted, as
  // FILE_OPEN_ takes them; a failed open keeps its error as the last error
  // of file number -1.
  zeb::platform::OpenOptions open_options;
  if (present(mask_word, 3)) open_options.access = access;
  if (present(mask_word, 5)) open_options.nowait_depth = nowait_depth;
  *filenum = zeb::kNotOpen;
  zeb::platform::Result<int16_t> opened =
      zeb::platform::open_file(resolved->external_text(), open_options);
  if (!opened.ok()) return opened.code();
  *filenum = *opened;
  return 0;
}
