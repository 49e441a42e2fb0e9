// The log path of the environment and the intake's wait.
//
// ENV_LOG expands a format into one line of at most 160 bytes and
// ENV_WRITELOG writes it to the OUT file (flag 0x0010) and the home terminal
// (flag 0x0020) of the environment record, once when both are the same file.
#pragma once

#include <cstdint>

#include <zeb/env/env.h>

// Writes one log line: 1 env, 2 format, 3-14 up to twelve arguments (each
// the address of the value a directive shows). With flag 0x0100 the line
// begins with the date, the time and the process name. Only the arguments
// given are handed to the format engine, so a directive without one fails
// in the engine's defined way instead of reading a slot nobody filled.
// Returns the error of the write (0, 29 without env or format).
int16_t ENV_LOG(uint32_t mask, EnvRecord* env = nullptr, const char* format = nullptr,
                const void* a1 = nullptr, const void* a2 = nullptr, const void* a3 = nullptr,
                const void* a4 = nullptr, const void* a5 = nullptr, const void* a6 = nullptr,
                const void* a7 = nullptr, const void* a8 = nullptr, const void* a9 = nullptr,
                const void* a10 = nullptr, const void* a11 = nullptr, const void* a12 = nullptr);

// Writes one finished line of length bytes. A failed write ends the process
// abnormally under flag 0x0200, after one line on standard error that names
// the file; otherwise its error is returned, and ENV_SHUTDOWN reports the
// first lost line and ends the process abnormally, so that a run whose
// output was lost never ends as a success.
int16_t ENV_WRITELOG(EnvRecord* env, const char* buffer, int16_t length);

namespace zeb {

// The time limit of each wait of the start-up intake, in hundredths of a
// second: 3000 (30 seconds). A library parent that says nothing for that
// long ends the intake with 40. Tests shorten it instead of waiting.
int32_t& intake_time_limit();

// How many ASSIGN and PARAM messages from the parent the intake of this
// process (of the host in force) could not store.
int32_t intake_dropped();

// The first log write that failed since the process started (error 0:
// none), and its file number.
struct LostWrite {
  int16_t error = 0;
  int16_t fnum = -2;
};
const LostWrite& lost_write();

// Writes "<program>: write error on <file>: error <n> (<text>)" to standard
// error for the first lost write.
void report_lost_write();

}  // namespace zeb
