// Start-up, the log path and shut-down: the runtime's typed core.
//
// ZEB_STARTUP gives the process its library segment with the library context
// at the base, the memory pool behind it and the timer list, then the
// environment (ENV_STARTUP: the start-up conversation, the IN, OUT and
// home-terminal files), with flag 0x1000 the terminal session on the home
// terminal, and the start-up flags. The log path and shut-down hand on to
// the environment's with the library's environment record.
#include <zeb/runtime/runtime.h>

#include <zeb/containers/pool.h>
#include <zeb/containers/timer.h>
#include <zeb/env/context.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/segment.h>
#include <zeb/platform/types.h>
#include <zeb/runtime/library_segment.h>
#include <zeb/terminal/zeb_term.h>
#include "containers/pool_core.h"
#include "env/environment.h"
#include "platform/system/segments.h"
#include "runtime/runtime_core.h"

namespace err = zeb::err;

namespace zeb::runtime {

// A failure hands on the status of the step that failed, its note unchanged:
// the note names what the operator can act on (a host file or directory, a
// limit) and is what a program tells when start-up fails. Errors that come
// as bare numbers from the library's own procedures carry no note.
Status start(int16_t pages, std::optional<uint16_t> flags, const char* lconf) {
  Result<void*> segment = allocate_segment(pages, kLibrarySegmentId, nullptr);
  if (!segment.ok()) return segment.status();
  void* base = *segment;
  if (base != library_base()) return Status::error(err::kBadSegmentBase);
  // The segment was made with this id just above, so its answer (the
  // segment in use before) tells nothing; whether the segment is now at the
  // base is asked of the context. Should the platform have failed to map it
  // there, there is no context to start.
  platform::use_segment(kLibrarySegmentId).status().ignore();
  LibraryContext* context = library_context();
  if (context == nullptr) return Status::error(err::kNoSegment);
  // A reused swap file still holds an earlier run's context.
  *context = LibraryContext{};
  char* pool = static_cast<char*>(base) + kLibraryPoolOffset;
  int16_t error =
      MEM_DEFINEPOOL(pool, static_cast<int32_t>(pages) * kPageBytes - kLibraryPoolOffset);
  if (error != 0) return Status::error(error);
  context->pool = to_segment_offset(pool);
  void* timers = nullptr;
  error = TIMER_INIT(&timers, pool);
  if (error != 0) return Status::error(error);
  context->timers = to_segment_offset(timers);
  // The environment's half of start-up needs the flags.
  if (!flags.has_value()) return Status::error(err::kMissingParameter);
  EnvRecord* env = nullptr;
  Status status = env::start(&env, pool, *flags, lconf);
  context->env = to_segment_offset(env);
  if (!status.ok()) return status;
  error = open_startup_session(*flags);
  if (error != 0) return Status::error(error);
  context->flags = *flags;
  return Status();
}

Status log(const char* format, std::span<const void* const> args) {
  if (format == nullptr) return Status::error(err::kMissingParameter);
  // Like the other entry points, 309 before start-up.
  auto* env = static_cast<EnvRecord*>(library_env());
  if (env == nullptr) return Status::error(err::kNoStartup);
  return env::log(*env, format, args);
}

void show_pool_stats() {
  void* pool = library_pool();
  if (pool == nullptr) return;
  const PoolStats stats = containers::pool_stats(pool);
  // Statistics are a courtesy at the end of a run: a line that cannot be
  // written is kept as the lost write, which shut-down reports.
  log("Pool Alloc: \\q8\\  Free:   \\q8\\  Used:    \\d8\\  Maxused:\\d8\\",
      {&stats.alloc_requests, &stats.free_requests, &stats.used, &stats.maxused})
      .ignore();
  log("     Allocs:\\q8\\  Splits: \\q8\\  Extends: \\q8\\",
      {&stats.whole_allocs, &stats.splits, &stats.extends})
      .ignore();
  log("     Joins: \\q8\\  Release:\\q8\\  FailSize:\\d8\\",
      {&stats.joins, &stats.releases, &stats.failsize})
      .ignore();
}

void shut_down(int16_t code) {
  uint16_t flags = library_flags();
  if ((flags & kFlagMemStats) != 0) show_pool_stats();
  if ((flags & kFlagTermSession) != 0) close_library_session();
  env::shut_down(static_cast<EnvRecord*>(library_env()), code);
}

}  // namespace zeb::runtime
