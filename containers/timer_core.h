// The typed core of the timer list (timer.h): what TIMER_INSERT and
// TIMER_DELETE adapt, for the library's own layers. Internal to the library.
#pragma once

#include <cstdint>
#include <optional>

#include <zeb/containers/timer.h>
#include "platform/host/status.h"

namespace zeb::containers {

using platform::Status;

// A timer's type (0 once, kTimerPeriodic again every interval) and the
// arguments its procedure is called with.
struct TimerSetting {
  int16_t type = 0;
  int16_t arg1 = 0;
  int16_t arg2 = 0;
  int32_t arg3 = 0;
};

// insert_timer: arms procedure on list to run after ticks; *timer, when
// given, receives the new timer. list and procedure must not be null. 22
// for a periodic timer with negative ticks, else the pool's error.
Status insert_timer(void* list, TimerProc procedure, int32_t ticks, const TimerSetting& setting,
                    void** timer = nullptr);

// delete_timer: deletes one timer, wherever it is listed (an error for a
// handle that is no timer).
Status delete_timer(void* timer);

// delete_matching_timers: deletes every timer of list whose arguments equal
// each one given (all of them when none is).
struct TimerMatch {
  std::optional<int16_t> arg1;
  std::optional<int16_t> arg2;
  std::optional<int32_t> arg3;
};
Status delete_matching_timers(void* list, const TimerMatch& match);

}  // namespace zeb::containers
