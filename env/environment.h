// The environment's typed core: what the ENV_ procedures do, for the
// library's own callers (the runtime, the terminal session, the survey).
// The ENV_ procedures (env/env_procedures.cpp) check their parameter masks,
// call these and return the status's number.
//
// Names handed to these functions are in the library's stored forms: text
// ended by a blank or a NUL, or a 24-byte internal file name, which need not
// be ended at all; so they are passed as addresses, and each function reads
// no further than the form allows.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include <zeb/env/env.h>
#include "platform/host/status.h"

namespace zeb::env {

using platform::Result;
using platform::Status;

// A file name in the 24-byte internal form.
using InternalName = std::array<char, 24>;

// ---------------------------------------------------------------------------
// Start-up and shut-down.

// Allocates the environment record from pool and fills it; with the flags,
// runs the intake (0x0001) and opens the IN (0x0002), OUT (0x0004) and
// home-terminal (0x0008) files; resolves lconf (null: "=lconf") into the
// record's lconf_name, which stays blank when it does not resolve. *record is
// set as soon as the record exists, also when a later step fails.
Status start(EnvRecord** record, void* pool, uint16_t flags, const char* lconf);

// Writes the closing lines (flag 0x0080), closes the IN, OUT and
// home-terminal files and stops the process; a null env, a non-zero code or
// a lost log line ends it abnormally.
[[noreturn]] void shut_down(EnvRecord* env, int16_t code);

// The call-backs of the intake; a null call-back leaves its messages unused.
struct IntakeCallbacks {
  EnvCallback startup = nullptr;
  EnvCallback assign = nullptr;
  EnvCallback param = nullptr;
  void* user_data = nullptr;
};

// Conducts the start-up conversation on $RECEIVE. Ok when the parent closed
// the process, else the first file-system error (40: nothing arrived in
// time).
Status run_intake(const IntakeCallbacks& callbacks);

// ---------------------------------------------------------------------------
// The store.

// Keeps a start-up message of at most 596 bytes (22 for any other length)
// and the default volume and subvolume that follow its code.
Status store_startup(EnvRecord& env, std::span<const char> message);

// Keeps a whole ASSIGN message, newest first, its blank volume and subvolume
// taken from the start-up defaults (308 for fewer than 94 bytes).
Status store_assign(EnvRecord& env, std::span<const char> message);

// Adds every parameter of a PARAM message; a message whose parameters run
// past its end is refused whole (308).
Status store_params(EnvRecord& env, std::span<const unsigned char> message);

// Adds a parameter, name and value upshifted, replacing every parameter of
// the same name (22 for a name or value longer than 255 bytes).
Status add_param(EnvRecord& env, std::string_view name, std::string_view value);

// ---------------------------------------------------------------------------
// Inquiry.

// The answer to an ENVINFO_ item (env/env.h): the length is stored when
// length is not null and the result copied when buffer is not null. key is
// required for items 8 to 16 (29 when null). Fails with 22 (no such item),
// 309 (the start-up flag the item needs is not set), 11 (no such ASSIGN or
// PARAM), 315, 316, or the error of resolve_name.
Status inquire(const EnvRecord& env, int16_t item, const char* key, void* buffer, int16_t* length);

// The IN file's internal name from the start-up message (309 without flag
// 0x0001).
Result<InternalName> in_file(const EnvRecord& env);

// The value of the PARAM key, as stored (upshifted); 11 when there is none.
// The view lasts until the parameter is replaced.
Result<std::string_view> param_value(const EnvRecord& env, const char* key);

// The value of the PARAM key as a signed 32-bit decimal number: 11 when
// there is none, 315 when it is not a number.
Result<int32_t> param_number(const EnvRecord& env, const char* key);

// ---------------------------------------------------------------------------
// Logical names.

// A file name resolved to both forms.
struct ResolvedName {
  InternalName internal{};
  std::array<char, 64> external{};  // external form, external_length bytes, no terminator
  int16_t external_length = 0;
  std::string_view external_text() const {
    return {external.data(), static_cast<size_t>(external_length)};
  }
};

// Resolves a file name: logical names (=NAME) through a DEFINE, an ASSIGN
// or the configuration file, repeatedly; external names get the default
// volume and subvolume. With translate, the configuration file's alternate
// name is looked up first. Fails with 13 (a chain longer than 16 names, or a
// name that cannot be expanded) or the error of the look-up that failed.
Result<ResolvedName> resolve_name(const EnvRecord& env, const char* name, bool translate = false);

// ---------------------------------------------------------------------------
// The log path.

// Expands format with args (each the address of the value a directive
// shows; at most twelve are read) into one line of at most 160 bytes and
// writes it with write_log.
Status log(EnvRecord& env, const char* format, std::span<const void* const> args);
inline Status log(EnvRecord& env, const char* format,
                  std::initializer_list<const void*> args = {}) {
  return log(env, format, std::span<const void* const>(args.begin(), args.size()));
}

// Writes one finished line to the OUT file (flag 0x0010) and the home
// terminal (flag 0x0020), once when both are the same file. A failed write
// ends the process abnormally under flag 0x0200; otherwise it is kept as the
// lost write (env/startup.h) and its error returned.
Status write_log(EnvRecord& env, std::span<const char> line);

// spawn: what ENV_SPAWN does (env.h), for a program named by its 24-byte
// internal name. name (6 bytes), startup and the outputs may be null;
// cpu and priority -1 when not given. *pid and *word, when given, receive
// the new process's identifier and creation error word once it was asked
// for.
struct SpawnRequest {
  const char* program = nullptr;
  const char* name = nullptr;
  int16_t cpu = -1;
  int16_t priority = -1;
  const char* startup = nullptr;
  int16_t* pid = nullptr;
  int16_t* word = nullptr;
};
Status spawn(EnvRecord& env, const SpawnRequest& request);
// The request of a spawn procedure's parameters, the program and the ones
// after it: name is parameter first of the caller's mask, cpu first + 1 and
// so on; a parameter whose bit is clear keeps its default.
SpawnRequest spawn_request(uint32_t mask, int first, const char* program, const char* name,
                           int16_t cpu, int16_t priority, const char* startup, int16_t* pid,
                           int16_t* word);

}  // namespace zeb::env
