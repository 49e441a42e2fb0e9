// Logical file names: a name handed to ENV_FNAME is a real file name, in
// external or internal form, or a logical name "=NAME" that resolves, in this
// order, through a DEFINE of the process, an ASSIGN received at start-up and
// an entry of the configuration file; the result may be a logical name again.
#include <cstring>

#include <zeb/env/env.h>
#include <zeb/platform/define.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/files/files.h"

namespace err = zeb::err;

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
  if (ENV_INQUIRE(zeb::mask({1, 2, 3, 4}), env, ENVINFO_ASSIGN, clean, work) == err::kOk) {
    return err::kOk;
  }
  return LCONF_INFO(env->lconf_name, 1, clean, work);
}

}  // namespace

int16_t ENV_FNAME(uint32_t mask, const EnvRecord* env, const char* name, char* internal,
                  char* external, int16_t* length, int16_t translate) {
  if (!zeb::mask_fits(mask, 6)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1) || !zeb::present(mask, 2) || env == nullptr || name == nullptr) {
    return err::kMissingParameter;
  }
  char work[kWork];
  read_name(name, work);
  if (zeb::present(mask, 6) && translate != 0) {
    char alternate[kWork];
    int16_t error = LCONF_INFO(env->lconf_name, 2, work, alternate);
    if (error != err::kOk) return error;
    std::memcpy(work, alternate, kWork);
  }
  // A chain of logical names ends after a bounded number of expansions, so a
  // name that leads back to itself cannot hold the caller forever.
  for (int expansions = 0; work[0] == '='; ++expansions) {
    if (expansions == zeb::kMaxNameExpansions) return err::kBadName;
    int16_t error = expand(env, work);
    if (error != err::kOk) return error;
  }
  char internal_name[kInternal];
  if (is_external(work)) {
    int16_t text = 0;
    while (text < kWork && !ends_text(work[text])) ++text;
    // A name that cannot be expanded is refused rather than handed on.
    zeb::platform::Result<zeb::platform::FileName> expanded = zeb::platform::expand_name(
        std::string_view(work, static_cast<size_t>(text)), env->default_names);
    if (text <= 0 || !expanded.ok()) return err::kBadName;
    zeb::platform::to_internal(*expanded, internal_name);
  } else {
    std::memcpy(internal_name, work, kInternal);
  }
  const std::string collapsed = zeb::platform::collapse_name(internal_name);
  const char* external_name = collapsed.data();
  const auto external_length = static_cast<int16_t>(collapsed.size());
  if (zeb::present(mask, 3) && internal != nullptr) std::memcpy(internal, internal_name, kInternal);
  if (zeb::present(mask, 4) && external != nullptr) {
    std::memcpy(external, external_name, static_cast<size_t>(external_length));
  }
  if (zeb::present(mask, 5) && length != nullptr) *length = external_length;
  return err::kOk;
}
