// Process and user identity: this process's processor and process number,
// other processes' identifiers, the local system number and user names.
//
// Processor and process numbers come from the host's process id (pid):
//   processor = (pid / 256) mod N, pin = pid mod 256,
// where N is the number of processor slots of the host (1 to 16, as
// REMOTEPROCESSORSTATUS reports them). The 16-bit cpu-and-pin word holds the
// processor in bits 11-8 and the pin in bits 7-0. Several host processes can
// share one word; PROCESSINFO then answers for this process when the word is
// its own, and otherwise for the living process with the lowest pid.
//
// A process is named when its environment holds a valid ZEB_PROCESS_NAME
// ("$" and up to five letters or digits, see zeb::platform::process_name()).
//
// User identifiers are 16 bits, group number in the high byte and user number
// in the low byte; on this host the identifier is the host's user id (uid), so
// uids 0 to 65535 are representable.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// This process's cpu-and-pin word (processor in the high byte).
ZEB_EXPORT int16_t MYPID();

// The number of the system this process runs on. The host is the only node
// and has system number 0.
ZEB_EXPORT int16_t MYSYSTEMNUMBER();

// Process identifier (4 words, 8 bytes) as PROCESSINFO gives it:
//   bytes 0-5: a named process's name, "$" and up to five characters,
//   blank-filled; for an unnamed process byte 0 is 0x80 (top bit set), byte 1
//   the system number, bytes 2-5 zero;
//   word 3 (bytes 6-7, host byte order): the cpu-and-pin word.
//
// Information about the process with cpu-and-pin word cpupin. Parameters
// after the mask, each optional, the results written only when present:
//  1 cpupin (required)
//  2 receives the 4-word process identifier
//  3 receives the creator accessor id (the process's real uid)
//  4 receives the process accessor id (its effective uid)
//  5 receives the priority (150; the host's scheduling is not shown)
//  6 receives the program file's 24-byte internal name
//  7 receives the home terminal's 24-byte internal name ($ZHOME)
//  8 system number (absent or -1: this system)
//  9 receives the process time in microseconds (this process only; other
//    processes give 0)
// Returns 0; 11 when no process has that word; 18 for another system;
// 29 when cpupin is missing.
//
// The program file's internal name: volume "$ZHOST", subvolume the name of
// the directory holding the executable, file the executable's name; each
// part upper case, letters and digits only, cut to 8 characters (a part that
// would be empty or not start with a letter gets a leading "Z").
ZEB_EXPORT int16_t PROCESSINFO(uint32_t mask, int16_t cpupin = 0, int16_t* process_id = nullptr,
                               int16_t* creator_id = nullptr,
                               int16_t* process_accessor_id = nullptr, int16_t* priority = nullptr,
                               char* program_file = nullptr, char* home_terminal = nullptr,
                               int16_t sysnum = -1, int64_t* process_time = nullptr);

// Looks a user identifier up in the host's user database. buffer is 8 words;
// word 0 holds the identifier on entry. On success the 16 bytes receive the
// group name (the user's primary group) and the user name, each cut to 8
// bytes and blank-filled, exactly as the host spells them, and the result is
// 0. Returns 11 when the host has no user with that uid (buffer untouched),
// 29 for a null buffer.
ZEB_EXPORT int16_t USERIDTOUSERNAME(int16_t* buffer);
