// The entry points for programs: after ZEB_STARTUP a program calls these
// without passing the library anything. Each finds the piece of library
// state its inner procedure needs (the environment record, the pool or the
// timer list) in the library context, puts it first and returns the inner
// procedure's result unchanged. An entry point with a parameter mask hands
// the mask on moved down one place with bit 31 set for the added parameter.
//
// Every entry point returns 309 before ZEB_STARTUP has set up what it needs
// (the pool and timer list for the memory and timer ones, the environment
// record for the others), and 2 when its mask has bits beyond its last
// parameter. The terminal entry points are in terminal/zeb_term.h.
#pragma once

#include <cstdint>

#include <zeb/containers/pool.h>
#include <zeb/containers/timer.h>
#include <zeb/env/env.h>
#include <zeb/platform/export.h>

// Reads one record of the IN file (start-up flag 0x0002) into buffer, at
// most maxlen bytes, and stores the count read. Returns the file's last
// error after the read (1 at the end of the file), 29 without env.
ZEB_EXPORT int16_t ENV_READINFILE(const EnvRecord* env, void* buffer, int16_t maxlen,
                                  int16_t* count);

// Writes one record of length bytes to the OUT file (start-up flag 0x0004).
// Returns the file's last error after the write, 29 without env.
ZEB_EXPORT int16_t ENV_WRITEOUTFILE(const EnvRecord* env, const void* buffer, int16_t length);

// ENV_READINFILE on the library's environment: reads one record of the IN
// file into buffer, at most maxlen bytes, and stores the count read.
// Returns the file's last error (1 at the end of the file), or 309 before
// ZEB_STARTUP.
// \see ENV_READINFILE
ZEB_EXPORT int16_t ZEB_READINFILE(void* buffer, int16_t maxlen, int16_t* count);

// ENV_WRITEOUTFILE on the library's environment: writes one record of
// length bytes to the OUT file. Returns the file's last error, or 309
// before ZEB_STARTUP.
// \see ENV_WRITEOUTFILE
ZEB_EXPORT int16_t ZEB_WRITEOUTFILE(const void* buffer, int16_t length);

// ENV_ADDPARAM on the library's environment: adds a parameter (name and
// value upshifted), replacing every parameter of the same name. Returns 0,
// 309 before ZEB_STARTUP, 22 for a length outside 0-255, 29 for a missing
// address with a non-zero length, or the pool's error.
// \see ENV_ADDPARAM
ZEB_EXPORT int16_t ZEB_ADDPARAM(const char* name, int16_t name_length, const char* value,
                                int16_t value_length);

// Starts a program as a child process and conducts its start-up
// conversation, as ENV_SPAWN does on the library's environment (which it
// passes as ENV_SPAWN's parameter 1): 1 program (24-byte internal name,
// required), 2 process name, 3 processor, 4 priority, 5 start-up message
// (absent: this process's own), 6 receives the new process's identifier,
// 7 its creation error word, 8 home terminal. The child is sent the start-up
// message and this process's ASSIGNs and PARAMs. Returns 0, 309 before
// ZEB_STARTUP, 2 for mask bits beyond parameter 8, or ENV_SPAWN's error:
// 29 without a program, 310 when $CMON refuses, 311 when no process could
// be created (parameter 7 says why), or the error of the conversation.
// \see ENV_SPAWN, which holds the whole contract.
ZEB_EXPORT int16_t ZEB_SPAWN(uint32_t mask, const char* program = nullptr,
                             const char* name = nullptr, int16_t cpu = -1, int16_t priority = -1,
                             const char* startup = nullptr, int16_t* pid = nullptr,
                             int16_t* error = nullptr, const char* hometerm = nullptr);

// Answers one question about the process's environment, as ENV_INQUIRE does
// on the library's environment: 1 item (required; ENVINFO_... in env.h),
// 2 key (a name, for items 8 to 16), 3 buffer that receives the answer,
// 4 length, stored when given. Returns 0, 309 before ZEB_STARTUP or when
// the start-up flag the item needs was not given, 2 for mask bits beyond
// parameter 4, 29 without the item or a needed key, 22 for an item out of
// range, 11 for no such ASSIGN or PARAM, 315 or 316 for a PARAM that is no
// number or address, or the error of the name look-up.
// \see ENV_INQUIRE, which holds the whole contract and the list of items.
ZEB_EXPORT int16_t ZEB_ENVINFO(uint32_t mask, int16_t item = 0, const char* key = nullptr,
                               void* buffer = nullptr, int16_t* length = nullptr);

// Opens a file by any name ENV_FNAME resolves (a logical name "=NAME" or a
// file name): 1 name and 2 the file number's reference are required (29);
// 3 to 10 are FILE_OPEN_'s options from its parameter 4 on (access,
// exclusion, nowait depth, sync or receive depth, options, then the
// sequential block buffer's id and length and the primary's process handle).
// The last three are accepted and ignored: this platform keeps no sequential
// block buffers and runs no process pairs. Returns the error of the
// resolution or of the open.
ZEB_EXPORT int16_t ZEB_OPEN(uint32_t mask, const char* name = nullptr, int16_t* filenum = nullptr,
                            int16_t access = 0, int16_t exclusion = 0, int16_t nowait_depth = 0,
                            int16_t sync_or_receive_depth = 0, int16_t options = 0,
                            int16_t seq_block_buffer_id = 0, int16_t seq_block_buffer_len = 0,
                            const void* primary_handle = nullptr);

// Allocates a buffer of at least size bytes from the library's pool (in the
// library's memory, sized by ZEB_STARTUP's parameter 1) and stores its
// address in *buffer; the buffer is 8-aligned and stays until ZEB_MEMFREE.
// Returns 0, 309 before ZEB_STARTUP, 29 when buffer is null, or 303 when the
// pool has no room (the size asked for is kept as the statistics' failsize
// and *buffer is not written).
// \see MEM_ALLOC, which holds the whole contract.
ZEB_EXPORT int16_t ZEB_MEMALLOC(void** buffer, int32_t size);

// Gives a buffer that ZEB_MEMALLOC returned back to the library's pool.
// Returns 0, 309 before ZEB_STARTUP, 304 when buffer is not a buffer in use
// of the pool (never allocated, or freed already), or 305 when its boundary
// tags were overwritten; a refused call changes nothing but the count of
// free requests.
// \see MEM_FREE, which holds the whole contract.
ZEB_EXPORT int16_t ZEB_MEMFREE(void* buffer);

// The library pool's statistics: 1 stats, filled when given (see
// PoolStats); 2 reset, which when given and non-zero starts the counts
// again after the record is filled. Returns 0, 309 before ZEB_STARTUP, or 2
// for mask bits beyond parameter 2. The start-up flag kFlagMemStats writes
// the same figures as three lines at shut-down (ZEB_SHOWMEMSTATS).
// \see MEM_STATS, which holds the whole contract.
ZEB_EXPORT int16_t ZEB_MEMSTATS(uint32_t mask, PoolStats* stats = nullptr, int16_t reset = 0);

// TIMER_INSERT on the library's timer list: 1 timer, 2 procedure, 3 ticks,
// 4 type, 5-7 arguments (procedure and ticks required). Returns 309 before
// ZEB_STARTUP, 2 for mask bits beyond parameter 7, 29 without a procedure
// or ticks, or TIMER_INSERT's result.
// \see TIMER_INSERT
ZEB_EXPORT int16_t ZEB_TIMERINSERT(uint32_t mask, void** timer = nullptr,
                                   TimerProc procedure = nullptr, int32_t ticks = 0,
                                   int16_t type = 0, int16_t arg1 = 0, int16_t arg2 = 0,
                                   int32_t arg3 = 0);

// TIMER_DELETE on the library's timer list: 1 timer, 2-4 argument
// selectors. Returns 309 before ZEB_STARTUP, 2 for mask bits beyond
// parameter 4, or TIMER_DELETE's result.
// \see TIMER_DELETE
ZEB_EXPORT int16_t ZEB_TIMERDELETE(uint32_t mask, void* timer = nullptr, int16_t arg1 = 0,
                                   int16_t arg2 = 0, int32_t arg3 = 0);

// TIMER_DELAY on the library's timer list. Returns 309 before ZEB_STARTUP,
// or TIMER_DELAY's result.
// \see TIMER_DELAY
ZEB_EXPORT int16_t ZEB_TIMERDELAY(int32_t* delay);
