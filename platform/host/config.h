// The configuration: every variable of the process's environment that the
// library reads (the ZEB_* variables, TMPDIR, HOME, PATH and XDG_RUNTIME_DIR), read once,
// through the host seam, when the process's host is built. Nothing else in
// the library reads the environment; a test builds a Configuration of its
// own and a host from it (host.h) instead of setting variables.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeb::platform {

struct Configuration {
  // The variables by name; absent ones are empty optionals. An empty value
  // is kept as given: each user decides what an empty value means.
  std::optional<std::string> volumes;      // ZEB_VOLUMES: the volume table
  std::optional<std::string> swap_volume;  // ZEB_SWAPVOL
  std::optional<std::string> defaults;     // ZEB_DEFAULTS: $VOLUME.SUBVOL
  std::optional<std::string> receive_fd;   // ZEB_RECEIVE_FD: the parent's channel
  std::optional<std::string> socket_dir;   // ZEB_SOCKET_DIR
  std::optional<std::string> runtime_dir;  // XDG_RUNTIME_DIR: the user's private run-time directory
  std::optional<std::string> reply_limit;  // ZEB_REPLY_LIMIT: hundredths of a second
  std::optional<std::string> terminal;     // ZEB_TERMINAL: "6530" or another kind
  std::optional<std::string> process_name;  // ZEB_PROCESS_NAME
  std::optional<std::string> tmpdir;        // TMPDIR
  std::optional<std::string> home;          // HOME
  std::optional<std::string> path;          // PATH
  // Every NAME=VALUE entry of the environment, in its order: the families
  // read by prefix (ZEB_ASSIGN_*, ZEB_PARAM_*, ZEB_DEFINE_*) are found here.
  std::vector<std::string> entries;
  // Counts the changes set() made, so that an index of the entries kept
  // beside them (the DEFINEs') sees that it is out of date.
  uint64_t generation = 0;

  // The process's own environment, read through the seam.
  static Configuration from_environment();
  // A configuration of the given NAME=VALUE entries, the named variables
  // taken from them as from_environment takes them from the process's.
  static Configuration from_entries(std::vector<std::string> entries);

  // The value of the entry NAME (exact spelling), when there is one.
  std::optional<std::string> find(std::string_view name) const;
  // Gives NAME the value (an absent value removes the entry), and the named
  // variable its new value.
  void set(std::string_view name, std::optional<std::string> value);
};

}  // namespace zeb::platform
