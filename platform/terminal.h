// Terminal procedures: nowait I/O with time limits, write-read, cancel,
// terminal modes and parameters, and the process's delay.
//
// A terminal file is opened with FILE_OPEN_ by a terminal name (see
// platform/README.md: the standard streams $ZHOME, $ZIN, $ZOUT and $ZERR
// opened with a nowait depth, or a device name such as $PTS3 or $ZTTY).
// Opened with nowait depth 1, each WRITEX, READX or WRITEREADX on it only
// starts the operation; AWAITIOX completes it. At most one operation is
// outstanding per file. Conversational mode is the tty's canonical line
// mode, block mode its raw mode (SETMODE function 8).
//
// Every procedure returns 0 or a file-system error number, which also
// becomes the file's last error (FILE_GETINFO_).
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

namespace zeb {
constexpr int16_t kDeviceTypeTerminal = 6;  // the device type of every terminal
constexpr int16_t kSubtype6530 = 4;         // a 6530 block-mode terminal
// SETMODE functions and the SETPARAM function of terminals.
constexpr int16_t kSetModeTerminalMode = 8;  // 0 conversational, 1 block mode
constexpr int16_t kSetModeLineSpeed = 22;    // line speed code in the first word's high byte
constexpr int16_t kSetParamTerminal = 3;     // the terminal's 8-byte parameter set
}  // namespace zeb

// Waits for a nowait operation to complete: 1 file number (in: the file, or
// -1 for whichever file's operation completes first; out: that file),
// 2 receives the buffer's address, 3 receives the count transferred, 4
// receives the tag (0), 5 time limit in hundredths of a second (absent or
// negative: no limit; 0: only look), 6 receives the segment id (-1).
// Returns the operation's error; 40 when the time limit passes first, which
// leaves the operation outstanding (CANCEL ends it); 26 when nothing is
// outstanding; 25 for a file opened without a nowait depth.
ZEB_EXPORT int16_t AWAITIOX(uint32_t mask, int16_t* filenum = nullptr, void** buffer_addr = nullptr,
                            int16_t* count_transferred = nullptr, int32_t* tag = nullptr,
                            int32_t timelimit = -1, int16_t* segment_id = nullptr);

// Cancels the outstanding operation of a nowait file. Returns 0, 26 when
// nothing is outstanding, 25 for a waited file.
ZEB_EXPORT int16_t CANCEL(int16_t filenum);

// Sets or reads a terminal mode: 1 file number, 2 function, 3 first value,
// 4 second value, 5 receives the two words of the setting before the call.
// Function 8: 0 conversational (canonical) mode, 1 block (raw) mode.
// A process in the background of its terminal is not stopped (SIGTTOU) by
// a change of mode or parameters: the change is made (see
// platform/README.md, Terminals).
// Function 22 (read only): the line speed, in hundreds of bits per second
// (at most 255) in the first word's high-order byte.
ZEB_EXPORT int16_t SETMODE(uint32_t mask, int16_t filenum = 0, int16_t function = 0,
                           int16_t param1 = 0, int16_t param2 = 0, int16_t* last_params = nullptr);

// Sets or reads a terminal's parameter set: 1 file number, 2 function (3),
// 3 new parameter array, 4 its length in bytes (8; 0 or absent: no change),
// 5 receives the array before the call, 6 receives its length (8), 7 the
// size of parameter 5's buffer (at least 8 when given), 8 tag (ignored).
// The eight bytes are four 16-bit words; platform/README.md gives their
// meaning.
ZEB_EXPORT int16_t SETPARAM(uint32_t mask, int16_t filenum = 0, int16_t function = 0,
                            const void* param_array = nullptr, int16_t param_count = 0,
                            void* last_param_array = nullptr, int16_t* last_param_count = nullptr,
                            int16_t last_param_max = 0, int32_t tag = 0);

// Suspends the process for ticks hundredths of a second (0 or less: not at
// all).
ZEB_EXPORT void DELAY(int32_t ticks);
