// lconf: builds the configuration file from text and shows it as text.
//
//   lconf build TEXT FILE   reads the lines of TEXT and writes FILE
//   lconf show FILE         prints the records of FILE as lines
//
// Lines (blank lines and lines beginning with "#" are ignored):
//   P NAME value text             a parameter; the value is everything after
//                                 the one blank that follows NAME, as written
//   A NAME file-name [alternate]  a file name and an optional alternate name
// NAME has at most 32 characters and is upshifted (a leading "=" is dropped,
// as look-ups drop it); file and alternate names are upshifted, each a file
// name or a logical name "=NAME". FILE is replaced atomically: on any bad
// line nothing is written, an existing FILE stays as it was, and the line is
// reported as "TEXT:LINE: reason".
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <zeb/env/env.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/keyfile.h>

namespace {

constexpr int kRecord = zeb::kLconfRecordSize;
constexpr int kMaxValue = kRecord - zeb::kLconfValueOffset;

int usage() {
  std::cerr << "usage: lconf build TEXT FILE\n"
               "       lconf show FILE\n";
  return 2;
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
    std::string value = at <= text.size() ? text.substr(at) : "";
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
  std::ifstream in(text_path, std::ios::binary);
  if (!in) {
    std::cerr << "lconf: " << text_path << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::vector<std::string> records;
  std::map<std::string, int> lines_of;  // key -> line number
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string reason;
    if (line.find('\0') != std::string::npos) reason = "NUL byte in line";
    std::string record, key;
    if (reason.empty()) reason = parse_line(line, &record, &key);
    if (reason.empty() && lines_of.count(key) != 0) {
      reason = "entry already given on line " + std::to_string(lines_of[key]);
    }
    if (!reason.empty()) {
      std::cerr << text_path << ":" << number << ": " << reason << "\n";
      return 1;
    }
    lines_of[key] = number;
    records.push_back(record);
  }
  if (in.bad()) {
    std::cerr << "lconf: " << text_path << ": read error\n";
    return 1;
  }
  std::string problem;
  if (zeb::platform::keyfile_write(file_path, zeb::kLconfKeySize, records, &problem) != 0) {
    std::cerr << "lconf: " << file_path << ": " << problem << "\n";
    return 1;
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
  if (zeb::platform::keyfile_read_all(file_path, &records, &problem) != 0) {
    std::cerr << "lconf: " << file_path << ": " << problem << "\n";
    return 1;
  }
  std::ostringstream out;
  for (const std::string& r : records) {
    std::string name = trimmed(r.substr(zeb::kLconfNameOffset, zeb::kLconfNameSize));
    bool ours = r.size() == static_cast<size_t>(kRecord) && r[1] == ' ' &&
                r.compare(2, 16, std::string(16, '*')) == 0;
    if (ours && r[0] == 'P') {
      int length = static_cast<unsigned char>(r[zeb::kLconfValueLenOffset]) << 8 |
                   static_cast<unsigned char>(r[zeb::kLconfValueLenOffset + 1]);
      if (length <= kMaxValue) {
        out << "P " << name << " " << r.substr(zeb::kLconfValueOffset, static_cast<size_t>(length))
            << "\n";
        continue;
      }
    } else if (ours && r[0] == 'A') {
      std::string alternate = trimmed(r.substr(zeb::kLconfAltOffset, zeb::kLconfAltSize));
      out << "A " << name << " " << trimmed(r.substr(zeb::kLconfFileOffset, zeb::kLconfFileSize))
          << (alternate.empty() ? "" : " " + alternate) << "\n";
      continue;
    }
    out << "# a record the library does not read: " << r.substr(0, zeb::kLconfKeySize) << "\n";
  }
  std::cout << out.str() << std::flush;
  if (!std::cout) {
    std::cerr << "lconf: cannot write the records\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "build") return build(args[1], args[2]);
  if (args.size() == 2 && args[0] == "show") return show(args[1]);
  return usage();
}
