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

// ENV_READINFILE and ENV_WRITEOUTFILE on the library's environment.
ZEB_EXPORT int16_t ZEB_READINFILE(void* buffer, int16_t maxlen, int16_t* count);
ZEB_EXPORT int16_t ZEB_WRITEOUTFILE(const void* buffer, int16_t length);

// ENV_ADDPARAM on the library's environment.
ZEB_EXPORT int16_t ZEB_ADDPARAM(const char* name, int16_t name_length, const char* value,
                                int16_t value_length);

// ENV_SPAWN on the library's environment: 1 program (internal name), 2 process
// name, 3 processor, 4 priority, 5 start-up message, 6 receives the new
// process's identifier, 7 its creation error, 8 home terminal.
ZEB_EXPORT int16_t ZEB_SPAWN(uint32_t mask, const char* program = nullptr,
                             const char* name = nullptr, int16_t cpu = -1, int16_t priority = -1,
                             const char* startup = nullptr, int16_t* pid = nullptr,
                             int16_t* error = nullptr, const char* hometerm = nullptr);

// ENV_INQUIRE on the library's environment: 1 item, 2 key, 3 buffer,
// 4 length.
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

// MEM_ALLOC, MEM_FREE and MEM_STATS (1 stats, 2 reset) on the library's pool.
ZEB_EXPORT int16_t ZEB_MEMALLOC(void** buffer, int32_t size);
ZEB_EXPORT int16_t ZEB_MEMFREE(void* buffer);
ZEB_EXPORT int16_t ZEB_MEMSTATS(uint32_t mask, PoolStats* stats = nullptr, int16_t reset = 0);

// TIMER_INSERT (1 timer, 2 procedure, 3 ticks, 4 type, 5-7 arguments),
// TIMER_DELETE (1 timer, 2-4 argument selectors) and TIMER_DELAY on the
// library's timer list.
ZEB_EXPORT int16_t ZEB_TIMERINSERT(uint32_t mask, void** timer = nullptr,
                                   TimerProc procedure = nullptr, int32_t ticks = 0,
                                   int16_t type = 0, int16_t arg1 = 0, int16_t arg2 = 0,
                                   int32_t arg3 = 0);
ZEB_EXPORT int16_t ZEB_TIMERDELETE(uint32_t mask, void* timer = nullptr, int16_t arg1 = 0,
                                   int16_t arg2 = 0, int32_t arg3 = 0);
ZEB_EXPORT int16_t ZEB_TIMERDELAY(int32_t* delay);
