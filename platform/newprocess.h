// Creating processes and finding them again: NEWPROCESS, the creator of a
// process (MOM), the home terminal (MYTERM), named processes
// (LOOKUPPROCESSNAME), process handles (PROCESSHANDLE_DECOMPOSE_), the
// interval clock (TIMESTAMP) and node names (NODENAME_TO_NODENUMBER_).
//
// A child made by NEWPROCESS runs the program with this process's standard
// input, output and error and its environment (DEFINEs and ZEB_ settings),
// and with nothing else of it: no other descriptor but the private channel
// of $RECEIVE reaches it. The library reaps the children it made as they end
// (each is watched through a pidfd by a thread of its own); it never waits
// for other children of the program and never touches its signal handling.
#pragma once

#include <cstdint>
#include <string>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

namespace zeb {
// The process-creation error word of NEWPROCESS: the error in the high byte
// and a file-system error number giving the detail in the low byte.
constexpr int16_t kCreateOutOfProcesses = 2;  // the host refused another process
constexpr int16_t kCreateProgramFile = 3;     // program file: not found, bad name, no access
constexpr int16_t kCreateNotProgram = 6;      // the file is not a program this host can run
constexpr int16_t kCreateNameError = 8;       // process name malformed or in use
constexpr int16_t kCreateLibraryFile = 11;    // a file the program needs (its "#!" interpreter)
// The creation error word of an error and its detail.
constexpr int16_t create_error_word(int16_t error, int16_t detail) {
  return static_cast<int16_t>((error << 8) | (detail & 0xFF));
}
// The priority every process reports for itself (PROCESS_GETINFO_,
// PROCESSINFO). A child's priority is relative to it: see NEWPROCESS.
constexpr int16_t kOwnPriority = 150;
}  // namespace zeb

// Creates a process. Parameters after the mask:
//  1 program file, 24-byte internal name (required): a file of a directory
//    volume ($VOLUME.SUBVOL.FILE), or $ZHOST.SUBVOL.FILE for a program on the
//    host's own file system (see platform/README.md), the form PROCESSINFO
//    gives for a program file
//  2 priority: 1 to 199; absent, 0 or -1: this process's own. Every step of
//    5 below this process's priority adds 1 to the child's nice value (up to
//    19); a higher priority asks for a lower nice value, which the host
//    grants only to privileged users and otherwise ignores
//  3 memory pages (ignored)
//  4 processor (ignored: the host schedules a process on any processor, and
//    a process's processor number follows from its host pid)
//  5 receives the new process's 4-word process identifier
//  6 receives the process-creation error word (0: created)
//  7 process name, 6 bytes ("$" and up to five letters or digits, blank
//    padded); absent: the child is unnamed (it does not inherit this
//    process's name)
//  8 home terminal, 24-byte internal name (accepted; the child's home
//    terminal is the standard output it inherits)
// The child inherits one end of a new private channel ($RECEIVE) whose other
// end this process keeps: OPEN of the child's process identifier speaks
// over it. Returns the error word (also stored through parameter 6).
ZEB_EXPORT int16_t NEWPROCESS(uint32_t mask, const char* program = nullptr, int16_t priority = -1,
                              int16_t memory_pages = 0, int16_t processor = -1,
                              int16_t* process_id = nullptr, int16_t* error = nullptr,
                              const char* name = nullptr, const char* hometerm = nullptr);

// Opens a file by its 24-byte internal name: 1 name, 2 receives the file
// number, 3 flags and 4 sync depth (ignored). A process is named by the
// first 6 bytes of its identifier (a named process) or all 8 (an unnamed
// one, which only its creator can reach), blanks after that; opening it
// sends it "open", and closing it (FILE_CLOSE_) sends "close". WRITEX to it
// sends a message and waits for the reply, whose error becomes the write's;
// WRITEREADX takes the reply's data too. Any other name is a disk file,
// device or stream as FILE_OPEN_ opens it. Returns 0 or the error, which is
// also the last error of file number -1: 14 when no such process can be
// reached, the error it answered "open" with, 201 when it ended.
ZEB_EXPORT int16_t OPEN(uint32_t mask, const char* name = nullptr, int16_t* filenum = nullptr,
                        int16_t flags = 0, int16_t sync_depth = 0);

// The 4-word process identifier of this process's creator: the process that
// started it (for a program started by a library parent, that parent; for a
// program started from a shell, the shell). Eight zero bytes when the creator
// is not known (it had already ended, or the process was started by the
// host's init). Fixed at its first use.
ZEB_EXPORT void MOM(int16_t* process_id);

// The 24-byte internal name of this process's home terminal ($ZHOME).
ZEB_EXPORT void MYTERM(char* name);

// Looks a named process up. ppd is 9 words; words 0-2 hold the name ("$"
// and up to five characters, blank padded). On success word 3 receives its
// cpu-and-pin word, word 4 the backup's (0: none on this host) and words 5-8
// the process identifier of its creator (zero when not known). Returns 0, or
// 14 when no living process of this user carries the name.
ZEB_EXPORT int16_t LOOKUPPROCESSNAME(int16_t* ppd);

// The parts of a process handle (layout in platform/README.md). Parameters
// after the mask: 1 handle (required), 2 receives the processor, 3 the pin,
// 4 the node number, 5-7 node name buffer, its size and the name's length,
// 8-10 process name buffer, its size and the name's length (0 for an
// unnamed process), 11 the sequence number (the process's start time).
// Returns 0, 29 without a handle, 22 for a handle that names no process of
// this host or a buffer too small.
ZEB_EXPORT int16_t PROCESSHANDLE_DECOMPOSE_(
    uint32_t mask, const int16_t* handle = nullptr, int16_t* cpu = nullptr, int16_t* pin = nullptr,
    int32_t* node = nullptr, char* nodename = nullptr, int16_t nodename_max = 0,
    int16_t* nodename_len = nullptr, char* procname = nullptr, int16_t procname_max = 0,
    int16_t* procname_len = nullptr, int64_t* sequence = nullptr);

// This process's own process handle (10 words).
ZEB_EXPORT void PROCESSHANDLE_GETMINE_(int16_t* handle);

// The interval clock: three words (most significant first) of a 48-bit count
// of hundredths of a second on the processor clock.
ZEB_EXPORT void TIMESTAMP(int16_t* interval_clock);

// The number of the node named name (length bytes, "\" and the node name).
// The host is the only node: "\" followed by its host name (see
// platform/README.md), in either case, has number 0. Returns 0, 18 for a
// node that does not exist, 29 for a missing parameter.
ZEB_EXPORT int16_t NODENAME_TO_NODENUMBER_(uint32_t mask, const char* name = nullptr,
                                           int16_t length = 0, int32_t* node = nullptr);

namespace zeb::platform {
// The host's node name: "\" and the host name's first label, upper case,
// letters and digits only, at most seven characters after the backslash.
ZEB_EXPORT std::string node_name();
}  // namespace zeb::platform
