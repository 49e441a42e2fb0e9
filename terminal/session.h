// The terminal session: the library's buffered, nowait connection to one
// terminal, meant for 6530 block-mode terminals.
//
// Output is collected in the session buffer and sent in as few operations as
// possible: with the next read (one write-read) or by an explicit flush. The
// session switches the terminal between conversational and block mode, reads
// replies and function keys with a time limit, and can delay each read by a
// fixed throttle. At most one operation is outstanding at any time; every
// procedure except TERM_FUNC_NW waits for the operation it starts. After
// TERM_FUNC_NW the caller completes the read with AWAITIOX and
// TERM_FUNC_COMPLETE, or cancels it with TERM_FUNC_CANCEL, before any other
// session call.
//
// The record comes from a pool (MEM_ALLOC) and goes back to it at
// TERM_CLOSE. One thread of control; nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The session record, 4116 bytes.
struct TermSession {
  // The pool the record came from, as the distance in bytes from the pool's
  // start back to this record (the record lies inside its pool), so the
  // field keeps its 32 bits on a 64-bit host and wherever the pool is mapped.
  uint32_t pool;
  int32_t throttle;      // delay before each read, hundredths of a second; 0 none
  int16_t fnum;          // the terminal, opened with nowait depth 1
  int16_t blockmode;     // -1 in block mode, 0 in conversational mode
  int16_t mark;          // where the data of the latest TERM_SEND begins
  int16_t fill;          // bytes in the buffer
  int16_t split_read;    // -1: reads send earlier output apart from the last piece
  int16_t saved_count;   // byte count of the parameter set saved before block mode
  char saved_params[8];  // that parameter set, restored on the way back
  int16_t type_info[5];  // device type information: word 0 type, word 1 subtype
  char buffer[4078];     // output collected for sending; the input of the last read
};
static_assert(sizeof(TermSession) == 4116 && offsetof(TermSession, buffer) == 38);

namespace zeb {
constexpr int16_t kTermFlushAt = 4077;   // output is flushed before fill would reach this
constexpr int16_t kTermMaxPiece = 4076;  // the largest piece TERM_SEND takes; the read size
constexpr int16_t kTermSplitAt = 251;    // a read with this much buffered sends it apart
constexpr int32_t kTermWait = 18000;     // the session's own waits: 180 seconds
}  // namespace zeb

// Opens a session on the terminal with the external name (length bytes):
// allocates the record from pool and stores its address in *sess. Returns 0
// or the error of the step that failed; on an error nothing stays allocated
// or open and *sess is null.
ZEB_EXPORT int16_t TERM_OPEN(void** sess, void* pool, const char* name, int16_t length,
                             int32_t throttle);

// Flushes, closes the terminal and returns the record to its pool.
ZEB_EXPORT int16_t TERM_CLOSE(void* sess);

// Sends what is buffered.
ZEB_EXPORT int16_t TERM_FLUSH(void* sess);

// Appends length bytes to the buffer, flushing first when they would not fit.
// A piece longer than 4076 bytes, or negative, is refused with 22 and nothing
// is appended; when the flush fails its error is returned and nothing is
// appended.
ZEB_EXPORT int16_t TERM_SEND(void* sess, const void* data, int16_t length);

// Sends what is buffered and reads the terminal's reply into buffer (maxlen
// bytes at most); *count receives the number of bytes read. 318 when the
// reply is longer than maxlen (it stays in the session buffer).
ZEB_EXPORT int16_t TERM_RECV(void* sess, void* buffer, int16_t maxlen, int16_t* count);

// Flushes and starts a read for input (a function key) without waiting.
ZEB_EXPORT int16_t TERM_FUNC_NW(void* sess);

// Hands over the input of a completed read: *count bytes (as the completion
// left it) to buffer. 318 when maxlen is less than *count.
ZEB_EXPORT int16_t TERM_FUNC_COMPLETE(void* sess, void* buffer, int16_t maxlen, int16_t* count);

// Cancels the outstanding read of TERM_FUNC_NW: 0, or 26 when no read is
// outstanding (none was started, it was completed, or a timed-out TERM_FUNC
// has cancelled its own).
ZEB_EXPORT int16_t TERM_FUNC_CANCEL(void* sess);

// Reads input and waits for it at most timelimit hundredths of a second.
// When the limit passes first it returns 40 with *count 0 and has already
// cancelled its read, as every session wait does on a time-out: the terminal
// is free for the next call, and a TERM_FUNC_CANCEL after it gives 26.
// Otherwise 0, or the error of the read.
ZEB_EXPORT int16_t TERM_FUNC(void* sess, void* buffer, int16_t maxlen, int16_t* count,
                             int32_t timelimit);

// Switches the terminal to block mode (320 for a terminal that is not a
// 6530), saving its parameter set on the first switch.
ZEB_EXPORT int16_t TERM_BLOCKMODE(void* sess);

// Switches the terminal back to conversational mode, restoring the saved
// parameter set.
ZEB_EXPORT int16_t TERM_CONVMODE(void* sess);
