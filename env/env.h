// The process environment: what a process learns from its parent at start-up
// (start-up message, ASSIGNs, PARAMs), the inquiry of it, logical file names
// and the configuration file, and the small name and text utilities all of
// it rests on.
//
// One environment record per process, allocated from a memory pool by
// ENV_STARTUP and never released. Its 32-bit address fields and list links
// are signed 32-bit byte offsets relative to the word that holds them (as the
// timer list keeps its links), so the record and its lists work wherever
// their pool is mapped: an empty list's head holds 0, "itself". The lists are
// singly linked, newest node first; a walk ends at the node whose link leads
// back to the head.
//
// One thread; nothing is locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The environment record. Filled with blanks by ENV_STARTUP before any field
// is set.
struct EnvRecord {
  int64_t start_time;      // local civil time of ENV_STARTUP, Julian microseconds
  int32_t pool;            // the pool, as an offset from this record: pool = record + pool
  uint16_t flags;          // the start-up flags given to ENV_STARTUP
  int16_t in_fnum;         // IN file number; -2 while not open
  int16_t out_fnum;        // OUT file number; -2 while not open
  int16_t term_fnum;       // home terminal file number; -2 while not open
  int32_t param_list;      // head of the PARAM list (link relative to this field)
  int32_t assign_list;     // head of the ASSIGN list (link relative to this field)
  char default_names[16];  // default volume (8) and subvolume (8), blank padded
  char lconf_name[48];     // the configuration file's external name, blank padded
  int16_t startup_len;     // length of the start-up message as received; 0 until one arrives
  char startup_msg[602];   // the start-up message, one NUL byte after it, blanks after that
};
static_assert(offsetof(EnvRecord, pool) == 8);
static_assert(offsetof(EnvRecord, flags) == 12);
static_assert(offsetof(EnvRecord, param_list) == 20);
static_assert(offsetof(EnvRecord, assign_list) == 24);
static_assert(offsetof(EnvRecord, default_names) == 28);
static_assert(offsetof(EnvRecord, lconf_name) == 44);
static_assert(offsetof(EnvRecord, startup_len) == 92);
static_assert(offsetof(EnvRecord, startup_msg) == 94);
static_assert(sizeof(EnvRecord) == 696);

// Item codes of ENV_INQUIRE.
inline constexpr int16_t ENVINFO_STARTUP = 0;
inline constexpr int16_t ENVINFO_DEFAULTS = 1;
inline constexpr int16_t ENVINFO_INFILE = 2;
inline constexpr int16_t ENVINFO_INFNUM = 3;
inline constexpr int16_t ENVINFO_OUTFILE = 4;
inline constexpr int16_t ENVINFO_OUTFNUM = 5;
inline constexpr int16_t ENVINFO_TERMFNUM = 6;
inline constexpr int16_t ENVINFO_PARAMTEXT = 7;
inline constexpr int16_t ENVINFO_ASSIGN = 8;
inline constexpr int16_t ENVINFO_PARAM = 9;
inline constexpr int16_t ENVINFO_PARAMIPADDR = 10;
inline constexpr int16_t ENVINFO_PARAMINT = 11;
inline constexpr int16_t ENVINFO_PARAMDOUBLE = 12;
inline constexpr int16_t ENVINFO_FNAME = 13;
inline constexpr int16_t ENVINFO_FNAMEINTERNAL = 14;
inline constexpr int16_t ENVINFO_LCONFFNAME = 15;
inline constexpr int16_t ENVINFO_LCONFFNAMEINTERNAL = 16;
inline constexpr int16_t ENVINFO_PARAMTEXTASIS = 17;
// How many ASSIGN and PARAM messages of the parent the start-up intake got
// and could not store (the store's pool was full, say): 4 bytes, a signed
// 32-bit count, 0 when nothing was lost. Needs flag 0x0001. A code of its
// own far from the others, so that 18 onward stay invalid (22).
inline constexpr int16_t ENVINFO_DROPPED = 100;

namespace zeb {

// Start-up flags: what ZEB_STARTUP and ENV_STARTUP do, kept in the
// environment record's flags and the library context's.
constexpr uint16_t kFlagStartupProtocol = 0x0001;  // read start-up, ASSIGN, PARAM messages
constexpr uint16_t kFlagOpenIn = 0x0002;           // open the IN file
constexpr uint16_t kFlagOpenOut = 0x0004;          // open the OUT file
constexpr uint16_t kFlagOpenHomeTerm = 0x0008;     // open the home terminal
constexpr uint16_t kFlagLogToOut = 0x0010;         // log lines go to the OUT file
constexpr uint16_t kFlagLogToTerm = 0x0020;        // log lines go to the home terminal
constexpr uint16_t kFlagLogStarted = 0x0040;       // "\p\ started." at the end of start-up
constexpr uint16_t kFlagLogStopped = 0x0080;  // CPU time, elapsed time, "Stopped." at shut-down
constexpr uint16_t kFlagLogPrefix = 0x0100;   // time and process name before each line
constexpr uint16_t kFlagAbendOnLogError = 0x0200;  // abend when a log line cannot be written
constexpr uint16_t kFlagTermSession = 0x1000;      // terminal session from start-up to shut-down
constexpr uint16_t kFlagMemStats = 0x2000;         // pool statistics at shut-down

// The messages of the start-up conversation and the list nodes that keep
// ASSIGNs and PARAMs (a 32-bit link relative to the node, the message
// length, the message) are laid out by the platform's message codec.

// The configuration file's records.
constexpr int16_t kLconfRecordSize = 464;
constexpr int32_t kLconfKeySize = 50;
constexpr int32_t kLconfNameOffset = 18;  // entry name, 32 bytes
constexpr int32_t kLconfNameSize = 32;
constexpr int32_t kLconfValueLenOffset = 344;  // "P": value length, 16-bit big-endian
constexpr int32_t kLconfValueOffset = 346;     // "P": value text
constexpr int32_t kLconfFileOffset = 344;      // "A": file name, 35 bytes
constexpr int32_t kLconfFileSize = 35;
constexpr int32_t kLconfAltOffset = 379;  // "A": alternate name, up to 47 bytes
constexpr int32_t kLconfAltSize = 47;

// Reading and setting the record's relative address fields. The record
// always lies inside its own pool, so the offsets stay small.
inline void* env_pool(const EnvRecord* env) {
  return const_cast<char*>(reinterpret_cast<const char*>(env)) + env->pool;
}
// Stores pool in the record as its offset from the record.
inline void env_set_pool(EnvRecord* env, void* pool) {
  env->pool = static_cast<int32_t>(static_cast<char*>(pool) - reinterpret_cast<char*>(env));
}
// An empty list: its head leads to itself.
constexpr int32_t kEmptyList = 0;

// The longest chain of logical names ENV_FNAME follows before giving 13.
constexpr int kMaxNameExpansions = 16;

}  // namespace zeb

// A start-up call-back: gets the user data given to ENV_INITIALIZER_, the
// message (valid only during the call) and its length. Returns an error.
using EnvCallback = int16_t (*)(void* user_data, const void* message, int16_t length);

// ---------------------------------------------------------------------------
// Start-up and shut-down of the environment.

// Parameters: 1 env (receives the new record's address), 2 pool, 3 flags
// (start-up flags), 4 lconf (logical name of the configuration file,
// default "=lconf"). 1 to 3 are required (29). Allocates and fills the
// record, runs the intake with flag 0x0001, opens the IN (0x0002), OUT
// (0x0004) and home-terminal (0x0008) files, resolves lconf into lconf_name.
// Returns 0 or the error of the step that failed.
ZEB_EXPORT int16_t ENV_STARTUP(uint32_t mask, EnvRecord** env = nullptr, void* pool = nullptr,
                               uint16_t flags = 0, const char* lconf = nullptr);

// Parameters: 1 env, 2 code. Writes the closing lines (flag 0x0080), closes
// the IN, OUT and home-terminal files and stops the process; a missing env or
// a non-zero code ends it abnormally. Does not return.
[[noreturn]] ZEB_EXPORT void ENV_SHUTDOWN(uint32_t mask, EnvRecord* env = nullptr,
                                          int16_t code = 0);

// Reads the start-up conversation from $RECEIVE and hands the start-up,
// ASSIGN and PARAM messages to the call-backs (parameters 1-3, each
// optional), passing user_data (parameter 4) to each. Returns 0 when the
// parent closed the process, else the first file-system error (40: nothing
// arrived in time).
ZEB_EXPORT int16_t ENV_INITIALIZER_(uint32_t mask, EnvCallback startup_proc = nullptr,
                                    EnvCallback assign_proc = nullptr,
                                    EnvCallback param_proc = nullptr, void* user_data = nullptr);

// Call-back for the start-up message: user_data is the EnvRecord. Stores the
// message in startup_msg with a NUL after it, its length in startup_len and
// the default volume and subvolume in default_names. Returns 0.
ZEB_EXPORT int16_t ENV_STARTUPPROC_(void* env, const void* message, int16_t length);

// ---------------------------------------------------------------------------
// The ASSIGN and PARAM store.

// Call-back for an ASSIGN message: stores it whole, newest first, with a
// blank physical volume (and, when a file is named, a blank subvolume) taken
// from the start-up message's defaults. Returns 0, 308 for a message shorter
// than 94 bytes, or the pool's error.
ZEB_EXPORT int16_t ENV_ASSIGNPROC_(void* env, const void* message, int16_t length);

// Call-back for a PARAM message: adds each of its parameters with
// ENV_ADDPARAM. A message whose parameters run past length is refused whole
// with 308. Returns 0 or the first error.
ZEB_EXPORT int16_t ENV_PARAMPROC_(void* env, const void* message, int16_t length);

// Adds a parameter (name and value upshifted), replacing every parameter of
// the same name. Returns 0, 22 for a length outside 0-255, 29 for a missing
// address with a non-zero length, or the pool's error.
ZEB_EXPORT int16_t ENV_ADDPARAM(EnvRecord* env, const char* name, int16_t name_length,
                                const char* value, int16_t value_length);

// ---------------------------------------------------------------------------
// Inquiry and logical names.

// Parameters: 1 env, 2 item (ENVINFO_...), 3 key (text ended by a blank or
// NUL, or a counted name), 4 buffer, 5 length. env and item are required,
// the key for items 8 to 16 (29). The length is stored when asked, the
// result copied when a buffer is given. Items 0 to 17 and ENVINFO_DROPPED
// (100). Returns 0, 29, 22 (item out of range), 309 (the flag the item needs is not set), 11 (no
// such ASSIGN or PARAM), 315, 316, or the error of ENV_FNAME.
ZEB_EXPORT int16_t ENV_INQUIRE(uint32_t mask, const EnvRecord* env = nullptr, int16_t item = 0,
                               const char* key = nullptr, void* buffer = nullptr,
                               int16_t* length = nullptr);

// Resolves a file name: parameters 1 env and 2 name (required, 29), 3
// internal (24 bytes), 4 external (no terminator), 5 length of the external
// name, 6 translate (non-zero: the configuration file's alternate name first).
// Logical names (=NAME) resolve through a DEFINE, an ASSIGN or the
// configuration file, repeatedly; external names get the default volume and
// subvolume. Results are stored only on success. Returns 0, 29, 13 (a chain
// longer than 16 names, or a name that cannot be expanded), or the error of
// the look-up that failed.
ZEB_EXPORT int16_t ENV_FNAME(uint32_t mask, const EnvRecord* env = nullptr,
                             const char* name = nullptr, char* internal = nullptr,
                             char* external = nullptr, int16_t* length = nullptr,
                             int16_t translate = 0);

// The configuration file (file: its external name ended by a blank). Item 0:
// the "P" record's value and one blank; 1: the "A" record's file name and 2:
// its alternate name, each as 48 bytes of cleaned file-name text. Returns 0,
// 2 for another item, or the error of the look-up.
ZEB_EXPORT int16_t LCONF_INFO(const char* file, int16_t item, const char* key, char* result);

// Reads the record of type (low byte: 'P' or 'A') and entry name key (a
// leading "=" skipped) into the 464-byte record area. Returns 0 or the
// file-system error (11: no such record).
ZEB_EXPORT int16_t LCONF_READ_(const char* file, int16_t type, const char* key, char* record);

// ---------------------------------------------------------------------------
// Process spawning.

// Starts a process and hands it its start-up conversation. Parameters after
// the mask: 1 env and 2 program (24-byte internal name) are required (29);
// 3 process name (6 bytes; absent: unnamed), 4 processor and 5 priority
// (absent: -1), 6 start-up message (absent: this process's own, or, when
// none arrived, one with this process's defaults, blank IN and OUT names
// and an empty parameter text), 7 receives the new process's identifier,
// 8 its creation error word, 9 home terminal (absent: MYTERM's). $CMON is
// asked first (310 when it refuses: nothing is created); a failed creation
// gives 311. The child is then opened and sent the start-up message and,
// when it answers that with 70, every ASSIGN and every PARAM, newest first,
// and closed. Returns 0, or the first error met: of the open, or a reply
// other than 70 or 0 to the start-up message, or other than 0 to an ASSIGN
// or PARAM (201 when the child ended). A start-up message whose parameter
// text has no NUL within the 596 bytes a child reads is refused (22) before
// anything is created. The child is never stopped.
ZEB_EXPORT int16_t ENV_SPAWN(uint32_t mask, EnvRecord* env = nullptr, const char* program = nullptr,
                             const char* name = nullptr, int16_t cpu = -1, int16_t priority = -1,
                             const char* startup = nullptr, int16_t* pid = nullptr,
                             int16_t* error = nullptr, const char* hometerm = nullptr);

// ---------------------------------------------------------------------------
// Name and text utilities.

// Text up to the first blank or NUL, at most 47 characters, upshifted into
// dst and blank padded to 48 bytes.
ZEB_EXPORT void UTIL_CLEANUPFILENAME(const char* src, char* dst);

// A counted name (length byte, then upshifted characters) from a counted
// name (first byte below 0x20) or from text ended by a blank or NUL (at most
// 48 characters; a leading "=" dropped). dst holds up to 49 bytes.
ZEB_EXPORT void UTIL_CLEANUPPARAMNAME(const char* src, char* dst);

// The number of bytes before the first blank; without a blank, before the
// first NUL, and at most 48.
ZEB_EXPORT int16_t UTIL_NAMELEN(const char* name);

// The 24-byte internal name as external text followed by one NUL; returns the
// text's length.
ZEB_EXPORT int16_t UTIL_FNAMECOLLAPSE(const char* internal, char* external);

// 0 when the two open file numbers designate the same file, 313 when not, or
// the file-system error of asking.
ZEB_EXPORT int16_t UTIL_SAMEFILE(int16_t fnum1, int16_t fnum2);

// dst[i] = src[i] with a-z made A-Z, for i below len (nothing when len <= 0).
// src and dst may be the same area.
ZEB_EXPORT void UTIL_UPSHIFT(const void* src, void* dst, int16_t len);

// Sets len bytes at dst to the low byte of ch (nothing when len <= 0).
ZEB_EXPORT void UTIL_FILL(void* dst, int16_t len, int16_t ch);

// The decimal number in the len bytes of text, signed 32-bit. Returns 0, or
// 315 when the text is not a number in full or longer than 63 characters.
ZEB_EXPORT int16_t UTIL_DOUBLE(const char* text, int16_t len, int32_t* result);

// Four dotted decimal fields of 0 to 255 in the len bytes of text into four
// bytes. Returns 0 or 316; bytes before the failing field stay stored.
ZEB_EXPORT int16_t UTIL_IPADDR(const char* text, int16_t len, uint8_t* result);

// The local civil time now as a Julian timestamp in microseconds.
ZEB_EXPORT int64_t UTIL_CIVILTIME();
