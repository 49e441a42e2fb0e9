// The terminal session over the platform's terminal procedures.
#include <zeb/terminal/session.h>

#include <cstring>

#include <zeb/containers/pool.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/terminal.h>

namespace err = zeb::err;
using zeb::mask;

namespace {

TermSession* session(void* sess) { return static_cast<TermSession*>(sess); }

int16_t last_error(int16_t fnum) {
  int16_t error = 0;
  FILE_GETINFO_(mask({1, 2}), fnum, &error);
  return error;
}

// Waits for the session's operation with a time limit. A time-out cancels
// the operation: every session procedure but TERM_FUNC_NW ends its own
// operation, so the next call finds the terminal free.
int16_t await(TermSession* s, int16_t* count, int32_t timelimit) {
  int16_t fnum = s->fnum;
  AWAITIOX(mask({1, 3, 5}), &fnum, nullptr, count, nullptr, timelimit);
  int16_t error = last_error(s->fnum);
  // The time-out is the error to report; a cancel that fails leaves the
  // operation to end by itself.
  if (error == err::kTimedOut) CANCEL(s->fnum);
  return error;
}

// Sends the first n buffered bytes: WRITEX in block mode, a write-read with
// a read count of 0 in conversational mode (a conversational WRITEX would
// end a line), and waits for the write. *started tells whether the write
// was started: a write that was started is gone from the buffer, sent or
// not, while one that could not start leaves the bytes buffered.
int16_t send_buffered(TermSession* s, int16_t n, bool* started) {
  *started = false;
  if (s->blockmode != 0) {
    WRITEX(mask({1, 2, 3}), s->fnum, s->buffer, n);
  } else {
    WRITEREADX(mask({1, 2, 3, 4}), s->fnum, s->buffer, n, 0);
  }
  int16_t error = last_error(s->fnum);
  if (error != 0) return error;
  *started = true;
  int16_t count = 0;
  return await(s, &count, zeb::kTermWait);
}

}  // namespace

int16_t TERM_OPEN(void** sess, void* pool, const char* name, int16_t length, int32_t throttle) {
  if (sess == nullptr || pool == nullptr || name == nullptr) return err::kMissingParameter;
  *sess = nullptr;
  void* record = nullptr;
  int16_t error = MEM_ALLOC(pool, &record, sizeof(TermSession));
  if (error != 0) return error;
  TermSession* s = session(record);
  std::memset(s, 0, sizeof *s);
  s->fnum = zeb::kNotOpen;
  error = FILE_OPEN_(mask({1, 2, 3, 6}), name, length, &s->fnum, 0, 0, 1);
  if (error == 0) {
    error = FILE_GETINFO_(mask({1, 6}), s->fnum, nullptr, nullptr, 0, nullptr, s->type_info);
    if (error != 0) FILE_CLOSE_(mask({1}), s->fnum);
  }
  if (error != 0) {
    // Nothing of a session that did not open stays behind. The record came
    // from this pool just above, so giving it back cannot fail; the open's
    // error is the one to report.
    MEM_FREE(pool, record);
    return error;
  }
  int16_t speed[2] = {0, 0};
  SETMODE(mask({1, 2, 5}), s->fnum, zeb::kSetModeLineSpeed, 0, 0, speed);
  s->split_read = (static_cast<uint16_t>(speed[0]) >> 8) < 17 ? zeb::kTrue : zeb::kFalse;
  s->blockmode = 0;
  s->mark = 0;
  s->fill = 0;
  s->pool = static_cast<uint32_t>(static_cast<char*>(record) - static_cast<char*>(pool));
  s->throttle = throttle;
  *sess = record;
  return 0;
}

int16_t TERM_CLOSE(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  // The session closes whatever the flush answers: output the terminal did
  // not take goes with it, as a caller that cares learns from TERM_FLUSH.
  TERM_FLUSH(s);
  FILE_CLOSE_(mask({1}), s->fnum);
  return MEM_FREE(static_cast<char*>(sess) - s->pool, sess);
}

int16_t TERM_FLUSH(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  if (s->fill == 0) return 0;
  bool started = false;
  int16_t error = send_buffered(s, s->fill, &started);
  if (started) {
    s->fill = 0;
    s->mark = 0;
  }
  return error;
}

int16_t TERM_SEND(void* sess, const void* data, int16_t length) {
  TermSession* s = session(sess);
  if (s == nullptr || (data == nullptr && length > 0)) return err::kMissingParameter;
  if (length < 0 || length > zeb::kTermMaxPiece) return err::kOutOfBounds;
  if (s->fill + length >= zeb::kTermFlushAt) {
    int16_t error = TERM_FLUSH(s);
    if (error != 0) return error;
  }
  s->mark = s->fill;
  if (length > 0) std::memcpy(s->buffer + s->fill, data, static_cast<size_t>(length));
  s->fill = static_cast<int16_t>(s->fill + length);
  return 0;
}

int16_t TERM_RECV(void* sess, void* buffer, int16_t maxlen, int16_t* count) {
  TermSession* s = session(sess);
  if (s == nullptr || buffer == nullptr || count == nullptr) return err::kMissingParameter;
  if (s->mark > 0 && (s->fill >= zeb::kTermSplitAt || s->split_read != 0)) {
    // The output before the latest piece goes first, on its own.
    bool started = false;
    int16_t error = send_buffered(s, s->mark, &started);
    if (started) {
      std::memmove(s->buffer, s->buffer + s->mark, static_cast<size_t>(s->fill - s->mark));
      s->fill = static_cast<int16_t>(s->fill - s->mark);
      s->mark = 0;
    }
    if (error != 0) return error;
  }
  if (s->throttle != 0) DELAY(s->throttle);
  *count = 0;
  WRITEREADX(mask({1, 2, 3, 4, 5}), s->fnum, s->buffer, s->fill, zeb::kTermMaxPiece, count);
  s->fill = 0;
  s->mark = 0;
  int16_t error = last_error(s->fnum);
  if (error != 0) return error;
  error = await(s, count, zeb::kTermWait);
  if (maxlen < *count) return err::kBufferTooSmall;
  std::memcpy(buffer, s->buffer, static_cast<size_t>(*count));
  return error;
}

int16_t TERM_FUNC_NW(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  int16_t error = TERM_FLUSH(s);
  if (error != 0) return error;
  READX(mask({1, 2, 3}), s->fnum, s->buffer, zeb::kTermMaxPiece);
  return last_error(s->fnum);
}

int16_t TERM_FUNC_COMPLETE(void* sess, void* buffer, int16_t maxlen, int16_t* count) {
  TermSession* s = session(sess);
  if (s == nullptr || buffer == nullptr || count == nullptr) return err::kMissingParameter;
  // The count comes from the caller's completion; no more than a read can
  // have left is ever copied.
  if (*count < 0 || *count > zeb::kTermMaxPiece) return err::kOutOfBounds;
  if (maxlen < *count) return err::kBufferTooSmall;
  std::memcpy(buffer, s->buffer, static_cast<size_t>(*count));
  return 0;
}

int16_t TERM_FUNC_CANCEL(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  CANCEL(s->fnum);  // its error is read back as the file's last error
  return last_error(s->fnum);
}

int16_t TERM_FUNC(void* sess, void* buffer, int16_t maxlen, int16_t* count, int32_t timelimit) {
  TermSession* s = session(sess);
  if (s == nullptr || buffer == nullptr || count == nullptr) return err::kMissingParameter;
  int16_t error = TERM_FUNC_NW(s);
  if (error != 0) return error;
  *count = 0;
  error = await(s, count, timelimit);
  if (error != 0) return error;
  return TERM_FUNC_COMPLETE(s, buffer, maxlen, count);
}

int16_t TERM_BLOCKMODE(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  if (s->type_info[0] != zeb::kDeviceTypeTerminal || s->type_info[1] != zeb::kSubtype6530) {
    return err::kNot6530;
  }
  int16_t error = TERM_FLUSH(s);
  if (error != 0) return error;
  SETMODE(mask({1, 2, 3}), s->fnum, zeb::kSetModeTerminalMode, 1);
  error = last_error(s->fnum);
  if (error != 0) return error;
  WRITEX(mask({1, 2, 3}), s->fnum, s->buffer, 0);
  error = last_error(s->fnum);
  if (error != 0) return error;
  int16_t count = 0;
  error = await(s, &count, zeb::kTermWait);
  if (error != 0) return error;
  if (s->blockmode == 0) {
    // The terminal's own parameter set is saved once, on the first switch.
    const int16_t block_params[4] = {0, 0, 0, 1};
    SETPARAM(mask({1, 2, 3, 4, 5, 6}), s->fnum, zeb::kSetParamTerminal, block_params, 8,
             s->saved_params, &s->saved_count);
    s->blockmode = zeb::kTrue;
  }
  return 0;
}

int16_t TERM_CONVMODE(void* sess) {
  TermSession* s = session(sess);
  if (s == nullptr) return err::kMissingParameter;
  int16_t error = TERM_FLUSH(s);
  if (error != 0) return error;
  SETMODE(mask({1, 2, 3}), s->fnum, zeb::kSetModeTerminalMode, 0);
  error = last_error(s->fnum);
  if (error != 0) return error;
  WRITEREADX(mask({1, 2, 3, 4}), s->fnum, s->buffer, 0, 0);
  error = last_error(s->fnum);
  if (error != 0) return error;
  int16_t count = 0;
  error = await(s, &count, zeb::kTermWait);
  if (s->blockmode != 0) {
    SETPARAM(mask({1, 2, 3, 4}), s->fnum, zeb::kSetParamTerminal, s->saved_params, s->saved_count);
    s->blockmode = zeb::kFalse;
  }
  return error;
}
