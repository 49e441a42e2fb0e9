// The timer list: pending timers sorted by expiry, run by TIMER_DELAY from
// the process's own wait loop. Nothing here waits or uses an operating-system
// timer; time is the processor clock (microseconds), and callers speak in
// ticks of one hundredth of a second.
//
// The list header and every entry are 48-byte buffers of one memory pool.
// Their links are signed 32-bit offsets relative to the record that holds
// them (0 = the record itself), so a list works wherever its pool is mapped.
// One thread; nothing is locked.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The procedure a timer runs: it gets the timer's three arguments.
using TimerProc = void (*)(int16_t arg1, int16_t arg2, int32_t arg3);

namespace zeb {

constexpr int64_t kTickMicros = 10000;       // one tick of a timer's interval: 0.01 s
constexpr int64_t kTimerSlackMicros = 5000;  // added to every interval
constexpr int16_t kTimerOneShot = 0;         // timer type: runs once, then is deleted
constexpr int16_t kTimerPeriodic = 1;        // timer type: runs every interval until deleted
constexpr int32_t kTimerRecordSize = 48;     // the size of a header and of an entry

// The list header (a 48-byte pool buffer).
struct TimerListHeader {
  int32_t forward;          // first (earliest) entry; 0 when empty
  int32_t backward;         // last (latest) entry; 0 when empty
  int32_t pool;             // this header's offset inside its pool: pool = header - pool
  int32_t running;          // entry whose procedure TIMER_DELAY is running; 0 none
  int32_t running_deleted;  // non-zero: that entry was deleted during its run
  int32_t reserved[7];      // not used
};
static_assert(sizeof(TimerListHeader) == kTimerRecordSize);

// A timer entry (a 48-byte pool buffer). The procedure's address is kept as
// raw bytes so that the record keeps its fields in order within 48 bytes.
struct TimerEntry {
  int32_t forward;                             // next later entry, or the header
  int32_t backward;                            // next earlier entry, or the header
  int64_t expiry;                              // processor clock time at which the timer is due
  int64_t interval;                            // ticks * 10,000 + 5,000 microseconds
  int32_t list;                                // the header of the list the entry lies on
  unsigned char procedure[sizeof(TimerProc)];  // the TimerProc to run, as raw bytes
  int16_t type;                                // 0 one-shot, 1 periodic, anything else invalid
  int16_t arg1;                                // the procedure's first argument
  int16_t arg2;                                // its second
  int32_t arg3;                                // its third
};
static_assert(sizeof(TimerEntry) == kTimerRecordSize);

}  // namespace zeb

// Allocates a list header from pool, makes it an empty list and stores its
// address in *list. Returns 0 or the pool's error (303).
ZEB_EXPORT int16_t TIMER_INIT(void** list, void* pool);

// Parameters: 1 list, 2 timer (receives the entry's address, the handle for
// TIMER_DELETE), 3 procedure, 4 ticks (hundredths of a second), 5 type (0
// one-shot, 1 periodic), 6-8 arguments 1-3 for the procedure. list, procedure
// and ticks are required (29); absent type and arguments are 0. The timer is
// due ticks * 10 ms + 5 ms from now; a periodic one re-arms by the same
// interval counted from its previous expiry. Returns 0, 29, 2 for mask bits
// beyond parameter 8, 22 for a periodic timer with negative ticks (its
// interval would never advance), or the pool's error.
ZEB_EXPORT int16_t TIMER_INSERT(uint32_t mask, void* list = nullptr, void** timer = nullptr,
                                TimerProc procedure = nullptr, int32_t ticks = 0, int16_t type = 0,
                                int16_t arg1 = 0, int16_t arg2 = 0, int32_t arg3 = 0);

// Parameters: 1 list, 2 timer, 3-5 argument selectors. With timer: deletes
// that entry (list not needed). Without: deletes every entry of list whose
// arguments equal all the given selectors; with no selector, all entries.
// Returns 0, 29 with neither timer nor list, 2 for mask bits beyond
// parameter 5, the pool's error (304, 305) for a handle that is not a live
// entry, or 312 when the handle's links show it is on no list (already
// deleted). An entry whose procedure is running is unlinked at once and given
// back to the pool when its procedure returns.
ZEB_EXPORT int16_t TIMER_DELETE(uint32_t mask, void* list = nullptr, void* timer = nullptr,
                                int16_t arg1 = 0, int16_t arg2 = 0, int32_t arg3 = 0);

// Runs every due timer (one due in less than one tick counts as due), then
// stores in *delay the ticks until the earliest remaining one, or -1 when the
// list is empty. A timer procedure may insert and delete timers of the same
// list, its own included. Returns 0; 312 when a due timer has an invalid type
// (after its procedure ran; it stays first); 2 when called from inside a
// timer procedure of the same list; or an error of giving an entry back.
ZEB_EXPORT int16_t TIMER_DELAY(void* list, int32_t* delay);

// Internal steps: sorted insertion of an entry (ties after the entries of
// equal expiry), and unlinking an entry (its own links are left as they
// were). Both always succeed.
ZEB_EXPORT int16_t TIMER_INSERT_(void* list, void* entry);
ZEB_EXPORT int16_t TIMER_REMOVE_(void* entry);
