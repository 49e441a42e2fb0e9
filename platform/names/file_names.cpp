// File-name parsing and the internal form.
#include "platform/names/file_names.h"

#include <algorithm>
#include <cstring>

#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include "platform/names/name_rules.h"

namespace zeb::platform {
namespace {

// A part of a name: a letter then up to seven letters or digits ("#" and
// seven digits for a temporary file's part).
bool valid_part(const std::string& part, bool allow_temp) {
  if (allow_temp && !part.empty() && part[0] == '#') {
    return part.size() == 8 && std::all_of(part.begin() + 1, part.end(), is_digit);
  }
  return is_name_part(part, 8);
}

}  // namespace

bool is_stream_name(std::string_view volume) {
  return volume == kHomeTerminalName || volume == kStdinName || volume == kStdoutName ||
         volume == kStderrName;
}

std::string FileName::external() const {
  std::string text = volume;
  if (!subvol.empty()) text += "." + subvol;
  if (!file.empty()) text += "." + file;
  return text;
}

std::vector<std::string> split_name_parts(std::string_view text) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : text) {
    if (c == '.') {
      parts.push_back(current);
      current.clear();
    } else {
      current.push_back(to_upper(c));
    }
  }
  parts.push_back(current);
  return parts;
}

bool parse_name(std::string_view text, FileName* name) {
  std::vector<std::string> parts = split_name_parts(text);
  if (parts.size() > 3) return false;
  const std::string& vol = parts[0];
  if (!is_dollar_name(vol, 8)) return false;
  *name = FileName{vol, "", ""};
  if (parts.size() >= 2) {
    if (!valid_part(parts[1], parts.size() == 2)) return false;
    name->subvol = parts[1];
  }
  if (parts.size() == 3) {
    if (!valid_part(parts[2], false)) return false;
    name->file = parts[2];
  }
  return true;
}

void to_internal(const FileName& name, char* internal) {
  std::memset(internal, ' ', 24);
  std::memcpy(internal, name.volume.data(), name.volume.size());
  std::memcpy(internal + 8, name.subvol.data(), name.subvol.size());
  std::memcpy(internal + 16, name.file.data(), name.file.size());
}

std::string trimmed_part(const char* part) {
  std::string text(part, 8);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool from_internal(const char* internal, FileName* name) {
  FileName result{trimmed_part(internal), trimmed_part(internal + 8), trimmed_part(internal + 16)};
  if (result.subvol.empty() && !result.file.empty()) return false;
  return parse_name(result.external(), name);
}

Result<FileName> parse_file_name(std::string_view text) {
  FileName name;
  if (!parse_name(text, &name)) return Status::error(err::kBadName, "not a file name");
  return name;
}

Result<FileName> expand_name(std::string_view text, const char* defaults) {
  std::vector<std::string> parts = split_name_parts(text);
  FileName name;
  if (!parts[0].empty() && parts[0][0] == '$') {
    if (!parse_name(text, &name)) return Status::error(err::kBadName);
  } else {
    // A name without a volume takes the default volume (and subvolume when
    // only a file is named).
    if (defaults == nullptr || parts.size() > 2) return Status::error(err::kBadName);
    std::string vol = trimmed_part(defaults), sub = trimmed_part(defaults + 8);
    std::string full = parts.size() == 1 ? vol + "." + sub + "." + parts[0]
                                         : vol + "." + parts[0] + "." + parts[1];
    if (!parse_name(full, &name)) return Status::error(err::kBadName);
  }
  return name;
}

std::string collapse_name(const char* internal) {
  std::string text;
  if (internal[0] == '\\') {
    // A name on another system: this host knows no system names.
    text = "\\??";
    std::string volume = trimmed_part(internal);
    text += ".$" + volume.substr(std::min<size_t>(2, volume.size()));
  } else {
    text = trimmed_part(internal);
  }
  // Blank parts are left out, dots only between the parts that stand.
  for (const std::string& part : {trimmed_part(internal + 8), trimmed_part(internal + 16)}) {
    if (part.empty()) continue;
    if (!text.empty()) text += ".";
    text += part;
  }
  // The promise is at most 26 bytes, the longest name of this system
  // ("$VOLUMEX.SUBVOLXX.FILENAME"). A name on another system can run to 29
  // ("\??." before a seven-character volume): its text only shows the name,
  // since this host cannot reach that system, so it is cut rather than
  // written past the caller's buffer.
  if (text.size() > zeb::kCollapsedNameMax) text.resize(zeb::kCollapsedNameMax);
  return text;
}

Result<std::string> file_name_part(std::string_view text, int16_t level) {
  FileName name;
  if (!parse_name(text, &name)) return Status::error(err::kBadName);
  if (level < 0 || level > 2) return Status::error(err::kOutOfBounds);
  return level == 0 ? name.volume : level == 1 ? name.subvol : name.file;
}

}  // namespace zeb::platform
