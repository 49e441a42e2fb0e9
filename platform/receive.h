// $RECEIVE, the process's message queue, and process handles.
//
// A process opens its queue with FILE_OPEN_ under the name "$RECEIVE" (any
// case). Messages arrive from three sources, described in platform/README.md:
// the private channel a library parent handed the process, other processes
// of the same user that reach a named process by its name, and, for a
// program started from a shell, the start-up conversation the platform plays
// within the process. Each message is read with READUPDATE (and, when the
// queue was opened with nowait depth 1, completed with AWAITIO) and answered
// with REPLY before the next one is read. A read that delivers a system
// message ("open", "close") completes with error 6.
//
// Messages are byte strings whose integers are big-endian, whatever the
// channel. A message longer than the read count is cut to the read count.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// Starts a read of the next message: 1 file number ($RECEIVE), 2 buffer,
// 3 read count, 4 receives the count read (waited queue only), 5 tag
// (ignored). On a queue opened with nowait depth 0 the call waits for the
// message; with nowait depth 1 it returns at once and AWAITIO completes the
// read. Returns 0, 6 when the message is a system message, or the error; the
// result is also the file's last error. Errors: 2 when a message read before
// has not been replied to or the file is not $RECEIVE, 28 when a read is
// already outstanding, 16 for a file number that is not open.
ZEB_EXPORT int16_t READUPDATE(uint32_t mask, int16_t filenum = 0, void* buffer = nullptr,
                              int16_t read_count = 0, int16_t* count_read = nullptr,
                              int32_t tag = 0);

// Completes the outstanding read of a queue opened with nowait depth 1:
// 1 file number (in: the file, or -1 for any; out: the file completed),
// 2 receives the buffer's address, 3 receives the count read, 4 receives the
// tag, 5 time limit in hundredths of a second (-1 or absent: no limit; 0:
// only check). Returns 0, 6 for a system message, 40 when the time limit
// passed (the read is then cancelled unless the limit was 0), or the error
// of the read; the result is also the file's last error.
ZEB_EXPORT int16_t AWAITIO(uint32_t mask, int16_t* filenum = nullptr, void** buffer_addr = nullptr,
                           int16_t* count_read = nullptr, int32_t* tag = nullptr,
                           int32_t timelimit = -1);

// Answers the last message read on $RECEIVE: 1 reply data, 2 its length (at
// most what the sender accepts; more is cut), 3 receives the count sent,
// 4 message tag (ignored: one message is answered at a time), 5 the error
// number the sender receives. Returns 0; 2 when no message awaits a reply;
// 201 when the sender is gone (the reply is lost).
ZEB_EXPORT int16_t REPLY(uint32_t mask, const void* buffer = nullptr, int16_t write_count = 0,
                         int16_t* count_written = nullptr, int16_t message_tag = 0,
                         int16_t error = 0);

// The receive information of the last message read: 1 receives 17 words:
//   word 0      the kind of message: 0 system message, 3 a message that
//               expects a reply (every data message here)
//   word 1      the largest reply the sender accepts
//   word 2      the message tag (0)
//   word 3      the sender's file number (0: not known here)
//   words 4-5   sync id (0)
//   words 6-15  the sender's process handle
//   word 16     open label (0)
// 2 dialog information (0). Returns 0, or 2 when no message was read yet.
ZEB_EXPORT int16_t FILE_GETRECEIVEINFO_(uint32_t mask, int16_t* receive_info = nullptr,
                                        int32_t* dialog_info = nullptr);

// A process handle is 10 words:
//   word 0      1 (a process of this host)
//   word 1      the cpu-and-pin word (see procinfo.h)
//   words 2-3   the host process id, high word first
//   words 4-7   the process's start time in clock ticks since boot, high
//               word first (so a reused process id gives another handle)
//   word 8      the process's real user id (low 16 bits)
//   word 9      0
// The null handle is ten words of -1.

// Information about a process pair: 1 process handle (absent: this
// process), 2 pair name buffer, 3 its size, 4 receives the name's length,
// 5 receives the primary's handle, 6 receives the backup's handle,
// 7 search index, 8 receives the ancestor's handle, 9 node name, 10 its
// length, 11 options, 12 ancestor description buffer, 13 its size,
// 14 receives its length, 15 receives the error detail. This host has no
// process pairs: a named process is its own primary, has no backup (null
// handle) and no ancestor (null handle). Returns 0 for a named process, 7
// ("not a process pair") for an unnamed one, 11 for a handle of another
// process. Without parameter 1, parameter 2 names the pair to look up
// (parameter 3 bytes, blank padded or not): a living process of this user
// with that name is found (0, its handle through parameter 5) or not (11).
ZEB_EXPORT int16_t PROCESS_GETPAIRINFO_(
    uint32_t mask, const int16_t* processhandle = nullptr, char* pair = nullptr,
    int16_t pair_max = 0, int16_t* pair_len = nullptr, int16_t* primary = nullptr,
    int16_t* backup = nullptr, int32_t* search_index = nullptr, int16_t* ancestor = nullptr,
    const char* node = nullptr, int16_t node_len = 0, int16_t options = 0,
    char* ancestor_desc = nullptr, int16_t ancestor_desc_max = 0,
    int16_t* ancestor_desc_len = nullptr, int16_t* error_detail = nullptr);
