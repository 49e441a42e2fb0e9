// DEFINEs from the host's configuration.
//
// The DEFINE "=NAME" is the variable ZEB_DEFINE_NAME; the part after the
// prefix is matched without regard to case (an exact upper-case match first),
// as DEFINE names are. The value, the file name, is taken as it stands.
#include "platform/names/defines.h"

#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"

namespace err = zeb::err;

namespace zeb::platform {
namespace {

constexpr int kNameSize = 24;
constexpr char kPrefix[] = "ZEB_DEFINE_";

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_upper(const char* a, size_t n, const std::string& b) {
  if (n != b.size()) return false;
  for (size_t i = 0; i < n; ++i)
    if (upper(a[i]) != b[i]) return false;
  return true;
}

// The value of the variable for NAME (upper case), or null.
const char* lookup(const std::string& name) {
  std::string exact = kPrefix + name;
  const Configuration& config = host().config();
  for (const std::string& entry : config.entries) {
    if (entry.compare(0, exact.size() + 1, exact + "=") == 0)
      return entry.c_str() + exact.size() + 1;
  }
  const size_t prefix = sizeof kPrefix - 1;
  for (const std::string& entry : config.entries) {
    const char* e = entry.c_str();
    const char* eq = std::strchr(e, '=');
    if (eq == nullptr || std::strncmp(e, kPrefix, prefix) != 0) continue;
    if (equal_upper(e + prefix, static_cast<size_t>(eq - e) - prefix, name)) return eq + 1;
  }
  return nullptr;
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
  const char* value = lookup(name);
  if (value == nullptr) return Status::error(kNotADefine);
  return std::string(value);
}

}  // namespace zeb::platform
