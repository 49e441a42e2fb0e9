// sim6530: runs a program on a simulated 6530 terminal and shows what it
// drew.
//
//   sim6530 [--pages N] [--rows N] [--columns N] [--key K]... PROGRAM [ARG]...
//
// The program runs with the terminal's pseudo-terminal as its controlling
// terminal, standard input, output and error, and with ZEB_TERMINAL=6530.
// Each --key K (a decimal byte value) is pressed as a function key, one
// after the other, whenever the program has been quiet for a tenth of a
// second. When the program ends, the displayed page is printed as text,
// framed, followed by the cursor's place; the exit status is the program's.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "terminal/sim6530.h"

namespace {

int usage() {
  std::cerr
      << "usage: sim6530 [--pages N] [--rows N] [--columns N] [--key K]... PROGRAM [ARG]...\n";
  return 2;
}

bool number(const char* text, int low, int high, int* value) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int pages = 8, rows = 24, columns = 80;
  std::vector<int> keys;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    int value = 0;
    if (i + 1 >= argc) return usage();
    if (option == "--pages" && number(argv[i + 1], 1, 8, &value)) {
      pages = value;
    } else if (option == "--rows" && number(argv[i + 1], 1, 224, &value)) {
      rows = value;
    } else if (option == "--columns" && number(argv[i + 1], 1, 224, &value)) {
      columns = value;
    } else if (option == "--key" && number(argv[i + 1], 0, 255, &value)) {
      keys.push_back(value);
    } else {
      return usage();
    }
  }
  if (i >= argc) return usage();
  zeb::terminal::Sim6530 sim(pages, rows, columns);
  if (!sim.ok()) {
    std::cerr << "sim6530: cannot open a pseudo-terminal\n";
    return 1;
  }
  std::vector<std::string> program(argv + i, argv + argc);
  int16_t error = 0;
  long pid = sim.pty().spawn(program, {"ZEB_TERMINAL=6530"}, &error);
  if (pid < 0) {
    std::cerr << "sim6530: cannot run " << program[0] << " (error " << error << ")\n";
    return 127;
  }
  size_t next_key = 0;
  int status = -1;
  while ((status = zeb::platform::PseudoTerminal::wait(pid, true)) < 0) {
    if (next_key < keys.size()) {
      sim.output(100);
      sim.press_key(static_cast<uint8_t>(keys[next_key++]));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  sim.with_screen([&](const zeb::terminal::Screen6530& screen) {
    std::string rule(static_cast<size_t>(screen.columns()) + 2, '-');
    rule.front() = rule.back() = '+';
    rule.push_back('\n');
    std::cout << rule;
    for (int r = 1; r <= screen.rows(); ++r) {
      std::string text = screen.row_text(screen.display_page(), r);
      text.resize(static_cast<size_t>(screen.columns()), ' ');
      std::cout << "|" << text << "|\n";
    }
    std::cout << rule << "page " << screen.display_page() << ", cursor at row "
              << screen.cursor_row() << ", column " << screen.cursor_column() << "\n";
    return 0;
  });
  return status;
}
