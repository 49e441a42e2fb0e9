// The master side of a pseudo-terminal, for programs that play a terminal:
// the simulated 6530 terminal and the tests that drive a program's terminal
// I/O through it. The slave side is an ordinary terminal device that a
// program opens by its name ($PTSn, see platform/README.md) or runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/status.h"

namespace zeb::platform {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // Opens a new pair. The line starts as a terminal that echoes locally
  // would have it: canonical, no echo, no output processing, the
  // terminal's CR ending a line. Returns success or the error, with errno
  // as the host's refusal left it.
  Status open();
  bool is_open() const { return master_ >= 0; }
  // The slave's host path (/dev/pts/N) and its terminal name ($PTSN).
  const std::string& slave_path() const { return slave_path_; }
  std::string slave_name() const;

  // Appends what the program wrote to *out, at most max_bytes of it,
  // waiting at most timeout_ms (-1: without limit) for the first byte.
  // Returns the number of bytes read, 0 when nothing came, -1 when the
  // slave side is closed by every program and nothing is left to read.
  long read(std::string* out, int timeout_ms, size_t max_bytes = SIZE_MAX);
  // Sends bytes to the program as typed at the terminal: what the line
  // takes of them now, without waiting. Returns the number of bytes taken
  // (0 when the line is full), -1 when the line refuses them. A caller
  // that has more to send waits for room with wait_ready; a line that hung
  // up reports that, not room.
  long write_some(std::string_view bytes);

  // What the line is ready for after waiting at most timeout_ms (-1:
  // without limit) for input (unless want_input is false), or for room for
  // output when want_output.
  struct Ready {
    bool input = false;    // the program wrote something to read
    bool output = false;   // the line takes more bytes for the program
    bool hung_up = false;  // no program holds the slave open
  };
  Ready wait_ready(bool want_output, int timeout_ms, bool want_input = true);
  // Whether the program has the line in canonical (conversational) mode.
  bool canonical() const;
  // Whether the program has bytes of the terminal's it has not read: the
  // slave side is readable (for a canonical line, a whole line is there).
  bool unread_input() const;
  // Whether every thread of every process whose controlling terminal is
  // this one sleeps (state S in /proc; a stopped or ended process counts
  // as sleeping). Running, runnable and disk-waiting ones do not: they are
  // still on their way to what they will wait for.
  bool users_asleep() const;
  // Turns the line's output processing (OPOST with ONLCR: a line feed the
  // program writes reaches the terminal as CR LF) on or off; false when the
  // line refuses.
  bool set_output_processing(bool on);
  // Sets the line's speed in bits per second (one of the usual rates from
  // 50 to 38400); false when the rate or the line refuses it.
  bool set_speed(long bps);
  // Closes the master: the program sees the terminal hang up.
  void close();

  // Runs argv (argv[0] looked up in PATH) with the slave as its controlling
  // terminal and standard descriptors, with the NAME=VALUE entries of env
  // added to its environment. Returns the pid, or the error (its note the
  // program) with errno as the host's refusal left it.
  Result<long> spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  // Waits for a child started by spawn: its exit status (128 + the signal
  // for a child a signal ended), or -1 when it still runs and nohang.
  static int wait(long pid, bool nohang);

 private:
  int master_ = -1;
  std::string slave_path_;
};

}  // namespace zeb::platform
