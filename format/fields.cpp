// The text field handlers: strings (a, v), a repeated character (s), the
// two-valued words (b, o, y), the processor type (c), a process (p), a user
// (u) and a file name (f). The last four ask the platform for names.
#include <cstring>

#include <zeb/platform/convert.h>
#include <zeb/platform/cpuinfo.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/procinfo.h>
#include "format/format_internal.h"

namespace zeb::format {

namespace {

// Processor type names, three characters each, indexed by type number.
constexpr char kCpuTypes[] = "I  II TXPVLXCLXCYCNSRK10";
constexpr char kInvalid[] = "<invalid>";
constexpr char kProcessNotOpen[] = "<not open>";
constexpr char kFileNotOpen[] = "<Not open>";

constexpr int text_length(const char* t) {
  int n = 0;
  while (t[n] != 0) ++n;
  return n;
}

// FILEINFO's name of an open file into name24; false when it is not open.
// File number -1 names no file (FILEINFO answers it with the last failed
// open's error, but with no name).
bool open_file_name(int16_t fnum, char* name24) {
  std::memset(name24, ' ', 24);
  if (fnum == -1) return false;
  int16_t error = 0;
  return FILEINFO(zeb::mask({1, 2, 3}), fnum, &error, name24) == 0;
}

// The collapsed external text of a 24-byte internal name into text (at least
// 40 bytes, blank-filled first so that a name that cannot be converted shows
// blanks). Returns the length.
int collapse(const char* name24, char* text) {
  std::memset(text, ' ', 40);
  int len = FNAMECOLLAPSE(name24, text);
  return len < 0 ? 0 : (len > 40 ? 40 : len);
}

}  // namespace

void process_string(State& s, bool nul_ends) {
  const char* text = static_cast<const char*>(s.next_param());
  s.next_char();
  unsigned flags = nul_ends ? kNulEnds : 0;
  if (s.test_char('l')) flags |= kLeft;
  if (s.test_char('c')) flags |= kCentre;
  if (s.test_char('r')) flags |= kRight;
  int width = 0;
  int length = 0;
  s.get_width(&width, &length);
  if (s.test_char('t')) flags |= kTrim;
  width = clamp_field(width);
  length = nul_ends ? 0 : clamp_field(length);
  s.output(width, text, length, flags);
}

void process_cstring(State& s) {
  s.next_char();
  int count = clamp_field(s.get_value());
  int c = 0;
  bool have = true;
  if (s.test_char('=')) {
    c = s.cur;
    s.next_char();
  } else {
    // A character argument that was not passed writes nothing.
    const void* p = s.next_param();
    have = p != nullptr;
    if (have) c = *static_cast<const unsigned char*>(p);
  }
  if (!have) return;
  // Stored as they are: this directive may place control bytes in a line.
  for (int i = 0; i < count; ++i) s.put(static_cast<char>(c));
}

void process_words(State& s, const char* yes, const char* no) {
  const int16_t value = s.param<int16_t>();
  s.next_char();
  int width = clamp_field(s.get_value());
  const char* text = value != 0 ? yes : no;
  s.output(width, text, text_length(text), kLeft);
}

void process_cpu(State& s) {
  s.next_char();
  int16_t type = 0;
  if (s.test_char('n')) {
    type = PROCESSORTYPE(s.param<int16_t>());
  } else if (s.test_char('t')) {
    type = s.param<int16_t>();
  } else {
    type = PROCESSORTYPE(static_cast<int16_t>(static_cast<uint16_t>(MYPID()) >> 8));
  }
  int width = clamp_field(s.get_value());
  if (static_cast<uint16_t>(type) <= 7) {
    s.output(width, kCpuTypes + 3 * type, 3, kLeft | kTrim);
  } else {
    s.output(width, kInvalid, text_length(kInvalid), kLeft);
  }
}

void process_pid(State& s) {
  s.next_char();
  unsigned char id[8] = {0};
  bool have = true;
  bool not_open = false;
  const int16_t my_system = MYSYSTEMNUMBER();
  if (s.test_char('p')) {
    int16_t cpupin = s.param<int16_t>();
    if (PROCESSINFO(zeb::mask({1, 2}), cpupin, reinterpret_cast<int16_t*>(id)) != 0) {
      // No such process: shown in numeric form.
      std::memset(id, 0, sizeof id);
      id[0] = 0x80;
      id[1] = static_cast<unsigned char>(my_system);
      std::memcpy(id + 6, &cpupin, 2);
    }
  } else if (s.test_char('n')) {
    int16_t fnum = s.param<int16_t>();
    char name24[24];
    if (open_file_name(fnum, name24)) {
      std::memcpy(id, name24, 8);
    } else {
      not_open = true;
    }
  } else if (s.test_char('i')) {
    const void* p = s.next_param();
    if (p != nullptr) {
      std::memcpy(id, p, 8);
    } else {
      have = false;  // no identifier passed: an empty field
    }
  } else {
    // This process's own inquiry cannot fail; were it to, the field
    // would show the zero identifier it starts with.
    PROCESSINFO(zeb::mask({1, 2}), MYPID(), reinterpret_cast<int16_t*>(id));
  }
  const bool numeric = s.test_char('#') || (id[0] & 0x80) != 0;
  const bool show_system = id[0] == '\\' || ((id[0] & 0x80) != 0 && id[1] != my_system);
  int width = clamp_field(s.get_value());
  if (!have) {
    s.output(width, nullptr, 0, kLeft);
    return;
  }
  if (not_open) {
    s.output(width, kProcessNotOpen, text_length(kProcessNotOpen), kLeft);
    return;
  }
  char* w = s.work;
  if (numeric) {
    int16_t word = 0;
    std::memcpy(&word, id + 6, 2);
    int n = 0;
    if (show_system) {
      NUMOUT(w, id[1], 10, 3);
      w[3] = ',';
      n = 4;
    }
    NUMOUT(w + n, static_cast<int16_t>((word >> 8) & 0x0F), 10, 2);
    w[n + 2] = ',';
    NUMOUT(w + n + 3, static_cast<int16_t>(word & 0xFF), 10, 3);
    s.output(width, w, n + 6, kLeft);
    return;
  }
  char name24[24];
  std::memset(name24, ' ', sizeof name24);
  std::memcpy(name24, id, 6);
  char text[48];
  int len = collapse(name24, text);
  if (len >= 3 && text[1] == '?' && text[2] == '?') {
    // A system the conversion cannot name is shown by its number.
    int rest = len - 3;
    if (rest > 40) rest = 40;
    std::memmove(text + 4, text + 3, static_cast<size_t>(rest));
    NUMOUT(text + 1, id[1], 10, 3);
    len = rest + 4;
  }
  s.output(width, text, len, kLeft | kUpshift);
}

void process_userid(State& s) {
  s.next_char();
  int16_t user = 0;
  if (s.test_char('p')) {
    // This process's own inquiries, here and below, cannot fail; were
    // one to, user would stay 0.
    PROCESSINFO(zeb::mask({1, 4}), MYPID(), nullptr, nullptr, &user);
  } else if (s.test_char('c')) {
    PROCESSINFO(zeb::mask({1, 3}), MYPID(), nullptr, &user);
  } else {
    user = s.param<int16_t>();
  }
  const bool numeric = s.test_char('#');
  int width = clamp_field(s.get_value());
  char* w = s.work;
  if (!numeric) {
    int16_t names[8];
    names[0] = user;
    if (USERIDTOUSERNAME(names) == 0) {
      const char* group = reinterpret_cast<const char*>(names);
      int glen = 8;
      while (glen > 0 && group[glen - 1] == ' ') --glen;
      std::memcpy(w, group, static_cast<size_t>(glen));
      w[glen] = '.';
      std::memcpy(w + glen + 1, group + 8, 8);
      s.output(width, w, glen + 9, kLeft | kTrim);
      return;
    }
  }
  const uint16_t id = static_cast<uint16_t>(user);
  NUMOUT(w, static_cast<int16_t>(id >> 8), 10, 3);
  w[3] = ',';
  NUMOUT(w + 4, static_cast<int16_t>(id & 0xFF), 10, 3);
  s.output(width, w, 7, kLeft);
}

void process_filename(State& s) {
  s.next_char();
  char name24[24];
  std::memset(name24, ' ', sizeof name24);
  char text[48];
  int len = 0;
  bool named = true;
  if (s.test_char('n')) {
    int16_t fnum = s.param<int16_t>();
    if (fnum == -1 || !open_file_name(fnum, name24)) {
      named = false;
      len = text_length(kFileNotOpen);
      std::memcpy(text, kFileNotOpen, static_cast<size_t>(len));
    }
  } else if (s.test_char('s')) {
    // Up to 24 bytes that may end early at a NUL; the rest are blanks.
    const char* p = static_cast<const char*>(s.next_param());
    if (p == nullptr) {
      named = false;
    } else {
      for (int i = 0; i < 24 && p[i] != 0; ++i) name24[i] = p[i];
    }
  } else if (s.test_char('o')) {
    // This process's own inquiries, here and below, cannot fail; were
    // one to, the name would stay blank.
    PROCESSINFO(zeb::mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, name24);
  } else if (s.test_char('p')) {
    PROCESSINFO(zeb::mask({1, 6}), MYPID(), nullptr, nullptr, nullptr, nullptr, name24);
    std::memset(name24, ' ', 16);
  } else {
    const void* p = s.next_param();
    if (p == nullptr) {
      named = false;
    } else {
      std::memcpy(name24, p, 24);
    }
  }
  if (named) len = collapse(name24, text);
  int width = clamp_field(s.get_value());
  // Names are upshifted; the "<Not open>" text keeps its own spelling.
  unsigned flags = named ? kLeft | kUpshift : kLeft;
  s.output(width, len > 0 ? text : nullptr, len, flags);
}

}  // namespace zeb::format
