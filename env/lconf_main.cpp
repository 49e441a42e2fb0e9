// lconf: builds the configuration file from text and shows it as text.
//
//   lconf build TEXT FILE   reads the lines of TEXT and writes FILE
//   lconf show FILE         prints the records of FILE as lines
//   lconf --help | --version
//
// Lines (blank lines and lines beginning with "#" are ignored):
//   P NAME value text             a parameter; the value is everything after
//                                 the one blank that follows NAME, as written,
//                                 with \xHH standing for the byte HH
//   A NAME file-name [alternate]  a file name and an optional alternate name
// NAME has at most 32 characters and is upshifted (a leading "=" is dropped,
// as look-ups drop it); file and alternate names are upshifted, each a file
// name or a logical name "=NAME". FILE is replaced atomically: on any bad
// line nothing is written, an existing FILE stays as it was, and every bad
// line is reported as "TEXT:LINE: reason" (the first 20, then how many more
// there were). show writes a byte that is no printable
// character (a control byte, or one that is not UTF-8) as \xHH, and a
// backslash that would read as such an escape as \x5C, so that what show
// prints builds the same file again and never drives the terminal.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <zeb/env/env.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>
#include "format/format_core.h"
#include "platform/files/host_file.h"
#include "platform/host/diagnostics.h"
#include "platform/host/syscalls.h"

#ifndef LCONF_VERSION
#define LCONF_VERSION "unknown"
#endif

namespace {

constexpr int kRecord = zeb::kLconfRecordSize;
constexpr int kMaxValue = kRecord - zeb::kLconfValueOffset;

constexpr int kFailure = 1;

// Bad lines of TEXT reported one by one, as a compiler reports errors; the
// number of any beyond them is told after. Twenty fill a terminal's screen
// without scrolling the first out of sight.
constexpr int kMaxReported = 20;
constexpr int kUsageStatus = 2;

const char* const kUsage =
    "usage: lconf build TEXT FILE\n"
    "       lconf show FILE\n"
    "       lconf --help | --version\n";

const char* const kHelp =
    "\n"
    "Builds the configuration file FILE from the lines of TEXT, replacing FILE\n"
    "whole or not at all, and shows a configuration file as such lines.\n"
    "\n"
    "Lines of TEXT (blank lines and lines beginning with # are ignored):\n"
    "  P NAME value                  a parameter; \\xHH in the value is the byte HH\n"
    "  A NAME file-name [alternate]  a file name and an optional alternate name\n"
    "\n"
    "  -h, --help     print this text and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 the work failed (the message says why),\n"
    "2 bad arguments. See lconf(1).\n";

int refuse(const std::string& reason) {
  std::string text = "lconf: " + reason + "\n" + kUsage;
  text.pop_back();  // the line's own end
  zeb::platform::write_error_line(text);
  return kUsageStatus;
}

// "error N (the library's text)" for a library error number.
std::string library_error(int16_t error) {
  char text[160];
  const size_t length = zeb::format::format_into(text, "error \\e\\", {&error});
  return std::string(text, length);
}

// One line on standard error for a failed step on path: what went wrong
// (the Linux text where the host gave one) and the library's number and text.
int fail(const std::string& path, const std::string& what, int16_t error) {
  zeb::platform::write_error_line("lconf: " + path + ": " + what + "; " + library_error(error));
  return kFailure;
}

std::string upper(std::string s) {
  UTIL_UPSHIFT(s.data(), s.data(), static_cast<int16_t>(s.size()));
  return s;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The next blank-separated word at *at, moving past it and one blank after.
std::string word(const std::string& line, size_t* at) {
  while (*at < line.size() && is_blank(line[*at])) ++*at;
  size_t start = *at;
  while (*at < line.size() && !is_blank(line[*at])) ++*at;
  std::string w = line.substr(start, *at - start);
  if (*at < line.size()) ++*at;
  return w;
}

bool printable(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// A file name or logical name that fits a field of size bytes; "" when good.
std::string check_file_name(const std::string& name, size_t size, const char* what) {
  if (name.size() > size) return std::string(what) + " longer than " + std::to_string(size);
  if (!printable(name)) return std::string("bad character in ") + what;
  if (name[0] == '=') {
    if (name.size() < 2) return std::string("empty logical name as ") + what;
    return "";
  }
  char internal[24];
  if (FNAMEEXPAND(name.data(), static_cast<int16_t>(name.size()), internal, "$X      Y       ") !=
      static_cast<int16_t>(name.size())) {
    return std::string("not a file name: ") + name;
  }
  return "";
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_escape(const std::string& s, size_t at) {
  return at + 3 < s.size() && s[at] == '\\' && s[at + 1] == 'x' && hex_digit(s[at + 2]) >= 0 &&
         hex_digit(s[at + 3]) >= 0;
}

// The value with each \xHH replaced by the byte HH; any other backslash is
// itself. Returns the reason when the value holds a NUL byte as written.
std::string unescape(const std::string& text, std::string* value) {
  value->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (is_escape(text, i)) {
      value->push_back(static_cast<char>(hex_digit(text[i + 2]) << 4 | hex_digit(text[i + 3])));
      i += 3;
    } else {
      value->push_back(text[i]);
    }
  }
  return "";
}

// The length of the UTF-8 character at s[at] that a terminal shows as a
// character (no C1 control, no overlong form, no surrogate); 0 when the
// bytes there are no such character.
size_t utf8_length(const std::string& s, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(at);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > s.size()) return 0;
  uint32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  if (code <= 0x9F) return 0;  // C1 controls
  return length;
}

// The bytes as show writes them: printable characters as they are, every
// other byte as \xHH, and a backslash that would read as an escape as \x5C.
std::string escaped(const std::string& s) {
  std::string out;
  char hex[5];
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c < 0x7F && !(c == '\\' && is_escape(s, i))) {
      out.push_back(s[i++]);
    } else if (size_t n = c >= 0x80 ? utf8_length(s, i) : 0; n != 0) {
      out.append(s, i, n);
      i += n;
    } else {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      ++i;
    }
  }
  return out;
}

// Parses one line into a record; returns the reason when the line is bad.
std::string parse_line(const std::string& text, std::string* record, std::string* key) {
  size_t at = 0;
  std::string type = upper(word(text, &at));
  if (type != "P" && type != "A") return "record type must be P or A";
  std::string name = upper(word(text, &at));
  if (!name.empty() && name[0] == '=') name.erase(0, 1);
  if (name.empty()) return "missing name";
  if (name.size() > static_cast<size_t>(zeb::kLconfNameSize)) return "name longer than 32";
  if (!printable(name)) return "bad character in name";
  record->assign(kRecord, ' ');
  (*record)[0] = type[0];
  std::memset(&(*record)[2], '*', 16);
  std::memcpy(&(*record)[zeb::kLconfNameOffset], name.data(), name.size());
  if (type == "P") {
    std::string value;
    if (std::string bad = unescape(at <= text.size() ? text.substr(at) : "", &value);
        !bad.empty()) {
      return bad;
    }
    if (value.size() > static_cast<size_t>(kMaxValue)) {
      return "value longer than " + std::to_string(kMaxValue);
    }
    (*record)[zeb::kLconfValueLenOffset] = static_cast<char>(value.size() >> 8);
    (*record)[zeb::kLconfValueLenOffset + 1] = static_cast<char>(value.size() & 0xFF);
    std::memcpy(&(*record)[zeb::kLconfValueOffset], value.data(), value.size());
  } else {
    std::string file = upper(word(text, &at));
    std::string alternate = upper(word(text, &at));
    if (file.empty()) return "missing file name";
    std::string rest = word(text, &at);
    if (!rest.empty()) return "text after the alternate name";
    std::string bad = check_file_name(file, zeb::kLconfFileSize, "file name");
    if (bad.empty() && !alternate.empty()) {
      bad = check_file_name(alternate, zeb::kLconfAltSize, "alternate name");
    }
    if (!bad.empty()) return bad;
    std::memcpy(&(*record)[zeb::kLconfFileOffset], file.data(), file.size());
    std::memcpy(&(*record)[zeb::kLconfAltOffset], alternate.data(), alternate.size());
  }
  *key = record->substr(0, zeb::kLconfKeySize);
  return "";
}

int build(const std::string& text_path, const std::string& file_path) {
  std::string text;
  bool opened = false;
  if (const int e = zeb::platform::read_host_file(text_path, &text, &opened); e != 0) {
    return fail(text_path,
                opened ? std::string("cannot read: ") + std::strerror(e) : std::strerror(e),
                zeb::platform::error_from_errno(e));
  }
  std::istringstream in(text);
  std::vector<std::string> records;
  std::map<std::string, int> lines_of;  // key -> line number
  std::string line;
  int number = 0;
  int bad_lines = 0;  // each is reported, and then nothing is written
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string reason;
    if (line.find('\0') != std::string::npos) reason = "NUL byte in line (write it as \\x00)";
    std::string record, key;
    if (reason.empty()) reason = parse_line(line, &record, &key);
    if (reason.empty() && lines_of.count(key) != 0) {
      reason = "entry already given on line " + std::to_string(lines_of[key]);
    }
    if (!reason.empty()) {
      if (++bad_lines <= kMaxReported) {
        zeb::platform::write_error_line(text_path + ":" + std::to_string(number) + ": " + reason);
      }
      continue;
    }
    lines_of[key] = number;
    records.push_back(record);
  }
  if (bad_lines > kMaxReported) {
    const int more = bad_lines - kMaxReported;
    zeb::platform::write_error_line(text_path + ": " + std::to_string(more) + " more bad line" +
                                    (more == 1 ? "" : "s") + " not shown");
  }
  if (bad_lines != 0) return kFailure;
  std::string problem;
  if (int16_t error =
          zeb::platform::keyfile_write(file_path, zeb::kLconfKeySize, records, &problem);
      error != 0) {
    return fail(file_path, problem, error);
  }
  return 0;
}

std::string trimmed(const std::string& field) {
  size_t end = field.find(' ');
  return field.substr(0, end);
}

int show(const std::string& file_path) {
  std::vector<std::string> records;
  std::string problem;
  if (int16_t error = zeb::platform::keyfile_read_all(file_path, &records, &problem); error != 0) {
    return fail(file_path, problem, error);
  }
  std::ostringstream out;
  for (const std::string& r : records) {
    // Only whole records of the library's own form are shown as lines; any
    // other record, however short, is shown by its key.
    bool ours = r.size() == static_cast<size_t>(kRecord) && r[1] == ' ' &&
                r.compare(2, 16, std::string(16, '*')) == 0;
    std::string name = ours ? escaped(trimmed(r.substr(zeb::kLconfNameOffset, zeb::kLconfNameSize)))
                            : std::string();
    if (ours && r[0] == 'P') {
      int length = static_cast<unsigned char>(r[zeb::kLconfValueLenOffset]) << 8 |
                   static_cast<unsigned char>(r[zeb::kLconfValueLenOffset + 1]);
      if (length <= kMaxValue) {
        out << "P " << name << " "
            << escaped(r.substr(zeb::kLconfValueOffset, static_cast<size_t>(length))) << "\n";
        continue;
      }
    } else if (ours && r[0] == 'A') {
      std::string alternate = trimmed(r.substr(zeb::kLconfAltOffset, zeb::kLconfAltSize));
      out << "A " << name << " "
          << escaped(trimmed(r.substr(zeb::kLconfFileOffset, zeb::kLconfFileSize)))
          << (alternate.empty() ? "" : " " + escaped(alternate)) << "\n";
      continue;
    }
    out << "# a record the library does not read: " << escaped(r.substr(0, zeb::kLconfKeySize))
        << "\n";
  }
  if (const int e = zeb::platform::write_standard_output(out.str()); e != 0) {
    return fail("standard output", std::string("cannot write the records: ") + std::strerror(e),
                zeb::platform::error_from_errno(e));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, 'V'},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the reasons below are our own
  bool help = false;
  bool version = false;
  for (;;) {
    const int previous = optind;
    const int c = getopt_long(argc, argv, "+hV", kOptions, nullptr);
    if (c == -1) break;
    if (c == 'h') {
      help = true;
    } else if (c == 'V') {
      version = true;
    } else {
      const std::string given = optind > previous ? argv[optind - 1] : argv[previous];
      if (optopt != 0 && given.compare(0, 2, "--") != 0) {
        return refuse(std::string("unknown option -") + static_cast<char>(optopt));
      }
      const std::string option_name = given.substr(0, given.find('='));
      if (given.find('=') != std::string::npos &&
          (option_name == "--help" || option_name == "--version")) {
        return refuse(option_name + " takes no value");
      }
      return refuse("unknown option " + option_name);
    }
  }
  if (help && version) return refuse("--help and --version cannot go together");
  if (help || version) {
    if (optind != argc) return refuse(std::string("unexpected argument \"") + argv[optind] + "\"");
    const std::string text =
        help ? std::string(kUsage) + kHelp : std::string("lconf (zeb) " LCONF_VERSION "\n");
    if (const int e = zeb::platform::write_standard_output(text); e != 0) {
      return fail("standard output", std::strerror(e), zeb::platform::error_from_errno(e));
    }
    return 0;
  }
  std::vector<std::string> args(argv + optind, argv + argc);
  if (args.empty()) return refuse("no command given");
  if (args[0] == "build") {
    if (args.size() != 3) return refuse("build takes a TEXT and a FILE");
    return build(args[1], args[2]);
  }
  if (args[0] == "show") {
    if (args.size() != 2) return refuse("show takes one FILE");
    return show(args[1]);
  }
  return refuse("unknown command \"" + args[0] + "\"");
}
