// The entry points on the library's pool and timer list.
#include <zeb/runtime/entry.h>

#include <zeb/env/context.h>
#include <zeb/platform/errors.h>
#include "containers/pool_core.h"
#include "containers/timer_core.h"

namespace err = zeb::err;

int16_t ZEB_MEMALLOC(void** buffer, int32_t size) {
  void* pool = zeb::library_pool();
  return pool == nullptr ? err::kNoStartup : MEM_ALLOC(pool, buffer, size);
}

int16_t ZEB_MEMFREE(void* buffer) {
  void* pool = zeb::library_pool();
  return pool == nullptr ? err::kNoStartup : MEM_FREE(pool, buffer);
}

int16_t ZEB_MEMSTATS(uint32_t mask_word, PoolStats* stats, int16_t reset) {
  void* pool = zeb::library_pool();
  if (pool == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 2)) return err::kInvalidOperation;
  if (zeb::present(mask_word, 1) && stats != nullptr) *stats = zeb::containers::pool_stats(pool);
  if (zeb::present(mask_word, 2) && reset != 0) zeb::containers::reset_pool_stats(pool);
  return err::kOk;
}

int16_t ZEB_TIMERINSERT(uint32_t mask_word, void** timer, TimerProc procedure, int32_t ticks,
                        int16_t type, int16_t arg1, int16_t arg2, int32_t arg3) {
  void* timers = zeb::library_timers();
  if (timers == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 7)) return err::kInvalidOperation;
  using zeb::present;
  if (!present(mask_word, 2) || !present(mask_word, 3) || procedure == nullptr) {
    return err::kMissingParameter;
  }
  zeb::containers::TimerSetting setting;
  if (present(mask_word, 4)) setting.type = type;
  if (present(mask_word, 5)) setting.arg1 = arg1;
  if (present(mask_word, 6)) setting.arg2 = arg2;
  if (present(mask_word, 7)) setting.arg3 = arg3;
  return zeb::containers::insert_timer(timers, procedure, ticks, setting,
                                       present(mask_word, 1) ? timer : nullptr)
      .code();
}

int16_t ZEB_TIMERDELETE(uint32_t mask_word, void* timer, int16_t arg1, int16_t arg2, int32_t arg3) {
  void* timers = zeb::library_timers();
  if (timers == nullptr) return err::kNoStartup;
  if (!zeb::mask_fits(mask_word, 4)) return err::kInvalidOperation;
  using zeb::present;
  if (present(mask_word, 1) && timer != nullptr) return zeb::containers::delete_timer(timer).code();
  zeb::containers::TimerMatch match;
  if (present(mask_word, 2)) match.arg1 = arg1;
  if (present(mask_word, 3)) match.arg2 = arg2;
  if (present(mask_word, 4)) match.arg3 = arg3;
  return zeb::containers::delete_matching_timers(timers, match).code();
}

int16_t ZEB_TIMERDELAY(int32_t* delay) {
  void* timers = zeb::library_timers();
  return timers == nullptr ? err::kNoStartup : TIMER_DELAY(timers, delay);
}
