// The start-up conversation of a program started from a shell: with no
// library parent, the platform builds the messages a parent would have sent
// from the command line, the standard streams and the ZEB_ variables.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/files/files.h"
#include "platform/host/diagnostics.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/receive_queue.h"
#include "platform/names/file_names.h"
#include "platform/names/name_rules.h"
#include "platform/processes/processes.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"

namespace zeb::platform {
namespace {

void warn(const std::string& text) { write_error_line(text); }

void put_part(char* at, const std::string& part) { std::memcpy(at, part.data(), part.size()); }

// ZEB_DEFAULTS=$VOLUME.SUBVOL (or only $VOLUME); false when it is not that.
bool defaults_from_variable(const std::string& text, char* defaults) {
  std::string value = upper(text);
  size_t dot = value.find('.');
  std::string volume = value.substr(0, dot);
  std::string subvol = dot == std::string::npos ? "" : value.substr(dot + 1);
  if (!is_dollar_name(volume, 8)) return false;
  if (dot != std::string::npos && !is_name_part(subvol, 8)) return false;
  put_part(defaults, volume);
  put_part(defaults + 8, subvol);
  return true;
}

// The current directory's volume and subvolume: the directory volume whose
// root holds the current directory (the deepest such root), and the first
// directory below that root as the subvolume when it makes a valid
// subvolume name (upper-cased). What cannot be named stays blank.
void defaults_from_directory(char* defaults) {
  std::string cwd, here, root;
  if (syscalls().getcwd(&cwd) != 0) return;
  if (syscalls().realpath(cwd.c_str(), &here) != 0) here = cwd;
  const Volume* best = nullptr;
  std::string best_root;
  for (const Volume& v : volumes()) {
    if (v.simulated || v.root.empty()) continue;
    if (syscalls().realpath(v.root.c_str(), &root) != 0) root = v.root;
    std::string prefix = root == "/" ? "/" : root + "/";
    bool holds = here == root || here.rfind(prefix, 0) == 0;
    if (holds && (best == nullptr || root.size() > best_root.size())) {
      best = &v;
      best_root = root;
    }
  }
  if (best == nullptr) return;
  put_part(defaults, best->name);
  if (here.size() <= best_root.size()) return;
  std::string below = here.substr(best_root == "/" ? 1 : best_root.size() + 1);
  std::string first = upper(below.substr(0, below.find('/')));
  if (is_name_part(first, 8)) put_part(defaults + 8, first);
}

void internal_name(std::string_view external, char* name24) {
  std::memset(name24, ' ', 24);
  std::memcpy(name24, external.data(), std::min<size_t>(external.size(), 8));
}

}  // namespace

std::vector<std::string> command_arguments() {
  std::string text;
  if (syscalls().read_system_file("/proc/self/cmdline", &text) != 0) text.clear();
  std::vector<std::string> args;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (!args.empty()) args.erase(args.begin());
  return args;
}

Result<std::vector<ShellMessage>> shell_conversation() {
  std::string text;
  for (const std::string& arg : command_arguments()) {
    if (!text.empty()) text.push_back(' ');
    text += arg;
  }
  if (text.size() > static_cast<size_t>(kMaxParamText)) {
    warn("zeb: the command line is longer than " + std::to_string(kMaxParamText) +
         " bytes, the longest parameter text a start-up message holds");
    return Status::error(err::kBadCount);
  }
  char defaults[16];
  std::memset(defaults, ' ', sizeof defaults);
  const char* configured = host().config().defaults ? host().config().defaults->c_str() : nullptr;
  if (configured != nullptr && !defaults_from_variable(configured, defaults)) {
    warn(std::string("ZEB_DEFAULTS: \"") + configured +
         "\" is not $VOLUME.SUBVOL; the current directory gives the defaults");
    configured = nullptr;
  }
  if (configured == nullptr) defaults_from_directory(defaults);
  char in_name[24], out_name[24];
  internal_name(kStdinName, in_name);
  internal_name(kStdoutName, out_name);

  std::vector<ShellMessage> result;
  result.push_back({true, open_message()});
  result.push_back({false, startup_message(defaults, in_name, out_name, text)});
  const std::string assign_prefix = "ZEB_ASSIGN_", param_prefix = "ZEB_PARAM_";
  std::vector<ShellMessage> params;
  for (const std::string& entry : host().config().entries) {
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    std::string variable = entry.substr(0, eq), value = entry.substr(eq + 1);
    if (variable.rfind(assign_prefix, 0) == 0) {
      std::string name = variable.substr(assign_prefix.size());
      char physical[24];
      if (name.empty() || name.size() > 31) {
        warn(variable + ": the logical name must have 1 to 31 characters; left out");
      } else if (value.size() > 64 || FNAMEEXPAND(value.data(), static_cast<int16_t>(value.size()),
                                                  physical, defaults) == 0) {
        warn(variable + ": \"" + value + "\" is not a file name; left out");
      } else {
        result.push_back({false, assign_message(name, physical)});
      }
    } else if (variable.rfind(param_prefix, 0) == 0) {
      std::string name = variable.substr(param_prefix.size());
      if (name.empty() || name.size() > 255 || value.size() > 255) {
        warn(variable + ": names of 1 to 255 bytes and values up to 255 bytes only; left out");
      } else {
        params.push_back({false, param_message({{name, value}})});
      }
    }
  }
  result.insert(result.end(), params.begin(), params.end());
  result.push_back({true, close_message()});
  return result;
}

}  // namespace zeb::platform
