// Internal interface of the processes room to the other rooms. Not part of
// the library's public interface. The names, volumes and files rooms have
// headers of their own (included here for the code that still reaches them
// through this one).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files/files.h"
#include "platform/names/file_names.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {

// This process's name ("$" and up to five letters or digits) from
// ZEB_PROCESS_NAME, or empty for an unnamed process.
std::string process_name();

// The process name a ZEB_PROCESS_NAME value gives ("$" added when missing,
// upper case), or empty when it is not "$", a letter and up to four more
// letters or digits.
std::string process_name_from(std::string value);

// Processes of this host (procinfo.cpp). The 4-word process identifier of a
// host process (layout in procinfo.h); the living process an identifier
// names (0: none); the living process of a name ("$NAME") other than this
// one, the lowest pid when several carry it (0: none; this process when the
// name is its own); the parent of a process (0 when unknown).
void process_identifier_of(long pid, int16_t* process_id);
long pid_of_identifier(const int16_t* process_id);
long find_named_process(const std::string& name);
long parent_of(long pid);
bool process_alive(long pid);
// A host file or directory name as a part of a program file's internal name
// on the host's own file system: upper case, letters and digits only,
// starting with a letter ("Z" put in front otherwise), at most 8 characters.
std::string program_name_part(const std::string& text);

// Process files. The file table (files/process_file.cpp) takes a connection to a process's
// $RECEIVE under a new file number (0, or 34 when the table is full) and
// keeps the error of an open that produced no file number. procfile.cpp:
// whether a name ("$NAME") is a process name; opening a process by name
// (its private channel when it is a child of this process, else its named
// socket), "open" included; one message and its reply (0 when a reply came,
// its error in *reply_error); "close" and the end of the connection.
int16_t add_process_file(int fd, const std::string& name, int16_t* filenum);
int16_t record_open_error(int16_t error);
bool is_process_name(const std::string& name);
int16_t open_process_by_name(const std::string& name, int16_t* filenum);
int16_t process_message(int fd, const void* buffer, int16_t write_count, void* reply,
                        int16_t reply_max, int16_t* reply_len, int16_t* reply_error);
void close_process(int fd);

// A new descriptor for this process's end of the private channel of a child
// made by NEWPROCESS that has not been reaped (spawn.cpp); -1 otherwise.
int dup_child_channel(long pid);

}  // namespace zeb::platform
