// The process's host (see host.h).
#include "platform/host/host.h"

#include <cstdlib>

namespace zeb::platform {
namespace {

Host* g_current = nullptr;

}  // namespace

Host::Host(Configuration config) : config_(std::move(config)) {}

Host::~Host() { clear(); }

void Host::clear() {
  // A state's destructor may still reach other states of this host; they
  // are made before it, so they go after it.
  while (!order_.empty()) {
    Slot& s = slots_[order_.back()];
    order_.pop_back();
    s.destroy(s.object);
    s.object = nullptr;
  }
}

size_t Host::next_slot() {
  static size_t count = 0;
  // More state types than slots is a fault of the library's own build.
  if (count == kMaxStates) std::abort();
  return count++;
}

Host& host() {
  if (g_current == nullptr) g_current = new Host(Configuration::from_environment());
  return *g_current;
}

ScopedHost::ScopedHost(Configuration config) : host_(std::move(config)), previous_(&host()) {
  g_current = &host_;
}

ScopedHost::~ScopedHost() {
  // The states go while their host is still the one in force, so that what
  // they do on the way out reaches their own host.
  host_.clear();
  g_current = previous_;
}

}  // namespace zeb::platform
