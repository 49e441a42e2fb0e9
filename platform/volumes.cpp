// Placeholder until the volume table lands.
#include "platform/host.h"
namespace zeb::platform {
std::string swap_volume() { return "$TMP"; }
}  // namespace zeb::platform
