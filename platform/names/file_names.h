// File names: the external text "$VOLUME[.SUBVOL[.FILE]]" (or a temporary
// file's "$VOLUME.#nnnnnnn"), its 24-byte internal form, and the typed
// conversions between them that FNAMEEXPAND, FNAMECOLLAPSE and
// FILENAME_DECOMPOSE_ are built on. Internal to the platform.
//
// The names room knows only the spelling of names: whether a volume exists
// or what a name designates on the host is the volumes room's business.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"

namespace zeb::platform {

// Reserved device names of the standard streams. The home terminal of a
// program started from a shell is its standard output.
inline constexpr std::string_view kHomeTerminalName = "$ZHOME";
inline constexpr std::string_view kStdinName = "$ZIN";
inline constexpr std::string_view kStdoutName = "$ZOUT";
inline constexpr std::string_view kStderrName = "$ZERR";

// True for one of the four reserved stream names above.
bool is_stream_name(std::string_view volume);

// A parsed file name, every part upper case.
struct FileName {
  std::string volume;  // "$VOL"
  std::string subvol;  // "#nnnnnnn" for a temporary file
  std::string file;
  bool temporary() const { return !subvol.empty() && subvol[0] == '#' && file.empty(); }
  bool volume_only() const { return subvol.empty() && file.empty(); }
  // "$VOL[.SUB[.FILE]]".
  std::string external() const;
};

// The dot-separated parts of a name, upper case.
std::vector<std::string> split_name_parts(std::string_view text);

// Parses "$VOL[.SUB[.FILE]]" or "$VOL.#nnnnnnn"; false when malformed.
bool parse_name(std::string_view text, FileName* name);

// The 24-byte internal form of a parsed name (three blank-padded parts).
void to_internal(const FileName& name, char* internal);

// One 8-byte part of an internal name without its trailing blanks.
std::string trimmed_part(const char* part);

// Parses a 24-byte internal name; false when malformed.
bool from_internal(const char* internal, FileName* name);

// Typed conversions.
//
// parse_file_name: the name of text, or 13 when it is not a file name.
Result<FileName> parse_file_name(std::string_view text);
// expand_name: the name external text designates, a volume-less name taking
// the default volume (and subvolume) of the 16-byte blank-padded defaults
// when they are given; 13 when the text is not a valid name.
Result<FileName> expand_name(std::string_view text, const char* defaults = nullptr);
// collapse_name: the external text of a 24-byte internal name, blank parts
// left out; a name on another system ("\" first) is shown as "\??.$VOL..."
// and cut at 26 bytes (kCollapsedNameMax).
std::string collapse_name(const char* internal);
// file_name_part: part level (0 volume, 1 subvolume, 2 file) of external text;
// 13 for a text that is not a file name, 22 for a level out of range.
Result<std::string> file_name_part(std::string_view text, int16_t level);

}  // namespace zeb::platform
