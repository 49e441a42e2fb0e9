// Processor information of the local node, read from the host.
#include "platform/cpuinfo.h"

namespace {

// The only node is this one; it answers to system number 0 and to -1
// ("this system").
constexpr int16_t kLocalSystem = 0;

bool is_local(int16_t system) { return system == -1 || system == kLocalSystem; }

}  // namespace

// Every processor slot of this node reports the same type: the host's cores
// are all of one kind, and it is a node property rather than something read
// per core. The number is that of the newest and fastest type the library
// knows (7, "K10").
int16_t PROCESSORTYPE(int16_t cpu, int16_t system) {
  if (!is_local(system) || cpu < 0 || cpu > 15) return -1;
  return zeb::kHostProcessorType;
}
