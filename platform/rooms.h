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

// Process files. The file table (files/process_file.cpp) takes a connection to a process's
// $RECEIVE under a new file number (0, or 34 when the table is full) and
// keeps the error of an open that produced no file number; sets the last
// error of an open file number (false when the number is not open).
int16_t add_process_file(int fd, const std::string& name, int16_t* filenum);
int16_t record_open_error(int16_t error);
bool set_last_error(int16_t filenum, int16_t error);

}  // namespace zeb::platform
