// Internal interface between the platform's rooms (volumes, file
// table, segments). Not part of the library's public interface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zeb::platform {

// A volume of the device table.
struct Volume {
  std::string name;     // "$NAME"
  std::string root;     // host directory (empty for a simulated disk)
  int32_t ldev = 0;     // logical device number, positive
  int16_t subtype = 0;  // device subtype; 36: not to be surveyed
  bool simulated = false;
  int32_t rpm = 0;             // simulated disk: revolutions per minute
  int32_t fail_at = 0;         // simulated disk: the write (1-based) that fails; 0 none
  bool virtual_clock = false;  // simulated disk: the process runs on the virtual clock
};

// The volume of that name (case-insensitive, with or without "$"), or null.
const Volume* find_volume(std::string_view name);

// Forgets the held files of the volume table in force before it is
// replaced: every file of a simulated volume, and temporary files that are
// not open (see install_volume_table).
void forget_held_files();

// The host file descriptor of an open file number, or -1.
int host_fd(int16_t filenum);

// Sizes a file to at least size bytes: extend_file as a sparse file,
// reserve_file with its disk blocks reserved (so that writing it, through a
// mapping too, never fails for want of space; a plain extension where the
// file system cannot reserve). Both refuse a size beyond the file-size limit
// with EFBIG instead of letting the kernel raise SIGXFSZ. 0, or -1 with errno.
int extend_file(int fd, long long size);
int reserve_file(int fd, long long size);

// The temporary directory: $TMPDIR, else /tmp, resolved when it exists.
std::string temp_directory();

// True when path (absolute, resolved) lies on directory volume v: it is v's
// root or below it.
bool volume_holds(const Volume& v, const std::string& path);

// Opens the file named by a 24-byte internal name for reading and writing
// (not O_DSYNC) and returns a new host file descriptor, or -1 with *error set.
// The caller owns the descriptor.
int open_internal_for_mapping(const char* internal_name, int16_t* error);

// Sets the last error of an open file number (FILE_GETINFO_ reports it).
void set_file_error(int16_t filenum, int16_t error);

// Terminal files (terminal.cpp). fs.cpp keeps them in its file table as
// files of their own kind and hands their operations over to these.
//
// The host path of a terminal device name ("$PTS3" is /dev/pts/3), or empty
// when the volume name is not one.
std::string terminal_device_path(std::string_view volume);
// Opens the terminal of a volume-only name for file number filenum: a device
// name, or a standard stream name opened with a nowait depth. *fd receives
// the host descriptor, which fs.cpp owns and closes.
int16_t terminal_open(int16_t filenum, std::string_view volume, int16_t nowait_depth, int* fd);
// Forgets a terminal file before its descriptor is closed; gives the tty
// back the settings it had when the file was opened.
void terminal_close(int16_t filenum);
// WRITEX and READX on a terminal file.
int16_t terminal_writex(int16_t filenum, const void* buffer, int16_t count, int16_t* count_written);
int16_t terminal_readx(int16_t filenum, void* buffer, int16_t count, int16_t* count_read);
// WRITEREADX on a terminal file (mask and parameters as WRITEREADX's; the
// mask's fit and the file number are checked by the caller).
int16_t terminal_writereadx(uint32_t mask, int16_t filenum, void* buffer, int16_t write_count,
                            int16_t read_count, int16_t* count_read);
// The device subtype of a terminal file: 4 (a 6530) or 0.
int16_t terminal_subtype(int16_t filenum);

}  // namespace zeb::platform

namespace zeb::platform {

// Reserved device names of the standard streams. The home terminal of a
// program started from a shell is its standard output.
inline constexpr std::string_view kHomeTerminalName = "$ZHOME";
inline constexpr std::string_view kStdinName = "$ZIN";
inline constexpr std::string_view kStdoutName = "$ZOUT";
inline constexpr std::string_view kStderrName = "$ZERR";

// The external name of the volume that holds this process's swap files.
std::string swap_volume();

// Host paths of files of a directory volume (fs.cpp). The host path of a
// 24-byte internal name (0, or 13 for a malformed name, 14 for no such
// volume, 2 for a simulated volume, which keeps no host files); the internal
// name of a host path that lies at SUBVOL/FILE below a directory volume's
// root and is spelled as the volume spells its files (false otherwise).
int16_t host_path_of_internal(const char* internal_name, std::string* path);
bool internal_name_of_path(const std::string& path, char* internal_name);

// Process files. The file table (fs.cpp) takes a connection to a process's
// $RECEIVE under a new file number (0, or 34 when the table is full) and
// keeps the error of an open that produced no file number; sets the last
// error of an open file number (false when the number is not open).
int16_t add_process_file(int fd, const std::string& name, int16_t* filenum);
int16_t record_open_error(int16_t error);
bool set_last_error(int16_t filenum, int16_t error);

}  // namespace zeb::platform
