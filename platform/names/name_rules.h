// The rules for names that the platform gives and checks: volume, subvolume
// and file names, process names, and names made from host text (device and
// program names). Internal to the platform.
//
// Letters and digits are the ASCII ones whatever the locale, so a name never
// holds a byte that another locale would read differently.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zeb::platform {

constexpr bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter_or_digit(char c) { return is_letter(c) || is_digit(c); }
constexpr char to_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = to_upper(c);
  return out;
}

inline std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = to_lower(c);
  return out;
}

// A name part: a letter, then letters or digits, max characters in all.
constexpr bool is_name_part(std::string_view text, size_t max) {
  if (text.empty() || text.size() > max || !is_letter(text[0])) return false;
  for (char c : text) {
    if (!is_letter_or_digit(c)) return false;
  }
  return true;
}

// A "$" and a name part of up to max - 1 characters ($DATA1).
constexpr bool is_dollar_name(std::string_view text, size_t max) {
  return text.size() >= 2 && text[0] == '$' && is_name_part(text.substr(1), max - 1);
}

// Host text made a name part: its letters and digits, upper case, with
// `lead` in front when that leaves nothing or no letter first
// ("nvme0n1p2" gives NVME0N1P2, "0abc" with 'D' gives D0ABC). Not cut.
inline std::string name_from_host(std::string_view text, char lead) {
  std::string out;
  for (char c : text) {
    if (is_letter_or_digit(c)) out.push_back(to_upper(c));
  }
  if (out.empty() || !is_letter(out[0])) out.insert(out.begin(), lead);
  return out;
}

}  // namespace zeb::platform
