// This process: ending it, what it knows of itself, and the sort it
// offers its callers.
#include "platform/processes/self.h"

#include <cstdlib>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/receive_queue.h"
#include "platform/names/file_names.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace {

// Swaps two elements of size bytes.
void swap_bytes(unsigned char* a, unsigned char* b, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    unsigned char t = a[i];
    a[i] = b[i];
    b[i] = t;
  }
}

// Sifts element root down the heap of count elements, where "before" as the
// caller's procedure says is the smaller: the heap keeps the element that
// belongs last at its top.
void sift_down(unsigned char* base, size_t size, size_t root, size_t count,
               SortCompareProc compare) {
  for (;;) {
    size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && compare(base + child * size, base + (child + 1) * size) != 0) {
      ++child;
    }
    if (compare(base + root * size, base + child * size) == 0) return;
    swap_bytes(base + root * size, base + child * size, size);
    root = child;
  }
}

}  // namespace

namespace zeb::platform {

void end_process(int status) {
  receive_at_exit();
  // The entry flushes the C library's streams before the process ends.
  syscalls().exit_process(status);
  // The entry ends the process; one that came back would be a fault of the
  // table, and the process still ends.
  __builtin_trap();
}

Status heap_sort(void* array, size_t count, size_t element_bytes, SortCompareProc compare) {
  if (array == nullptr || compare == nullptr) return Status::error(err::kMissingParameter);
  if (element_bytes == 0) return Status::error(err::kOutOfBounds);
  auto* base = static_cast<unsigned char*>(array);
  for (size_t i = count / 2; i-- > 0;) sift_down(base, element_bytes, i, count, compare);
  for (size_t end = count; end > 1; --end) {
    swap_bytes(base, base + (end - 1) * element_bytes, element_bytes);
    sift_down(base, element_bytes, 0, end - 1, compare);
  }
  return Status();
}

std::string home_terminal_name() { return std::string(kHomeTerminalName); }

std::string program_path() {
  std::string text;
  if (syscalls().readlink("/proc/self/exe", &text) != 0) text.clear();
  return text;
}

Result<std::string> swap_file_name() {
  // Swap files are temporary files on the swap volume; the process's own
  // swap "file" is named by that volume alone.
  std::string volume = swap_volume();
  if (volume.empty()) return Status::error(err::kNoSuchDevice, "no swap volume");
  return volume;
}

}  // namespace zeb::platform
