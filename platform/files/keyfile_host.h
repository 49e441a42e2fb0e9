// Internal interface between the file table (fs.cpp) and the key-sequenced
// files (keyfile.cpp). Not part of the library's public interface.
#pragma once

#include <cstdint>

namespace zeb::platform {

// True when the open host descriptor holds a key-sequenced file.
bool keyfile_recognise(int fd);

// Makes file number filenum, open on fd, a key-sequenced file. Returns 0 or
// the error of opening its database.
int16_t keyfile_attach(int16_t filenum, int fd);

// Forgets the key-sequenced state of filenum (when it is closed).
void keyfile_detach(int16_t filenum);

bool keyfile_attached(int16_t filenum);

// The next record after the current position (see KEYPOSITIONX).
int16_t keyfile_read(int16_t filenum, void* buffer, int16_t read_count, int16_t* count_read);

}  // namespace zeb::platform
