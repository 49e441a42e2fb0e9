// Byte utilities: two cyclic redundancy checks that can be computed piecewise,
// translation between ASCII and EBCDIC, lower-casing, replacement of
// non-printable bytes for display, and conversion between bytes and
// hexadecimal text.
//
// Every procedure works on caller buffers, allocates nothing, keeps no state
// and only reads constant tables, so all of them are re-entrant. The caller
// guarantees that the buffers hold the counts it passes.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// CRC-16 with the reflected polynomial 0xA001 (generator 0x8005), without
// inversion. Starting from 0 this is CRC-16/ARC ("123456789" gives 0xBB3D,
// returned as -17603); starting from -1 (0xFFFF) it is CRC-16/MODBUS. A CRC
// over data in pieces is obtained by passing each piece's result as the next
// piece's starting value. A length of 0 or less returns crc unchanged.
ZEB_EXPORT int16_t UTIL_CRC16(int16_t crc, const void* buffer, int32_t length);

// The standard CRC-32 (reflected polynomial 0xEDB88320, as in zip, Ethernet
// and zlib): crc is inverted on entry and on exit, so starting from 0 gives
// the usual value ("123456789" gives 0xCBF43926) and the result of one piece
// is the starting value of the next. A length of 0 or less returns crc
// unchanged.
ZEB_EXPORT int32_t UTIL_CRC32(int32_t crc, const void* buffer, int32_t length);

// Table translations of length bytes from source to destination. Source and
// destination may be the same buffer. A length of 0 or less does nothing.
ZEB_EXPORT void UTIL_EBCDICASCII(const void* source, void* destination, int16_t length);
ZEB_EXPORT void UTIL_ASCIIEBCDIC(const void* source, void* destination, int16_t length);
// "A" to "Z" become "a" to "z"; every other byte stays as it is.
ZEB_EXPORT void UTIL_DOWNSHIFT(const void* source, void* destination, int16_t length);
// Bytes 32 to 126 stay; every other byte becomes "." (46).
ZEB_EXPORT void UTIL_PRINTABLE(const void* source, void* destination, int16_t length);

// Writes length characters of upper-case hexadecimal text for the source
// bytes, high nibble first. An odd length ends with the high digit of the
// last byte it reaches: exactly length characters are written, never more.
// Always returns 0.
ZEB_EXPORT int16_t UTIL_HEXASCII(const void* source, void* destination, uint16_t length);

// Converts length hexadecimal characters (either case) into length / 2 bytes.
// With an odd length the last character supplies the high nibble of byte
// length / 2, whose low nibble keeps its value. Returns 22 for a negative
// length and 314 at the first character that is not a hexadecimal digit
// (bytes before it are already converted; the byte it belongs to is not
// written).
ZEB_EXPORT int16_t UTIL_ASCIIHEX(const void* source, void* destination, int16_t length);
