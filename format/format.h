// The format engine: expands a format string of the log language into a
// caller's buffer.
//
// Ordinary characters are copied. "@" and two hexadecimal digits stand for
// the byte with that code ("@@" for "@"). A backslash opens a directive that
// runs to the next backslash; its letter selects a field:
//   a v  strings          b o y  TRUE/FALSE, ON/OFF, YES/NO
//   c    processor type   d i q  32-, 16-, 64-bit integers
//   e    file-system error with its text
//   m    system message with its text
//   n    process-creation error with its text
//   f    file name        p      process       u  user
//   s    repeated character       t  date and time or elapsed time
//   z    blanks up to a column    \\ one backslash
// Each argument is the address of the value its directive shows; "%" in
// place of a number in a directive takes a 16-bit number from the next
// argument.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// Expands format into buffer and returns the number of bytes stored (0 to
// limit); no NUL is appended and no error is reported. Parameters after the
// mask: 1 format (bit 31), 2 buffer (bit 30), 3 limit (bit 29), 4-17 the
// arguments a1 to a14 (bits 28 to 15). Format, buffer and limit are required;
// without them nothing is stored and the result is 0. A negative limit counts
// as 0. A directive that needs an argument the mask does not mark as passed
// (or that is null) takes 0, or an empty text for directives that show text
// at an address; it never reads the slot.
ZEB_EXPORT int16_t UTIL_FORMAT(uint32_t mask, const char* format, char* buffer, int16_t limit,
                               const void* a1 = nullptr, const void* a2 = nullptr,
                               const void* a3 = nullptr, const void* a4 = nullptr,
                               const void* a5 = nullptr, const void* a6 = nullptr,
                               const void* a7 = nullptr, const void* a8 = nullptr,
                               const void* a9 = nullptr, const void* a10 = nullptr,
                               const void* a11 = nullptr, const void* a12 = nullptr,
                               const void* a13 = nullptr, const void* a14 = nullptr);

namespace zeb::format {

// The three code-to-text tables of the e, m and n directives.
enum class Table { kFileError, kProcessCreation, kSystemMessage };

// One entry of a table: a code and its text.
struct TableEntry {
  int16_t code;      // the error, message or creation-error number
  const char* text;  // its text, as the directive shows it in parentheses
};

// The entries of a table in ascending code order, and their number.
ZEB_EXPORT const TableEntry* table_entries(Table table, int* count);

// The text of code in table, or null when the table has no entry for it.
ZEB_EXPORT const char* table_text(Table table, int code);

}  // namespace zeb::format
