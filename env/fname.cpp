// Logical file names: a name handed to ENV_FNAME is a real file name, in
// external or internal form, or a logical name "=NAME" that resolves, in this
// order, through a DEFINE of the process, an ASSIGN received at start-up and
// an entry of the configuration file; the result may be a logical name again.
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/define.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "env/environment.h"
#include "platform/files/files.h"

namespace err = zeb::err;

namespace zeb::env {
namespace {

constexpr int kWork = 48;      // the work area a name is examined in
constexpr int kInternal = 24;  // an internal file name
constexpr int kDefineName = 24;

bool ends_text(char c) { return c == ' ' || c == '\0'; }

// IS^EXTERNAL: a "." in bytes 1-23 (2-23 after a "\") or a NUL in bytes 1-8
// makes a name external; otherwise it is internal when it begins with "$" or
// "\".
bool is_external(const char* work) {
  const int start = work[0] == '\\' ? 2 : 1;
  for (int i = start; i < kInternal; ++i) {
    if (work[i] == '.') return true;
    if (work[i] == '\0' && i <= 8) return true;
  }
  return work[0] != '\\' && work[0] != '$';
}

// Copies the caller's name into the work area without reading past it. A
// name that may be internal (first byte "$" or "\\") is read up to its NUL,
// at most 24 bytes, and on to the end of its text (48 bytes at most) when it
// turns out to be external text; any other name is text, read up to its first
// blank or NUL, at most 48 bytes. Bytes not read are NUL.
void read_name(const char* name, char* work) {
  std::memset(work, '\0', kWork);
  int n = 0;
  if (name[0] == '$' || name[0] == '\\') {
    bool dot = false;
    while (n < kInternal && name[n] != '\0' && !(dot && name[n] == ' ')) {
      dot = dot || name[n] == '.';
      work[n] = name[n];
      ++n;
    }
    if (n < kInternal || !is_external(work)) return;
    for (int i = 0; i < n; ++i)
      if (work[i] == ' ') return;
  }
  while (n < kWork && !ends_text(name[n])) {
    work[n] = name[n];
    ++n;
  }
}

// EXPAND: replaces the logical name in the work area by what it stands for.
int16_t expand(const EnvRecord* env, char* work) {
  char clean[kWork];
  UTIL_CLEANUPFILENAME(work, clean);
  std::memset(work, ' ', kWork);
  // A DEFINE name has at most 24 characters; a longer name is no DEFINE.
  int16_t value_length = 0;
  if (clean[kDefineName] == ' ' &&
      DEFINEINFO(clean, nullptr, nullptr, work, kWork, &value_length) == err::kOk) {
    return err::kOk;
  }
  std::memset(work, ' ', kWork);
  if (inquire(*env, ENVINFO_ASSIGN, clean, work, nullptr).ok()) return err::kOk;
  return LCONF_INFO(env->lconf_name, 1, clean, work);
}

}  // namespace

Result<ResolvedName> resolve_name(const EnvRecord& env, const char* name, bool translate) {
  if (name == nullptr) return Status::error(err::kMissingParameter);
  char work[kWork];
  read_name(name, work);
  if (translate) {
    char alternate[kWork];
    int16_t error = LCONF_INFO(env.lconf_name, 2, work, alternate);
    if (error != err::kOk) return Status::error(error, "alternate name");
    std::memcpy(work, alternate, kWork);
  }
  // A chain of logical names ends after a bounded number of expansions, so a
  // name that leads back to itself cannot hold the caller forever.
  for (int expansions = 0; work[0] == '='; ++expansions) {
    if (expansions == kMaxNameExpansions) return Status::error(err::kBadName);
    int16_t error = expand(&env, work);
    if (error != err::kOk) return Status::error(error);
  }
  ResolvedName resolved;
  if (is_external(work)) {
    int16_t text = 0;
    while (text < kWork && !ends_text(work[text])) ++text;
    // A name that cannot be expanded is refused rather than handed on.
    zeb::platform::Result<zeb::platform::FileName> expanded = zeb::platform::expand_name(
        std::string_view(work, static_cast<size_t>(text)), env.default_names);
    if (text <= 0 || !expanded.ok()) return Status::error(err::kBadName);
    zeb::platform::to_internal(*expanded, resolved.internal.data());
  } else {
    std::memcpy(resolved.internal.data(), work, kInternal);
  }
  const std::string collapsed = zeb::platform::collapse_name(resolved.internal.data());
  // A collapsed name is at most 26 bytes; the area holds 64.
  resolved.external_length = static_cast<int16_t>(collapsed.size());
  std::memcpy(resolved.external.data(), collapsed.data(), collapsed.size());
  return resolved;
}

}  // namespace zeb::env
