// The format engine's typed entry, for the library's own callers: the log
// path, the survey and the programs' diagnostics. UTIL_FORMAT is its
// mask-word adapter.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>

namespace zeb::format {

// The most arguments one expansion reads; any beyond are not looked at.
inline constexpr size_t kMaxArgs = 14;

// Expands format (text ended by a NUL) into out and returns the number of
// bytes stored, at most out.size() and never more than 32767; no NUL is
// appended. args are the addresses of the values the directives show, in
// order; a directive whose argument is missing (past the end of args) or
// null takes 0, or an empty text for directives that show text at an
// address. A null format stores nothing.
size_t format_into(std::span<char> out, const char* format, std::span<const void* const> args);

inline size_t format_into(std::span<char> out, const char* format,
                          std::initializer_list<const void*> args = {}) {
  return format_into(out, format, std::span<const void* const>(args.begin(), args.size()));
}

}  // namespace zeb::format
