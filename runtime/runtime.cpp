// Start-up, the log path and shut-down.
//
// ZEB_STARTUP gives the process its library segment with the library context
// at the base, the memory pool behind it and the timer list, then the
// environment (ENV_STARTUP: the start-up conversation, the IN, OUT and
// home-terminal files), with flag 0x1000 the terminal session on the home
// terminal, and the start-up flags. ZEB_LOG and ZEB_SHUTDOWN hand on to
// ENV_LOG and ENV_SHUTDOWN with the library's environment record.
#include <zeb/runtime/runtime.h>

#include <zeb/containers/pool.h>
#include <zeb/containers/timer.h>
#include <zeb/env/context.h>
#include <zeb/env/env.h>
#include <zeb/platform/platform.h>
#include <zeb/platform/segment.h>
#include <zeb/runtime/library_segment.h>
#include <zeb/terminal/zeb_term.h>
#include "env/startup.h"
#include "platform/host/diagnostics.h"

int16_t ZEB_STARTUP(uint32_t mask, int16_t pages, uint16_t flags, const char* lconf) {
  if (!zeb::mask_fits(mask, 3)) return zeb::err::kInvalidOperation;
  if (!zeb::present(mask, 1)) pages = 1000;
  zeb::platform::clear_failure_note();
  void* base = nullptr;
  int16_t error = UTIL_ALLOCATESEGMENT(zeb::mask({1, 2, 3}), &base, pages, zeb::kLibrarySegmentId);
  if (error != 0) return error;
  if (base != zeb::library_base()) return zeb::err::kBadSegmentBase;
  USESEGMENT(zeb::mask({1}), zeb::kLibrarySegmentId);
  LibraryContext* context = zeb::library_context();
  // A reused swap file still holds an earlier run's context.
  *context = LibraryContext{};
  char* pool = static_cast<char*>(base) + zeb::kLibraryPoolOffset;
  error =
      MEM_DEFINEPOOL(pool, static_cast<int32_t>(pages) * zeb::kPageBytes - zeb::kLibraryPoolOffset);
  if (error != 0) return error;
  context->pool = zeb::to_segment_offset(pool);
  void* timers = nullptr;
  error = TIMER_INIT(&timers, pool);
  if (error != 0) return error;
  context->timers = zeb::to_segment_offset(timers);
  // The environment's half of start-up: flags and lconf go on only when
  // given (ENV_STARTUP answers 29 without flags).
  uint32_t env_mask = zeb::mask({1, 2});
  if (zeb::present(mask, 2)) env_mask |= zeb::param_bit(3);
  if (zeb::present(mask, 3)) env_mask |= zeb::param_bit(4);
  EnvRecord* env = nullptr;
  error = ENV_STARTUP(env_mask, &env, pool, flags, lconf);
  context->env = zeb::to_segment_offset(env);
  if (error != 0) return error;
  error = zeb::open_startup_session(flags);
  if (error != 0) return error;
  context->flags = flags;
  return 0;
}

int16_t ZEB_LOG(uint32_t mask, const char* format, const void* a1, const void* a2, const void* a3,
                const void* a4, const void* a5, const void* a6, const void* a7, const void* a8,
                const void* a9, const void* a10, const void* a11, const void* a12) {
  if (!zeb::mask_fits(mask, 13)) return zeb::err::kInvalidOperation;
  if (!zeb::present(mask, 1) || format == nullptr) return zeb::err::kMissingParameter;
  // Like the other entry points, 309 before start-up.
  auto* env = static_cast<EnvRecord*>(zeb::library_env());
  if (env == nullptr) return zeb::err::kNoStartup;
  return ENV_LOG(zeb::mask_with_leading(mask), env, format, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10,
                 a11, a12);
}

void ZEB_SHOWMEMSTATS() {
  PoolStats stats{};
  if (MEM_STATS(zeb::mask({1, 2}), zeb::library_pool(), &stats) != 0) return;
  ZEB_LOG(zeb::mask({1, 2, 3, 4, 5}),
          "Pool Alloc: \\q8\\  Free:   \\q8\\  Used:    \\d8\\  Maxused:\\d8\\",
          &stats.alloc_requests, &stats.free_requests, &stats.used, &stats.maxused);
  ZEB_LOG(zeb::mask({1, 2, 3, 4}), "     Allocs:\\q8\\  Splits: \\q8\\  Extends: \\q8\\",
          &stats.whole_allocs, &stats.splits, &stats.extends);
  ZEB_LOG(zeb::mask({1, 2, 3, 4}), "     Joins: \\q8\\  Release:\\q8\\  FailSize:\\d8\\",
          &stats.joins, &stats.releases, &stats.failsize);
}

void ZEB_SHUTDOWN(uint32_t mask, int16_t code) {
  uint16_t flags = zeb::library_flags();
  if ((flags & zeb::kFlagMemStats) != 0) ZEB_SHOWMEMSTATS();
  if ((flags & zeb::kFlagTermSession) != 0) zeb::close_library_session();
  uint32_t env_mask = zeb::mask({1});
  if (zeb::present(mask, 1)) env_mask |= zeb::param_bit(2);
  ENV_SHUTDOWN(env_mask, static_cast<EnvRecord*>(zeb::library_env()), code);
}
