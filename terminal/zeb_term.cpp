// The terminal entry points.
#include <zeb/terminal/zeb_term.h>

#include <cstring>
#include <string>

#include <zeb/env/context.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/this_process.h>
#include <zeb/terminal/session.h>
#include "env/environment.h"
#include "platform/processes/processes.h"

using zeb::mask;

namespace {

// The session the entry points work on, or the error that stands in its
// way: 309 before start-up, 2 without a session.
int16_t library_session(void** sess) {
  LibraryContext* context = zeb::library_context();
  if (context == nullptr || context->pool == 0) return zeb::err::kNoStartup;
  *sess = zeb::library_term();
  return *sess == nullptr ? zeb::err::kInvalidOperation : 0;
}

template <typename Call>
int16_t forward(Call call) {
  void* sess = nullptr;
  int16_t error = library_session(&sess);
  return error != 0 ? error : call(sess);
}

}  // namespace

int16_t ZEB_TERMFLUSH() {
  return forward([](void* s) { return TERM_FLUSH(s); });
}

int16_t ZEB_TERMSEND(const void* data, int16_t length) {
  return forward([&](void* s) { return TERM_SEND(s, data, length); });
}

int16_t ZEB_TERMRECV(void* buffer, int16_t maxlen, int16_t* count) {
  return forward([&](void* s) { return TERM_RECV(s, buffer, maxlen, count); });
}

int16_t ZEB_TERMFUNCNW() {
  return forward([](void* s) { return TERM_FUNC_NW(s); });
}

int16_t ZEB_TERMFUNCCOMPLETE(void* buffer, int16_t maxlen, int16_t* count) {
  return forward([&](void* s) { return TERM_FUNC_COMPLETE(s, buffer, maxlen, count); });
}

int16_t ZEB_TERMFUNCCANCEL() {
  return forward([](void* s) { return TERM_FUNC_CANCEL(s); });
}

int16_t ZEB_TERMFUNC(void* buffer, int16_t maxlen, int16_t* count, int32_t timelimit) {
  return forward([&](void* s) { return TERM_FUNC(s, buffer, maxlen, count, timelimit); });
}

int16_t ZEB_TERMBLOCKMODE() {
  return forward([](void* s) { return TERM_BLOCKMODE(s); });
}

int16_t ZEB_TERMCONVMODE() {
  return forward([](void* s) { return TERM_CONVMODE(s); });
}

namespace zeb {

using platform::Result;

int16_t open_library_session(const char* name, int16_t length, int32_t throttle) {
  LibraryContext* context = library_context();
  if (context == nullptr || context->pool == 0) return err::kNoStartup;
  if (context->term != 0) return err::kInvalidOperation;
  void* sess = nullptr;
  int16_t error = TERM_OPEN(&sess, library_pool(), name, length, throttle);
  if (error != 0) return error;
  context->term = to_segment_offset(sess);
  return 0;
}

int16_t open_startup_session(uint16_t flags) {
  if ((flags & kFlagTermSession) == 0) return 0;
  char name[64];
  int16_t length = 0;
  if ((flags & kFlagStartupProtocol) != 0) {
    // The session runs on the IN file of the start-up message, throttled by
    // the PARAM "throttle": without the PARAM, or with one that is not a
    // number, the throttle is 0; a name that cannot be resolved leaves the
    // length 0, which TERM_OPEN refuses.
    const auto* env = static_cast<const EnvRecord*>(library_env());
    if (env == nullptr) return open_library_session(name, 0, 0);
    Result<int32_t> throttle = env::param_number(*env, "THROTTLE");
    Result<env::InternalName> in = env::in_file(*env);
    Result<env::ResolvedName> resolved =
        in.ok() ? env::resolve_name(*env, in->data()) : Result<env::ResolvedName>(in.status());
    if (resolved.ok()) {
      length = resolved->external_length;
      std::memcpy(name, resolved->external.data(), static_cast<size_t>(length));
    }
    return open_library_session(name, length, throttle.ok() ? *throttle : 0);
  }
  // Without the start-up conversation there is no IN file to name: the
  // session runs on the home terminal, unthrottled.
  const std::string terminal = zeb::platform::home_terminal_name();
  return open_library_session(terminal.data(), static_cast<int16_t>(terminal.size()), 0);
}

void close_library_session() {
  LibraryContext* context = library_context();
  if (context == nullptr || context->term == 0) return;
  // The library's session ends with the run: a close that fails leaves
  // nothing the caller could still do, and the session is forgotten anyway.
  TERM_CLOSE(library_term());
  context->term = 0;
}

}  // namespace zeb
