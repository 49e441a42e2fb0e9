// The configuration (see config.h).
#include "platform/host/config.h"

#include "platform/host/syscalls.h"

namespace zeb::platform {

Configuration Configuration::from_environment() { return from_entries(syscalls().environment()); }

Configuration Configuration::from_entries(std::vector<std::string> entries) {
  Configuration c;
  c.entries = std::move(entries);
  c.volumes = c.find("ZEB_VOLUMES");
  c.swap_volume = c.find("ZEB_SWAPVOL");
  c.defaults = c.find("ZEB_DEFAULTS");
  c.receive_fd = c.find("ZEB_RECEIVE_FD");
  c.socket_dir = c.find("ZEB_SOCKET_DIR");
  c.runtime_dir = c.find("XDG_RUNTIME_DIR");
  c.reply_limit = c.find("ZEB_REPLY_LIMIT");
  c.terminal = c.find("ZEB_TERMINAL");
  c.process_name = c.find("ZEB_PROCESS_NAME");
  c.tmpdir = c.find("TMPDIR");
  c.home = c.find("HOME");
  c.path = c.find("PATH");
  return c;
}

std::optional<std::string> Configuration::find(std::string_view name) const {
  // The first entry of a name wins, as getenv finds it.
  for (const std::string& entry : entries) {
    if (entry.size() > name.size() && entry[name.size()] == '=' &&
        std::string_view(entry).substr(0, name.size()) == name) {
      return entry.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

void Configuration::set(std::string_view name, std::optional<std::string> value) {
  std::vector<std::string> kept;
  const std::string prefix = std::string(name) + "=";
  for (std::string& entry : entries) {
    if (entry.compare(0, prefix.size(), prefix) != 0) kept.push_back(std::move(entry));
  }
  if (value) kept.push_back(prefix + *value);
  const uint64_t next = generation + 1;
  *this = from_entries(std::move(kept));
  generation = next;
}

}  // namespace zeb::platform
