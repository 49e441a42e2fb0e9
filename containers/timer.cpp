// The timer list: a doubly linked ring of pool buffers through a list
// header, kept in ascending order of expiry.
//
// Links are offsets relative to the record holding them, so an entry alone
// leads to its neighbours, to its list header and, through the header's own
// offset inside the pool, to the pool that owns it.
#include <zeb/containers/timer.h>
#include "containers/timer_core.h"

#include <cstring>
#include <limits>

#include <zeb/containers/pool.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>

namespace {

namespace err = zeb::err;
using zeb::TimerEntry;
using zeb::TimerListHeader;

// The header and every entry begin with the same two links.
struct Node {
  int32_t forward;
  int32_t backward;
};
static_assert(offsetof(TimerEntry, forward) == offsetof(TimerListHeader, forward));
static_assert(offsetof(TimerEntry, backward) == offsetof(TimerListHeader, backward));

Node* node(void* p) { return static_cast<Node*>(p); }
char* bytes(void* p) { return static_cast<char*>(p); }
int32_t rel(void* from, void* to) { return static_cast<int32_t>(bytes(to) - bytes(from)); }
void* follow(void* from, int32_t offset) { return bytes(from) + offset; }

TimerListHeader* header_of(void* list) { return static_cast<TimerListHeader*>(list); }
TimerEntry* entry_of(void* p) { return static_cast<TimerEntry*>(p); }
void* next_of(void* n) { return follow(n, node(n)->forward); }
void* prev_of(void* n) { return follow(n, node(n)->backward); }
void* pool_of(TimerListHeader* h) { return bytes(h) - h->pool; }
TimerListHeader* list_of(TimerEntry* e) {
  return static_cast<TimerListHeader*>(follow(e, e->list));
}

TimerProc procedure_of(const TimerEntry* e) {
  TimerProc proc;
  std::memcpy(&proc, e->procedure, sizeof proc);
  return proc;
}

// Deletes an entry of list h. An entry whose procedure is running right now
// is only unlinked; TIMER_DELAY gives it back once the procedure returns, so
// it never touches freed memory.
int16_t delete_entry(TimerListHeader* h, TimerEntry* e) {
  // Unlinking an entry of a list cannot fail.
  TIMER_REMOVE_(e);
  if (h->running != 0 && follow(h, h->running) == e) {
    h->running_deleted = 1;
    return err::kOk;
  }
  return MEM_FREE(pool_of(h), e);
}

// Checks that a handle names an entry that is still linked into a list:
// a live pool buffer whose neighbours point back at it.
int16_t check_handle(TimerEntry* e) {
  int32_t length = 0;
  int16_t error = MEM_BUFFERLEN(e, &length);
  if (error != err::kOk) return error;
  if (length < zeb::kTimerRecordSize) return err::kNotPoolBuffer;
  if (node(next_of(e))->backward != rel(next_of(e), e)) return err::kBadTimer;
  if (node(prev_of(e))->forward != rel(prev_of(e), e)) return err::kBadTimer;
  return err::kOk;
}

// Clears the running mark when a timer procedure returns or unwinds, and
// gives back an entry that was deleted during its run.
class RunningGuard {
 public:
  RunningGuard(TimerListHeader* h, TimerEntry* e) : h_(h), e_(e) {
    h_->running = rel(h_, e_);
    h_->running_deleted = 0;
  }
  ~RunningGuard() {
    if (h_ == nullptr) return;
    bool deleted = h_->running_deleted != 0;
    h_->running = 0;
    h_->running_deleted = 0;
    // The entry came from this pool: freeing it cannot fail, and a
    // destructor has no one to tell.
    if (deleted) MEM_FREE(pool_of(h_), e_);
  }
  // Ends the run normally; returns true when the entry was deleted during it
  // (it is unlinked, and *error holds the result of giving it back).
  bool finish(int16_t* error) {
    bool deleted = h_->running_deleted != 0;
    h_->running = 0;
    h_->running_deleted = 0;
    *error = deleted ? MEM_FREE(pool_of(h_), e_) : err::kOk;
    h_ = nullptr;
    return deleted;
  }
  RunningGuard(const RunningGuard&) = delete;
  RunningGuard& operator=(const RunningGuard&) = delete;

 private:
  TimerListHeader* h_;
  TimerEntry* e_;
};

}  // namespace

int16_t TIMER_INIT(void** list, void* pool) {
  if (list == nullptr || pool == nullptr) return err::kMissingParameter;
  void* buffer = nullptr;
  int16_t error = MEM_ALLOC(pool, &buffer, zeb::kTimerRecordSize);
  if (error != err::kOk) return error;
  auto* h = header_of(buffer);
  std::memset(h, 0, sizeof *h);  // forward = backward = 0: the header itself
  h->pool = rel(pool, h);
  *list = h;
  return err::kOk;
}

namespace zeb::containers {

Status insert_timer(void* list, TimerProc procedure, int32_t ticks, const TimerSetting& setting,
                    void** timer) {
  // A periodic timer must move forward when it re-arms, or TIMER_DELAY would
  // run it for ever.
  if (setting.type == zeb::kTimerPeriodic && ticks < 0) {
    return Status::error(err::kOutOfBounds, "a periodic timer with negative ticks");
  }
  auto* h = header_of(list);
  void* buffer = nullptr;
  int16_t error = MEM_ALLOC(pool_of(h), &buffer, zeb::kTimerRecordSize);
  if (error != err::kOk) return Status::error(error, "timer record");
  auto* e = entry_of(buffer);
  std::memset(e, 0, sizeof *e);
  if (timer != nullptr) *timer = e;
  e->type = setting.type;
  std::memcpy(e->procedure, &procedure, sizeof procedure);
  e->arg1 = setting.arg1;
  e->arg2 = setting.arg2;
  e->arg3 = setting.arg3;
  e->interval = static_cast<int64_t>(ticks) * zeb::kTickMicros + zeb::kTimerSlackMicros;
  e->expiry = PROCESSOR_CLOCK() + e->interval;
  // Linking an entry into its list cannot fail.
  TIMER_INSERT_(h, e);
  return Status();
}

Status delete_timer(void* timer) {
  auto* e = entry_of(timer);
  int16_t error = check_handle(e);
  if (error == err::kOk) error = delete_entry(list_of(e), e);
  return error == err::kOk ? Status() : Status::error(error, "timer");
}

Status delete_matching_timers(void* list, const TimerMatch& match) {
  auto* h = header_of(list);
  void* p = next_of(h);
  while (p != h) {
    void* following = next_of(p);
    auto* e = entry_of(p);
    if ((!match.arg1 || e->arg1 == *match.arg1) && (!match.arg2 || e->arg2 == *match.arg2) &&
        (!match.arg3 || e->arg3 == *match.arg3)) {
      int16_t error = delete_entry(h, e);
      if (error != err::kOk) return Status::error(error, "timer");
    }
    p = following;
  }
  return Status();
}

}  // namespace zeb::containers

int16_t TIMER_INSERT(uint32_t mask, void* list, void** timer, TimerProc procedure, int32_t ticks,
                     int16_t type, int16_t arg1, int16_t arg2, int32_t arg3) {
  if (!zeb::mask_fits(mask, 8)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1) || !zeb::present(mask, 3) || !zeb::present(mask, 4) ||
      list == nullptr || procedure == nullptr) {
    return err::kMissingParameter;
  }
  zeb::containers::TimerSetting setting;
  if (zeb::present(mask, 5)) setting.type = type;
  if (zeb::present(mask, 6)) setting.arg1 = arg1;
  if (zeb::present(mask, 7)) setting.arg2 = arg2;
  if (zeb::present(mask, 8)) setting.arg3 = arg3;
  return zeb::containers::insert_timer(list, procedure, ticks, setting,
                                       zeb::present(mask, 2) ? timer : nullptr)
      .code();
}

int16_t TIMER_INSERT_(void* list, void* entry) {
  auto* e = entry_of(entry);
  // Walk back from the latest entry past every later one; equal expiries
  // keep their order of arrival.
  void* after = prev_of(list);
  while (after != list && e->expiry < entry_of(after)->expiry) after = prev_of(after);
  void* before = next_of(after);
  e->forward = rel(e, before);
  e->backward = rel(e, after);
  e->list = rel(e, list);
  node(after)->forward = rel(after, e);
  node(before)->backward = rel(before, e);
  return err::kOk;
}

int16_t TIMER_REMOVE_(void* entry) {
  void* after = prev_of(entry);
  void* before = next_of(entry);
  node(after)->forward = rel(after, before);
  node(before)->backward = rel(before, after);
  return err::kOk;
}

int16_t TIMER_DELETE(uint32_t mask, void* list, void* timer, int16_t arg1, int16_t arg2,
                     int32_t arg3) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  if (zeb::present(mask, 2) && timer != nullptr) return zeb::containers::delete_timer(timer).code();
  if (!zeb::present(mask, 1) || list == nullptr) return err::kMissingParameter;
  zeb::containers::TimerMatch match;
  if (zeb::present(mask, 3)) match.arg1 = arg1;
  if (zeb::present(mask, 4)) match.arg2 = arg2;
  if (zeb::present(mask, 5)) match.arg3 = arg3;
  return zeb::containers::delete_matching_timers(list, match).code();
}

int16_t TIMER_DELAY(void* list, int32_t* delay) {
  if (list == nullptr || delay == nullptr) return err::kMissingParameter;
  auto* h = header_of(list);
  // Called again from inside one of this list's timer procedures: the
  // running timer is still first and due, so running timers here would
  // recurse without end.
  if (h->running != 0) return err::kInvalidOperation;
  for (;;) {
    void* first = next_of(h);
    if (first == h) {
      *delay = -1;
      return err::kOk;
    }
    auto* e = entry_of(first);
    int64_t remaining = (e->expiry - PROCESSOR_CLOCK()) / zeb::kTickMicros;
    if (remaining > std::numeric_limits<int32_t>::max()) {
      remaining = std::numeric_limits<int32_t>::max();
    }
    if (remaining < std::numeric_limits<int32_t>::min()) {
      remaining = std::numeric_limits<int32_t>::min();
    }
    *delay = static_cast<int32_t>(remaining);
    if (remaining > 0) return err::kOk;

    int16_t error = err::kOk;
    {
      RunningGuard guard(h, e);
      procedure_of(e)(e->arg1, e->arg2, e->arg3);
      if (guard.finish(&error)) {
        if (error != err::kOk) return error;
        continue;
      }
    }
    switch (e->type) {
      case zeb::kTimerOneShot:
        error = delete_entry(h, e);
        if (error != err::kOk) return error;
        break;
      case zeb::kTimerPeriodic:
        // The next expiry counts from the previous one, so a late caller
        // catches up by running the timer again at once.
        // Moving an entry within its list cannot fail.
        TIMER_REMOVE_(e);
        e->expiry += e->interval;
        TIMER_INSERT_(h, e);
        break;
      default:
        return err::kBadTimer;
    }
  }
}
