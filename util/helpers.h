// Process and system helpers: the creator of this process, the
// process-creation monitor $CMON, processes and nodes given as text, the
// interval clock, the time-zone offset, a small pseudo-random generator, a
// file's last error, creating a file like another, and two string searches.
//
// All are synchronous and keep no state of their own; UTIL_CMON holds $CMON
// open only for one request and its reply.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The 4-word process identifier of this process's creator (MOM); when the
// creator is not known, the ancestor recorded for this process's name
// (LOOKUPPROCESSNAME), zero when there is none either. Returns 0.
ZEB_EXPORT int16_t UTIL_MOM(int16_t* process_id);

// Asks the process-creation monitor $CMON whether a process may be created:
// program (24-byte internal name), priority and processor are in and out,
// name_a and name_b (24 bytes each; process spawning passes the new
// process's IN and OUT file names) go into the request. Returns true (-1)
// when creation is allowed, false (0) when the monitor refused or this
// process could not be asked about. A monitor that answers 0 replaces
// program, priority and processor with its reply's (each only when the
// reply holds it whole). Without a monitor (none runs, or it answers with an
// error) creation is allowed: a processor of -1 becomes this process's own,
// a priority of -1 this process's priority minus 1.
ZEB_EXPORT int16_t UTIL_CMON(char* program, int16_t* priority, int16_t* processor,
                             const char* name_a, const char* name_b);

// A process given as text (NUL-terminated): "cpu,pin" in decimal, or a
// process name. Returns 0 with processor and pin stored; 22 for a missing
// comma or a name no living process carries; the conversion status of a
// malformed number.
ZEB_EXPORT int16_t UTIL_GETPID(const char* text, int16_t* processor, int16_t* pin);

// The node a text (NUL-terminated) begins with: "\NAME" (the result is the
// length of the backslash and the letters and digits after it, -1 when no
// node has that name), a decimal number (its length, -1 when malformed), or
// anything else (0: this node). The node number is stored unless the result
// is -1.
ZEB_EXPORT int16_t UTIL_GETSYSTEMNUMBER(const char* text, int16_t* node);

// The interval clock (TIMESTAMP) as the low 48 bits of a 64-bit value.
ZEB_EXPORT int64_t UTIL_TIMESTAMP();

// Local civil time minus Greenwich time, rounded to the nearest hour (a half
// hour rounds up): -5 for a zone five hours behind Greenwich.
ZEB_EXPORT int16_t UTIL_TIMEZONE();

// seed = seed * 5711 + 11 modulo 65536 (unsigned 16-bit); returns the new
// seed modulo range, both unsigned, or the new seed itself for range 0.
ZEB_EXPORT int16_t UTIL_RND(int16_t* seed, int16_t range);

// The last error of an open file number; the error of asking (16: not open)
// when there is none to give.
ZEB_EXPORT int16_t UTIL_FILESTATUS(int16_t filenum);

// Creates the file new_name (text ended by a NUL or a blank) with the
// attributes of model_name: file code, extents, file type, record and block
// lengths as FILEINFO and FILERECINFO give them, and the model's permission
// bits. Returns 0, 13 for a name that is not a file name, the error of
// looking at the model, 11 when its record information cannot be had, or
// the error of the creation.
ZEB_EXPORT int16_t UTIL_CREATELIKE(const char* new_name, const char* model_name);

// The first offset from start (parameter 5, default 0) up to length -
// pattern length at which pattern occurs in string, byte for byte; -1 when
// it does not occur or a required parameter (1-4) is missing. An empty
// pattern matches at start.
ZEB_EXPORT int16_t UTIL_INSTR(uint32_t mask, const char* string = nullptr, int16_t length = 0,
                              const char* pattern = nullptr, int16_t pattern_length = 0,
                              int16_t start = 0);

// The number of equal leading characters of the two strings (ASCII letters
// equal to the same letter in the other case), up to the shorter length.
ZEB_EXPORT int16_t UTIL_NOCASECOMPARE(const char* string1, int16_t length1, const char* string2,
                                      int16_t length2);
