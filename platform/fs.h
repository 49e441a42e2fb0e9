// File-system procedures: volumes and devices, file creation, opening,
// positioned waited I/O, file information and file-name conversion.
//
// Every procedure with optional parameters takes the parameter mask first
// (see types.h); absent parameters keep their defaults and are never read.
// Errors are file-system error numbers (errors.h). After each operation on a
// file number the platform keeps that file's last error, which FILE_GETINFO_
// and FILEINFO report; file number -1 holds the last error of an open or a
// creation that produced no file number.
//
// Names: a volume is "$" and a letter followed by up to six letters or
// digits; a disk file is "$VOLUME.SUBVOL.FILE"; a temporary file is
// "$VOLUME.#nnnnnnn". The internal form is 24 bytes, three blank-padded
// upper-case parts of 8 bytes (volume, subvolume, file); a temporary file's
// internal form holds "#nnnnnnn" in the subvolume part and blanks after it.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>
#include <zeb/platform/types.h>

// The 32-byte logical-information record of DEVICE_GETINFOBYLDEV_.
struct DeviceLogicalInfo {
  int32_t ldev;          // bytes 0-3: logical device number
  int16_t devtype;       // bytes 4-5: device type (3: disk)
  int16_t record_size;   // bytes 6-7: physical record size (512 for disks)
  int16_t reserved1[3];  // bytes 8-13
  int16_t subtype;       // bytes 14-15: device subtype; 36 marks a volume not to survey
  int16_t reserved2[8];  // bytes 16-31
};
static_assert(sizeof(DeviceLogicalInfo) == 32);

namespace zeb {
constexpr int16_t kDeviceTypeDisk = 3;    // DeviceLogicalInfo type of a disk volume
constexpr int16_t kSubtypeNoSurvey = 36;  // the subtype of a volume not to survey
}  // namespace zeb

// Device information by logical device number. Parameters after the mask:
//  1 ldev          logical device number asked about
//  2 logical_info  buffer for the logical-information record (DeviceLogicalInfo)
//  3 logical_max   its size in bytes
//  4 logical_len   receives the returned length
//  5-7 primary_info, primary_max, primary_len   (not kept on this host: length 0)
//  8-10 backup_info, backup_max, backup_len     (not kept on this host: length 0)
//  11 timeout      ignored
//  12 options      bit 0x0001: return the next device after ldev instead of ldev
//                  itself; bit 0x0002: honour match_type / match_subtype
//  13 match_type   device type to match (3: disks)
//  14 match_subtype device subtype to match
//  15 devname      buffer for the device name
//  16 devname_max  its size
//  17 devname_len  receives the name's length
// Returns 0, or 19 when there is no (further) matching device.
ZEB_EXPORT int16_t DEVICE_GETINFOBYLDEV_(
    uint32_t mask, int32_t ldev = 0, void* logical_info = nullptr, int16_t logical_max = 0,
    int16_t* logical_len = nullptr, void* primary_info = nullptr, int16_t primary_max = 0,
    int16_t* primary_len = nullptr, void* backup_info = nullptr, int16_t backup_max = 0,
    int16_t* backup_len = nullptr, int32_t timeout = -1, int16_t options = 0,
    int16_t match_type = 0, int16_t match_subtype = 0, char* devname = nullptr,
    int16_t devname_max = 0, int16_t* devname_len = nullptr);

// Creates a disk file. Parameters: 1 name buffer (in: the name; out: the
// created file's full name), 2 its maximum length, 3 name length (in and out),
// 4 file code, 5 primary extent size, 6 secondary extent size (both in
// 2048-byte pages), 7 maximum extents, 8 file type, 9 options, 10 record
// length, 11 block length. Given only a volume name it creates a temporary
// file on that volume, discarded when its last open is closed (or when the
// process ends, however it ends), and returns its name.
ZEB_EXPORT int16_t FILE_CREATE_(uint32_t mask, char* filename = nullptr, int16_t maxlen = 0,
                                int16_t* filenamelen = nullptr, int16_t filecode = 0,
                                int32_t primary_extent = 0, int32_t secondary_extent = 0,
                                int16_t maxextents = 0, int16_t filetype = 0, int16_t options = 0,
                                int16_t recordlen = 0, int16_t blocklen = 0);

// Creates a file from a 24-byte internal name (parameter 1), with primary
// extent (2), file code (3), secondary extent (4), file type (5), record
// length (6), block length (7), key fields (8-10, ignored), maximum extents
// (11), buffer size (12) and possible extents (13, ignored). The file is given (primary + secondary
// * (maxextents - 1)) pages of 2048 bytes, at least one primary extent. A name holding only a
// volume makes a temporary file, whose internal name is written back into the 24 bytes. On failure
// the error is also kept as the last error of file number -1.
ZEB_EXPORT int16_t CREATE(uint32_t mask, char* internal_name = nullptr, int32_t primary_extent = 0,
                          int16_t filecode = 0, int32_t secondary_extent = 0, int16_t filetype = 0,
                          int16_t recordlen = 0, int16_t blocklen = 0,
                          const void* keyseqinfo = nullptr, const void* altkeyinfo = nullptr,
                          const void* partitioninfo = nullptr, int16_t maxextents = 0,
                          int16_t buffersize = 0, int16_t possible_extents = 0);

// Opens a file by name: 1 name, 2 length, 3 receives the file number,
// 4 access (0 read-write, 1 read, 2 write), 5 exclusion, 6 nowait depth,
// 7 sync or receive depth, 8 options. Disk files are opened for waited,
// durable transfers: a write returns when its data is on stable storage.
// Only terminal files take a nowait depth (1 at most; platform/terminal.h).
ZEB_EXPORT int16_t FILE_OPEN_(uint32_t mask, const char* filename = nullptr, int16_t length = 0,
                              int16_t* filenum = nullptr, int16_t access = 0, int16_t exclusion = 0,
                              int16_t nowait_depth = 0, int16_t sync_or_receive_depth = 0,
                              int16_t options = 0);

// Closes a file number: 1 the file number, 2 tape disposition (ignored).
ZEB_EXPORT int16_t FILE_CLOSE_(uint32_t mask, int16_t filenum = 0, int16_t tape_disposition = 0);

// Sets the byte address of the next transfer. Returns 0 or the error, which
// also becomes the file's last error.
ZEB_EXPORT int16_t POSITION(int16_t filenum, int32_t record_address);

// Waited write of write_count bytes (0 allowed) at the current position,
// which then advances: 1 file number, 2 buffer, 3 count, 4 receives the count
// written, 5 tag (ignored). Returns 0 or the error (also the last error).
ZEB_EXPORT int16_t WRITEX(uint32_t mask, int16_t filenum = 0, const void* buffer = nullptr,
                          int16_t write_count = 0, int16_t* count_written = nullptr,
                          int32_t tag = 0);

// Waited read of up to read_count bytes at the current position: 1 file
// number, 2 buffer, 3 count, 4 receives the count read, 5 tag (ignored).
// At the end of the file it returns 1 (end-of-file).
ZEB_EXPORT int16_t READX(uint32_t mask, int16_t filenum = 0, void* buffer = nullptr,
                         int16_t read_count = 0, int16_t* count_read = nullptr, int32_t tag = 0);

// Writes write_count bytes of buffer to an open process or terminal and
// reads the reply into the same buffer: 1 file number, 2 buffer, 3 count
// written, 4 largest count read, 5 receives the count read, 6 tag
// (ignored). Returns 0 or the error (also the last error): for a process,
// the error it replied with, 201 when it ended before replying; 2 for a
// file that is neither. On a terminal the bytes are written exactly as
// given, a read count of 0 makes it a plain write, and on a nowait
// terminal the operation is only started: the buffer must stay valid until
// AWAITIOX completes it (count read is then given by AWAITIOX).
ZEB_EXPORT int16_t WRITEREADX(uint32_t mask, int16_t filenum = 0, void* buffer = nullptr,
                              int16_t write_count = 0, int16_t read_count = 0,
                              int16_t* count_read = nullptr, int32_t tag = 0);

// Information about an open file: 1 file number, 2 receives its last error,
// 3 buffer for its external name, 4 the buffer's size, 5 receives the name's
// length, 6 receives the device type information (five words: device type,
// subtype, then three words of 0), 7 flags (ignored).
ZEB_EXPORT int16_t FILE_GETINFO_(uint32_t mask, int16_t filenum = 0, int16_t* lasterror = nullptr,
                                 char* filename = nullptr, int16_t maxlen = 0,
                                 int16_t* length = nullptr, int16_t* typeinfo = nullptr,
                                 int16_t flags = 0);

// Information about a file by number or by name. Parameters: 1 file number
// (-1: the last open or creation that failed), 2 receives the last error (by
// number) or the error of looking the name up (by name), 3 the 24-byte
// internal name: receives the open file's name when the file number is given,
// names the file otherwise, 4 receives the logical device number, 5 receives
// the device type word (device type in bits 4-9 counted from the most
// significant bit, subtype in bits 10-15), 18 receives the capacity in bytes.
// The attributes a disk file was created with (see platform/README.md): 6
// primary extent (pages), 10 file code, 11 secondary extent, 16 security
// (the host's permission bits), 21 file type, 22 maximum extents, 23 buffer
// size, 24 possible extents. Parameters 7-9, 12-15, 17, 19 and 20 are not
// kept on this host (left untouched). Returns 0 when the call could be
// answered, 16 for a file number that is not open, or the error of the
// look-up by name.
ZEB_EXPORT int16_t FILEINFO(uint32_t mask, int16_t filenum = 0, int16_t* error = nullptr,
                            char* filename = nullptr, int16_t* ldevnum = nullptr,
                            int16_t* devtype = nullptr, int16_t* primary_extent = nullptr,
                            void* p7 = nullptr, void* p8 = nullptr, void* p9 = nullptr,
                            int16_t* filecode = nullptr, int16_t* secondary_extent = nullptr,
                            void* p12 = nullptr, void* p13 = nullptr, void* p14 = nullptr,
                            void* p15 = nullptr, int16_t* security = nullptr, void* p17 = nullptr,
                            int32_t* capacity = nullptr, void* p19 = nullptr, void* p20 = nullptr,
                            int16_t* filetype = nullptr, int16_t* maxextents = nullptr,
                            int16_t* buffersize = nullptr, int16_t* possible_extents = nullptr);

// Key and partition descriptions of FILERECINFO and CREATE. This host keeps
// no key-sequenced or partitioned disk files of its own making: they are
// all zero.
struct FileKeyInfo {
  int16_t words[8];  // all zero on this host
};

// Record information about a file by number (1) or by 24-byte internal name
// (15, when the file number is absent or -1). Parameters 2-8 are not kept on
// this host; 9 receives the file type, 10 the record length, 11 the block
// length, 12-14 the key-sequenced, alternate-key and partition descriptions.
// Returns 0, 16 for a file number that is not open, or the error of the
// look-up by name.
ZEB_EXPORT int16_t FILERECINFO(uint32_t mask, int16_t filenum = -1, void* p2 = nullptr,
                               void* p3 = nullptr, void* p4 = nullptr, void* p5 = nullptr,
                               void* p6 = nullptr, void* p7 = nullptr, void* p8 = nullptr,
                               int16_t* filetype = nullptr, int16_t* recordlen = nullptr,
                               int16_t* blocklen = nullptr, FileKeyInfo* keyinfo = nullptr,
                               FileKeyInfo* altkeys = nullptr, FileKeyInfo* partitions = nullptr,
                               const char* filename = nullptr);

// Sets the security of a disk file named by its 24-byte internal name: on
// this host its permission bits (0777 of the value). Returns 0 or the error.
ZEB_EXPORT int16_t FILE_SETSECURITY_(const char* internal_name, int16_t security);

namespace zeb {
// The longest external text FNAMECOLLAPSE writes.
inline constexpr size_t kCollapsedNameMax = 26;
}  // namespace zeb

// Converts a 24-byte internal name to external text; returns its length.
// The external text is at most 26 bytes; the buffer must hold that many.
// A name on another system begins with a backslash and "??" (this host
// names no other system) and is cut at 26 bytes.
ZEB_EXPORT int16_t FNAMECOLLAPSE(const char* internal_name, char* external_name);

// Converts external text (length bytes) to the 24-byte internal form,
// filling blank parts from the 16-byte default volume and subvolume
// (blank-padded) when given. Returns the number of characters used, 0 when
// the text is not a valid file name.
ZEB_EXPORT int16_t FNAMEEXPAND(const char* external_name, int16_t length, char* internal_name,
                               const char* defaults = nullptr);

// Gives one part of an external file name: 1 name, 2 its length, 3 buffer,
// 4 buffer size, 5 receives the part's length, 6 level (0 volume, 1
// subvolume, 2 file).
ZEB_EXPORT int16_t FILENAME_DECOMPOSE_(uint32_t mask, const char* filename = nullptr,
                                       int16_t length = 0, char* piece = nullptr,
                                       int16_t maxlen = 0, int16_t* piecelen = nullptr,
                                       int16_t level = 0);
