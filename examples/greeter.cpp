// A small program on the library, to copy when starting a new one.
//
// It starts the library, reads the PARAM "GREETING" and the file that the
// logical name "=NAMES" stands for, writes one log line per name, lets a
// timer tick three times, and shuts down. Run from a shell:
//
//   ZEB_PARAM_GREETING=Hello ZEB_DEFINE_NAMES='$HOME.DATA.NAMES' ./greeter
//
// PARAMs come from ZEB_PARAM_<NAME> variables and logical names from
// ZEB_DEFINE_<NAME> variables (or an ASSIGN, or the configuration file).
// Without the PARAM the greeting comes from the configuration file's entry
// "P greeting VALUE", when there is one.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <zeb/zeb.h>

namespace {

// Start-up flags: read the start-up messages, open the home terminal and
// write log lines to it, with a "started" line at start-up and the closing
// lines at shut-down.
constexpr uint16_t kFlags = zeb::kFlagStartupProtocol | zeb::kFlagOpenHomeTerm |
                            zeb::kFlagLogToTerm | zeb::kFlagLogStarted | zeb::kFlagLogStopped;

int32_t g_ticks = 0;

// A timer procedure: runs inside ZEB_TIMERDELAY when its time has come.
void tick(int16_t /*arg1*/, int16_t /*arg2*/, int32_t step) {
  g_ticks += step;
  ZEB_LOG(zeb::mask({1, 2}), "Tick \\d\\", &g_ticks);
}

// The value of the configuration file's entry "P greeting VALUE". Such
// entries are not PARAMs: ENVINFO_PARAM reads only what the parent (or the
// shell's ZEB_PARAM_ variables) sent, so a program asks the configuration
// file itself, by the name start-up resolved for it (=lconf by default).
bool configured_greeting(char* greeting, int16_t* length) {
  const auto* env = static_cast<const EnvRecord*>(zeb::library_env());
  // LCONF_INFO stores the value and one blank after it: at most 118 bytes
  // and the blank, so a zeroed buffer of 120 shows where the value ends.
  char value[120] = {};
  if (env == nullptr || LCONF_INFO(env->lconf_name, 0, "GREETING", value) != 0) return false;
  const size_t stored = std::strlen(value);  // 0 only for a value that begins with a NUL
  if (stored == 0) return false;
  *length = static_cast<int16_t>(stored - 1);
  std::memcpy(greeting, value, static_cast<size_t>(*length));
  return true;
}

}  // namespace

int main() {
  // 200 pages (400 KB) of pool are plenty for this program.
  int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 200, kFlags);
  if (error != 0) {
    std::fprintf(stderr, "greeter: start-up failed with error %d\n", error);
    return 1;
  }

  // The greeting: the PARAM GREETING when the operator gave one, else the
  // entry "P greeting ..." of the configuration file, else "Hello".
  char greeting[256];
  int16_t length = 0;
  if (ZEB_ENVINFO(zeb::mask({1, 2, 3, 4}), ENVINFO_PARAM, "GREETING", greeting, &length) != 0 &&
      !configured_greeting(greeting, &length)) {
    length = 5;
    std::snprintf(greeting, sizeof greeting, "Hello");
  }

  // A file by its logical name: one name per line. Disk files are read by
  // byte counts, so the program splits the lines itself.
  int16_t names = zeb::kNotOpen;
  constexpr int16_t kReadOnly = 1;  // the access option: read only
  error = ZEB_OPEN(zeb::mask({1, 2, 3}), "=NAMES", &names, kReadOnly);
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "No =NAMES file: \\e\\", &error);
  } else {
    char text[512];
    int16_t count = 0;
    if (READX(zeb::mask({1, 2, 3, 4}), names, text, sizeof text, &count) != 0) count = 0;
    for (int16_t start = 0, end = 0; start < count; start = end + 1) {
      end = start;
      while (end < count && text[end] != '\n') ++end;
      int16_t name_length = static_cast<int16_t>(end - start);
      // \a.%\ shows text whose length is the next argument.
      ZEB_LOG(zeb::mask({1, 2, 3, 4, 5}), "\\a.%\\, \\a.%\\!", greeting, &length, text + start,
              &name_length);
    }
    FILE_CLOSE_(zeb::mask({1}), names);
  }

  // A periodic timer every 10 ticks (0.1 s), run while the program waits.
  void* timer = nullptr;
  ZEB_TIMERINSERT(zeb::mask({1, 2, 3, 4, 7}), &timer, tick, 10, 1, 0, 0, 1);
  while (g_ticks < 3) {
    int32_t delay = 0;
    ZEB_TIMERDELAY(&delay);
    if (delay > 0) DELAY(delay);
  }
  ZEB_TIMERDELETE(zeb::mask({1}), timer);

  // Writes the closing lines and ends the process; does not return.
  ZEB_SHUTDOWN(zeb::mask({1}), 0);
}
