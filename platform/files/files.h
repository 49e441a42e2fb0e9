// The typed core of the files room: the calls the library's layers above the
// platform make on files, and that the mask-word procedures of fs.h,
// terminal.h and keyfile.h adapt. Internal to the platform.
//
// Every call returns a Status or a Result (the library's 16-bit error
// numbers). A call on an open file number also keeps its error as that
// file's last error, as the procedures do; a failed open or creation keeps
// its error as the last error of file number -1.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/host/status.h"
#include "platform/names/file_names.h"

namespace zeb::platform {

// open_file: opens a file by external name. access: 0 read-write, 1 read, 2
// write (disk files). A nowait depth (0 or 1) is taken by terminals and
// $RECEIVE only. A name that is no volume, device or stream but a process's
// opens that process's $RECEIVE. Returns the file number.
struct OpenOptions {
  int16_t access = 0;
  int16_t nowait_depth = 0;
};
Result<int16_t> open_file(std::string_view name, OpenOptions options = {});

// close_file: closes a file number (16 when it is not open).
Status close_file(int16_t filenum);

// write_file: a waited write of data (at most 32767 bytes; 21 beyond) at the
// file's position. *written, when given, receives the count written.
Status write_file(int16_t filenum, std::span<const char> data, int16_t* written = nullptr);

// read_file: reads up to buffer.size() bytes (at most 32767). *count_read,
// when given, receives the count read. 1 at the end of the file.
Status read_file(int16_t filenum, std::span<char> buffer, int16_t* count_read = nullptr);

// write_read_file: writes the first write_count bytes of buffer to a process
// or terminal and reads up to read_count bytes of the reply into it (both
// within buffer; 21 otherwise). A read count of 0 makes it a plain write on
// a terminal. On a nowait terminal it only starts the operation: buffer must
// stay valid until AWAITIOX completes it.
Status write_read_file(int16_t filenum, std::span<char> buffer, int16_t write_count,
                       int16_t read_count, int16_t* count_read = nullptr);

// The same for a caller that hands on a count it was given, unchecked (an
// entry point of the library): a missing buffer (29, for a read even with
// no count) or a negative count (21) is the transfer's error and becomes the
// file's last error, as for any other transfer.
Status write_file(int16_t filenum, const void* data, int16_t count, int16_t* written = nullptr);
Status read_file(int16_t filenum, void* buffer, int16_t count, int16_t* count_read = nullptr);

// position_file: the byte address of the next transfer (-1: the end).
Status position_file(int16_t filenum, int32_t address);

// last_error: the last error of an open file, or of file number -1.
Result<int16_t> last_error(int16_t filenum);

// file_info: what FILE_GETINFO_ tells of an open file.
struct FileInfo {
  int16_t last_error = 0;
  std::string name;  // the external name it was opened by
  int16_t device_type = 0;
  int16_t device_subtype = 0;
};
Result<FileInfo> file_info(int16_t filenum);

// The creation attributes of a disk file (FILEINFO, FILERECINFO).
struct FileAttributes {
  int16_t filecode = 0;
  int16_t primary = 1;
  int16_t secondary = 1;
  int16_t maxextents = 16;
  int16_t filetype = 0;
  int16_t recordlen = 0;
  int16_t blocklen = 4096;
  int16_t buffersize = 4096;
};

// disk_file_info: what FILEINFO tells of the disk file a 24-byte internal
// name names, looked up without opening it for the caller: 13 for a
// malformed name, else the error of reaching it (11 when there is none).
struct DiskFileInfo {
  int16_t ldev = 0;
  int16_t device_type = 0;  // the type word: (type << 6) | subtype
  int32_t capacity = -1;    // bytes, at most INT32_MAX; -1 when unreadable
  FileAttributes attributes;
  std::optional<int16_t> security;  // permission bits, when readable
};
Result<DiskFileInfo> disk_file_info(const char* internal_name);

// file_details: what FILEINFO tells of an open file: its last error and
// name, its logical device (0 on no volume) and device type word ((type <<
// 6) | subtype), and for a disk file its size, creation attributes and
// permission bits. 16 when nothing is open under filenum.
struct FileDetails {
  int16_t last_error = 0;
  std::string name;
  int16_t ldev = 0;
  int16_t device_type = 0;
  bool disk = false;
  // Bytes, at most INT32_MAX (0 for a file that is no disk file), or why
  // the size could not be read.
  Result<int32_t> capacity = 0;
  FileAttributes attributes;        // a disk file's
  std::optional<int16_t> security;  // a disk file's permission bits, when readable
};
Result<FileDetails> file_details(int16_t filenum);

// disk_file_attributes: the creation attributes of an open disk file (16
// when nothing is open under filenum, 2 when it is no disk file), or of the
// disk file a 24-byte internal name names, looked up without opening it for
// the caller (13 for a malformed name, else the error of reaching it).
Result<FileAttributes> disk_file_attributes(int16_t filenum);
Result<FileAttributes> disk_file_attributes(const char* internal_name);

// set_security: sets the permission bits of the disk file a 24-byte internal
// name names to the low nine bits of security (13 for a malformed name,
// else the error of reaching or changing it).
Status set_security(const char* internal_name, int16_t security);

// create_disk_file: creates the named disk file of size bytes (0: empty)
// with the attributes; 10 when it exists.
Status create_disk_file(const FileName& name, long long size, const FileAttributes& attributes);

// create_file: creates the file an external name names: given only a
// volume, a temporary file on it (held until its last open is closed);
// otherwise the disk file "$VOL.SUBVOL.FILE" of size bytes with the
// attributes. Returns the created file's name; 13 for a name that is
// neither, 14 for no such volume. A failure is kept as the last error of
// file number -1, as is the outcome of creating a disk file.
Result<FileName> create_file(std::string_view name, long long size = 0,
                             const FileAttributes& attributes = {});

// The extents of a file created by internal name, in 2048-byte pages: the
// primary extent and maxextents - 1 secondary extents, all allocated at
// once. A value below 1 takes the default: 1 page, the primary's size, 16.
struct Extents {
  int32_t primary = 0;
  int32_t secondary = 0;
  int16_t maxextents = 0;
};

// create_by_internal_name: creates the file a 24-byte internal name names.
// A volume alone makes a swap file there (held until the process ends) and
// writes its name back into internal_name; otherwise the disk file, with
// the attributes (their extent fields are taken from extents). 13 for a
// malformed or temporary name, 14 for no such volume. A failure, and the
// outcome of creating a disk file, is kept as the last error of file -1.
Status create_by_internal_name(char* internal_name, const Extents& extents,
                               FileAttributes attributes = {});

// create_temporary_file: a temporary file on a volume, held until its last
// open is closed; returns its name ("$VOL.#nnnnnnn"). With swap it is a swap
// file of size bytes, its blocks reserved, held until the process ends.
Result<FileName> create_temporary_file(std::string_view volume, bool swap = false,
                                       long long size = 0);
// discard_temporary_file: forgets a temporary file that was never opened.
void discard_temporary_file(const FileName& name);

// Terminals (terminal.h). Each keeps its error as the file's last error.
//
// check_terminal: 16 when nothing is open under filenum, 2 when it is no
// terminal, else 0.
Status check_terminal(int16_t filenum);
// await_io: completes the outstanding operation of *filenum, or with -1 of
// whichever terminal's completes first (its number is written back).
// timelimit in hundredths of a second, negative for none, 0 only to look;
// 40 when it passes first (the operation stays outstanding). *completion,
// when given, tells of the operation that completed, whatever its error.
struct Completion {
  bool completed = false;
  void* buffer = nullptr;  // the read buffer, null for a write
  int16_t count = 0;       // count transferred
};
Status await_io(int16_t* filenum, int32_t timelimit, Completion* completion = nullptr);
// cancel_io: ends the outstanding operation of a nowait terminal.
Status cancel_io(int16_t filenum);
// set_mode: a SETMODE function (8 mode, 22 line speed) of a terminal, param1
// set when given (function 22 takes none: 2 when either is given); returns
// the two words of the setting before the call.
using ModeWords = std::array<int16_t, 2>;
Result<ModeWords> set_mode(int16_t filenum, int16_t function, std::optional<int16_t> param1 = {},
                           bool param2_given = false);
// set_param: SETPARAM function 3 of a terminal: params, when given, is the
// new 8-byte array (21 for another size); before, when given (at least 8
// bytes, 22 otherwise), receives the array before the call.
Status set_param(int16_t filenum, int16_t function, std::optional<std::span<const char>> params,
                 std::optional<std::span<char>> before = {});

// Key-sequenced files (keyfile.h). position_by_key: positions the file for
// the next read_file by key: the first length bytes of key (absent: the
// file's key length; 22 beyond it) and a positioning mode (0 approximate, 1
// generic, 2 exact). key_specifier 0 is the primary key, the only one kept.
// 16 for a file number not open, 2 for a file that is not key-sequenced.
Status position_by_key(int16_t filenum, const char* key, std::optional<int16_t> length,
                       int16_t mode, int16_t key_specifier = 0);

// The host beneath a file number, for the platform's other rooms and tests.
//
// host_fd: the host descriptor of an open file number, or -1.
int host_fd(int16_t filenum);
// set_file_error: sets the last error of an open file number.
void set_file_error(int16_t filenum, int16_t error);
// open_internal_for_mapping: opens the file named by a 24-byte internal name
// for reading and writing (not O_DSYNC) and returns a new host descriptor,
// which the caller owns.
Result<int> open_internal_for_mapping(const char* internal_name);

// Replaces the device table with one written as ZEB_VOLUMES is (bad entries
// are reported on standard error and left out), as though the process had
// started with it; restore_volume_table goes back to the table of the host's
// configuration (ZEB_VOLUMES or discovery), read afresh. Either forgets the
// files of simulated volumes and temporary files that are not open, and
// every simulated disk's write count. No file may be open on a volume of the
// table being replaced.
void install_volume_table(const std::string& text);
void restore_volume_table();

// For the processes room: the file table takes a connection to a process's
// $RECEIVE under a new file number (34 when the table is full), keeps
// the error of an open that produced no file number, and sets the last
// error of an open file number (false when the number is not open).
Result<int16_t> add_process_file(int fd, const std::string& name);
int16_t record_open_error(int16_t error);
bool set_last_error(int16_t filenum, int16_t error);

}  // namespace zeb::platform
