// The process's host: one object that owns every process-wide table of the
// library (the file table, the volume table, the $RECEIVE queue, the
// channel to the parent, the children, the segments, the clock's state, ...)
// and the configuration they are built from.
//
// Each room of the platform keeps its own state type and reaches its one
// instance through host().state<T>(). The instance is made on first use,
// from the host's configuration when T has a constructor that takes one,
// and destroyed with the host, newest first. The host knows no room's type,
// so no room includes another to reach its state.
//
// The process's host is built from the environment the first time host() is
// called and lives until the process ends (it is never destroyed, so that
// nothing of it goes away under an exit handler). A test makes a host of its
// own configuration with ScopedHost, which stands in for the process's host
// until the scope ends.
//
// Not thread-safe: the library's state belongs to the program's main thread.
#pragma once

#include <array>
#include <cstddef>
#include <type_traits>
#include <vector>

#include "platform/host/config.h"

namespace zeb::platform {

class Host {
 public:
  explicit Host(Configuration config);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const Configuration& config() const { return config_; }
  // For tests: a change reaches what the library reads from the
  // configuration after it (the terminal kind at each open, say), not the
  // states already made from it.
  Configuration& mutable_config() { return config_; }

  // Destroys every state made so far, newest first.
  void clear();

  template <typename State>
  State& state() {
    const size_t slot = slot_of<State>();
    if (slots_[slot].object == nullptr) {
      State* made;
      if constexpr (std::is_constructible_v<State, const Configuration&>) {
        made = new State(config_);
      } else {
        made = new State();
      }
      slots_[slot] = {made, [](void* p) { delete static_cast<State*>(p); }};
      order_.push_back(slot);
    }
    return *static_cast<State*>(slots_[slot].object);
  }

  // The state of type State when it has been made, else null.
  template <typename State>
  State* find_state() {
    return static_cast<State*>(slots_[slot_of<State>()].object);
  }

 private:
  static constexpr size_t kMaxStates = 64;
  struct Slot {
    void* object = nullptr;
    void (*destroy)(void*) = nullptr;
  };
  static size_t next_slot();
  template <typename State>
  static size_t slot_of() {
    static const size_t slot = next_slot();
    return slot;
  }

  Configuration config_;
  std::array<Slot, kMaxStates> slots_{};
  std::vector<size_t> order_;  // slots in the order their states were made
};

// The host in force: a ScopedHost's, else the process's own.
Host& host();

// Puts a host of config in force for one scope; the host before it comes
// back at the end. The state of the scope's host is destroyed with it:
// files it opened are closed, children it started are forgotten.
class ScopedHost {
 public:
  explicit ScopedHost(Configuration config);
  ~ScopedHost();  // not copied: it holds its host
  Host& get() { return host_; }

 private:
  Host host_;
  Host* previous_;
};

}  // namespace zeb::platform
