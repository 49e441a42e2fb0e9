// DEFINEs from the host's configuration, looked up through an index of its
// entries.
//
// The DEFINE "=NAME" is the variable ZEB_DEFINE_NAME; the part after the
// prefix is matched without regard to case (an exact upper-case match first),
// as DEFINE names are. The value, the file name, is taken as it stands.
#include "platform/names/defines.h"

#include <string>
#include <unordered_map>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

constexpr int kNameSize = 24;
constexpr char kPrefix[] = "ZEB_DEFINE_";

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The DEFINEs of the configuration by name, built once from its entries and
// again after they change: the exact spelling of each name (the first entry
// of it wins) and its upper-case form (likewise), so a look-up does not walk
// the entries.
class DefineIndex {
 public:
  // The value of the variable for NAME (upper case), or null.
  const std::string* find(const Configuration& config, const std::string& name) {
    if (!built_ || generation_ != config.generation) build(config);
    auto it = exact_.find(name);
    if (it != exact_.end()) return &it->second;
    it = folded_.find(name);
    return it != folded_.end() ? &it->second : nullptr;
  }

 private:
  void build(const Configuration& config) {
    exact_.clear();
    folded_.clear();
    const size_t prefix = sizeof kPrefix - 1;
    for (const std::string& entry : config.entries) {
      const size_t eq = entry.find('=');
      if (eq == std::string::npos || entry.compare(0, prefix, kPrefix) != 0) continue;
      std::string suffix = entry.substr(prefix, eq - prefix);
      std::string value = entry.substr(eq + 1);
      std::string folded = suffix;
      for (char& c : folded) c = upper(c);
      exact_.try_emplace(std::move(suffix), value);
      folded_.try_emplace(std::move(folded), std::move(value));
    }
    generation_ = config.generation;
    built_ = true;
  }

  bool built_ = false;
  uint64_t generation_ = 0;
  std::unordered_map<std::string, std::string> exact_, folded_;
};

const std::string* lookup(const std::string& name) {
  return host().state<DefineIndex>().find(host().config(), name);
}

}  // namespace

Result<std::string> define_file(const char* define_name) {
  // "=" then a letter, then letters, digits, "^", "-" or "_", blank padded.
  int n = 0;
  while (n < kNameSize && define_name[n] != ' ') ++n;
  for (int i = n; i < kNameSize; ++i)
    if (define_name[i] != ' ') return Status::error(err::kBadName);
  if (n < 2 || define_name[0] != '=') return Status::error(err::kBadName);
  std::string name;
  for (int i = 1; i < n; ++i) {
    char c = upper(define_name[i]);
    bool letter = c >= 'A' && c <= 'Z';
    bool other = (c >= '0' && c <= '9') || c == '^' || c == '-' || c == '_';
    if (!letter && (i == 1 || !other)) return Status::error(err::kBadName);
    name.push_back(c);
  }
  const std::string* value = lookup(name);
  if (value == nullptr) return Status::error(kNotADefine);
  return *value;
}

}  // namespace zeb::platform
