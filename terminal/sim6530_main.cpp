// sim6530: runs a program on a simulated 6530 terminal and shows what it
// drew.
//
//   sim6530 [--pages=N] [--rows=N] [--columns=N] [--key=K]... [--screen=FILE]
//           PROGRAM [ARG]...
//
// The program runs with the terminal's pseudo-terminal as its controlling
// terminal, standard input, output and error, and with ZEB_TERMINAL=6530.
// The line processes output as a terminal's usually does (a line feed the
// program writes arrives as CR LF), so plain line output reads as on any
// terminal. Each --key K (a decimal byte value) is pressed as a function
// key, one after the other, each when the program waits for it (see
// Sim6530::press_when_waiting). When the program ends, the displayed page is printed as
// text, framed, followed by the cursor's place, and written to the --screen
// file; the exit status is the program's (sim6530.1 lists the others).
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include <zeb/platform/errors.h>
#include "format/format_core.h"
#include "platform/host/syscalls.h"
#include "terminal/sim6530.h"

namespace {

// Exit statuses of sim6530's own (the program's status otherwise), as
// env(1) and timeout(1) have them.
constexpr int kUsage = 2;
constexpr int kFailed = 125;     // sim6530 itself could not do its part
constexpr int kCannotRun = 126;  // the program was found but cannot run
constexpr int kNotFound = 127;   // no such program

constexpr const char* kHelp =
    "Usage: sim6530 [OPTION]... PROGRAM [ARG]...\n"
    "Runs PROGRAM on a simulated 6530 terminal and prints the page it shows\n"
    "when PROGRAM ends.\n"
    "\n"
    "  --pages=N      pages of display memory, 1 to 8 (default 8)\n"
    "  --rows=N       rows of a page, 1 to 224 (default 24)\n"
    "  --columns=N    columns of a row, 1 to 224 (default 80)\n"
    "  --key=K        press function key K (a byte value, 0 to 255) when the\n"
    "                 program waits for it; repeat for more keys, pressed in\n"
    "                 order, each once the program has answered the one before\n"
    "  --screen=FILE  write the rows of the displayed page to FILE at the end,\n"
    "                 one line per row, trailing blanks trimmed\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Exit status: PROGRAM's (128+N when signal N ended it); 2 for a usage\n"
    "error; 125 when sim6530 fails; 126 when PROGRAM cannot run; 127 when\n"
    "PROGRAM is not found.\n";

int refuse(const std::string& reason) {
  std::cerr << "sim6530: " << reason << "\nTry 'sim6530 --help' for more information.\n";
  return kUsage;
}

// "error N (the library's text)", and the host's own words for host_errno
// where the failure has them.
std::string describe(int16_t error, int host_errno) {
  char text[200];
  size_t length = zeb::format::format_into(text, "error \\e\\", {&error});
  std::string line(text, length);
  if (host_errno != 0) line += std::string("; Linux: ") + std::strerror(host_errno);
  return line;
}

// A decimal number from low to high; otherwise the reason it is not one.
bool number(const char* text, int low, int high, int* value) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

// Writes the rows of the displayed page to path, one line per row with its
// trailing blanks trimmed: every row, so the file has as many lines as the
// page has rows. Returns 0 or the errno of the step that failed.
int write_screen(const std::string& path, const std::vector<std::string>& rows) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) return errno;
  int error = 0;
  for (const std::string& row : rows) {
    if (std::fputs(row.c_str(), f) == EOF || std::fputc('\n', f) == EOF) {
      error = errno;
      break;
    }
  }
  if (std::fclose(f) != 0 && error == 0) error = errno;
  return error;
}

// What an exception that reached main says: "out of memory", or its text.
std::string reason(const std::exception& e) {
  return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what();
}

int run(int argc, char** argv);

}  // namespace

// sim6530 never ends on an exception: one that reaches here (no memory, no
// thread for the terminal) is said on standard error and ends it with 125.
int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "sim6530: the simulated terminal failed: " << reason(e) << "\n";
  } catch (...) {
    std::cerr << "sim6530: the simulated terminal failed\n";
  }
  return kFailed;
}

namespace {

// What the command line asks for.
struct Options {
  int pages = 8, rows = 24, columns = 80;
  std::vector<int> keys;
  std::string screen_file;
};

// Reads the options into *o; returns -1 to go on with PROGRAM at optind, or
// the exit status to end with (help, version, a refusal).
int parse(int argc, char** argv, Options* o) {
  int& pages = o->pages;
  int& rows = o->rows;
  int& columns = o->columns;
  std::vector<int>& keys = o->keys;
  std::string& screen_file = o->screen_file;
  enum { kPages = 1, kRows, kColumns, kKey, kScreen, kHelpOption, kVersion };
  static const struct option kOptions[] = {
      {"pages", required_argument, nullptr, kPages},
      {"rows", required_argument, nullptr, kRows},
      {"columns", required_argument, nullptr, kColumns},
      {"key", required_argument, nullptr, kKey},
      {"screen", required_argument, nullptr, kScreen},
      {"help", no_argument, nullptr, kHelpOption},
      {"version", no_argument, nullptr, kVersion},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;  // the refusals below say why
  // "+": the options end at PROGRAM, whose own arguments are its business.
  for (;;) {
    int index = -1;
    int option = getopt_long(argc, argv, "+:", kOptions, &index);
    if (option == -1) break;
    const char* name = index >= 0 ? kOptions[index].name : nullptr;
    int value = 0;
    switch (option) {
      case kPages:
        if (!number(optarg, 1, 8, &value)) {
          return refuse(std::string("--pages ") + optarg + ": the pages are a number from 1 to 8");
        }
        pages = value;
        break;
      case kRows:
      case kColumns:
        if (!number(optarg, 1, 224, &value)) {
          return refuse("--" + std::string(name) + " " + optarg + ": the " + name +
                        " are a number from 1 to 224");
        }
        (option == kRows ? rows : columns) = value;
        break;
      case kKey:
        if (!number(optarg, 0, 255, &value)) {
          return refuse(std::string("--key ") + optarg + ": a key is a byte value from 0 to 255");
        }
        keys.push_back(value);
        break;
      case kScreen:
        if (*optarg == '\0') return refuse("--screen: the file name is empty");
        screen_file = optarg;
        break;
      case kHelpOption:
        std::cout << kHelp;
        return 0;
      case kVersion:
        std::cout << "sim6530 (zeb) " << SIM6530_VERSION << "\n";
        return 0;
      case ':':
        return refuse(std::string(argv[optind - 1]) + ": the option needs a value");
      default:
        if (optopt >= kPages && optopt <= kVersion) {
          return refuse(std::string(argv[optind - 1]) + ": the option takes no value");
        }
        if (optopt != 0) return refuse(std::string("unknown option -") + static_cast<char>(optopt));
        return refuse(std::string("unknown option ") + argv[optind - 1]);
    }
  }
  if (optind >= argc) return refuse("no program to run");
  return -1;
}

int run(int argc, char** argv) {
  Options o;
  if (int status = parse(argc, argv, &o); status >= 0) return status;
  const std::vector<int>& keys = o.keys;
  const std::string& screen_file = o.screen_file;
  zeb::terminal::Sim6530 sim(o.pages, o.rows, o.columns);
  if (!sim.ok()) {
    std::cerr << "sim6530: cannot open a pseudo-terminal: "
              << describe(sim.open_error(), sim.open_errno()) << "\n";
    return kFailed;
  }
  // Plain line output reads as on any terminal: each line starts at the
  // first column. A program that wants the raw line (block mode) turns
  // output processing off itself.
  if (!sim.pty().set_output_processing(true)) {
    int e = errno;
    std::cerr << "sim6530: cannot set up the pseudo-terminal: "
              << describe(zeb::platform::error_from_errno(e), e) << "\n";
    return kFailed;
  }
  std::vector<std::string> program(argv + optind, argv + argc);
  zeb::platform::Result<long> spawned = sim.pty().spawn(program, {"ZEB_TERMINAL=6530"});
  if (!spawned.ok()) {
    int e = errno;
    std::cerr << "sim6530: cannot run " << program[0] << ": " << describe(spawned.code(), e)
              << "\n";
    return e == ENOENT ? kNotFound : e == EACCES || e == ENOEXEC ? kCannotRun : kFailed;
  }
  const long pid = *spawned;
  for (int key : keys) sim.press_when_waiting(static_cast<uint8_t>(key));
  int status = zeb::platform::PseudoTerminal::wait(pid, false);
  if (std::string failure = sim.failure(); !failure.empty()) {
    std::cerr << "sim6530: the simulated terminal failed: " << failure << "\n";
    return kFailed;
  }
  if (size_t left = sim.keys_not_pressed(); left > 0) {
    std::cerr << "sim6530: " << left << " of the " << keys.size()
              << " keys not pressed: the program ended without waiting for them\n";
  }
  // Everything the program wrote is on the screen before it is shown.
  sim.drain();
  std::vector<std::string> shown;
  sim.with_screen(
      [&](const zeb::terminal::Screen6530& screen) {
        std::string rule(static_cast<size_t>(screen.columns()) + 2, '-');
        rule.front() = rule.back() = '+';
        rule.push_back('\n');
        std::cout << rule;
        for (int r = 1; r <= screen.rows(); ++r) {
          std::string text = screen.row_text(screen.display_page(), r);
          shown.push_back(text);
          text.resize(static_cast<size_t>(screen.columns()), ' ');
          std::cout << "|" << text << "|\n";
        }
        std::cout << rule << "page " << screen.display_page() << ", cursor at row "
                  << screen.cursor_row() << ", column " << screen.cursor_column() << "\n";
        return 0;
      },
      0);
  std::cout.flush();
  if (!screen_file.empty()) {
    if (int e = write_screen(screen_file, shown); e != 0) {
      std::cerr << "sim6530: cannot write the screen to " << screen_file << ": "
                << describe(zeb::platform::error_from_errno(e), e) << "\n";
      return kFailed;
    }
  }
  return status;
}

}  // namespace
