// A simulated 6530 block-mode terminal on a pseudo-terminal.
//
// Sim6530 puts a Screen6530 (screen6530.h) on the master side of a
// pseudo-terminal and runs it on a thread of its own, so a program (or a
// test) opens the slave as its terminal ($PTSn) and sees a 6530 answer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/files/pty.h"
#include "terminal/screen6530.h"

namespace zeb::terminal {

class Sim6530 {
 public:
  // Opens the pseudo-terminal and starts the terminal's thread.
  explicit Sim6530(int pages = 8, int rows = 24, int columns = 80);
  ~Sim6530();
  Sim6530(const Sim6530&) = delete;
  Sim6530& operator=(const Sim6530&) = delete;

  bool ok() const { return pty_.is_open(); }
  // Why the pseudo-terminal did not open: the error and the host's errno.
  int16_t open_error() const { return open_error_; }
  int open_errno() const { return open_errno_; }
  // The terminal's name for FILE_OPEN_ ($PTSn) and its host path.
  std::string name() const { return pty_.slave_name(); }
  const std::string& path() const { return pty_.slave_path(); }
  platform::PseudoTerminal& pty() { return pty_; }

  // Input as typed at the terminal, after any answer not yet taken.
  void type(const std::string& text);
  // A function key: the key byte and the cursor's page, row and column.
  void press_key(uint8_t key);
  // Presses a function key when the program waits for it (see
  // press_scripted), after the keys given before; for a program that runs
  // on its own, as sim6530 runs one.
  void press_when_waiting(uint8_t key);
  // The keys of press_when_waiting not pressed yet.
  size_t keys_not_pressed();
  // The next request is answered with exactly these bytes instead.
  void answer_next(std::string bytes);
  // The next request gets no answer.
  void ignore_next();
  // Every byte the program sent since the last call (the latest MiB of
  // them), once the line has been quiet for quiet_ms.
  std::string output(int quiet_ms = 60);
  // Waits until done holds for the bytes the program sent since the last
  // output(), each time the terminal has taken in more (ten seconds at
  // most); whether it came to hold. A test that knows what the program
  // sent orders its next step after the terminal has acted on it this way.
  bool wait_for(const std::function<bool(const std::string&)>& done);
  // Waits until the terminal has taken in everything the program has
  // written so far (ten seconds at most). After the program has ended, what
  // the screen shows then is its last word.
  void drain();
  // Waits until the line has been quiet for quiet_ms, then runs f on the
  // screen.
  template <typename F>
  auto with_screen(F f, int quiet_ms = 60) {
    settle(quiet_ms);
    std::lock_guard<std::mutex> lock(mutex_);
    return f(screen_);
  }
  // Closes the master side: the program's terminal hangs up.
  void hang_up();
  // Why the terminal stopped on its own (it then hung up): empty while it
  // serves.
  std::string failure();

 private:
  void run();
  void serve();
  void apply_unfed(bool conversational);
  void keep_output(const std::string& in);
  void hand_over(const std::string& bytes);
  void press_scripted(bool line_quiet);
  void settle(int quiet_ms);
  void send_unsent();

  // Past this many bytes for the program (answers and typed input) that it
  // has not read, the terminal applies no more of what the program sent,
  // and reads no more of it, until the program reads: nothing is dropped.
  // One step of kFeedSlice bytes may go past it by its own answers.
  static constexpr size_t kMaxUnsent = 1 << 20;
  static constexpr size_t kFeedSlice = 16;
  static constexpr size_t kReadChunk = 1 << 16;  // the most read at a time
  static constexpr size_t kMaxOutput = 1 << 20;  // of what the program sent, kept

  platform::PseudoTerminal pty_;
  int16_t open_error_ = 0;
  int open_errno_ = 0;
  Screen6530 screen_;
  std::mutex mutex_;
  std::condition_variable taken_;  // notified when output_ grows
  std::string output_;
  // Bytes for the program, in order, that the line has not taken yet: the
  // terminal thread sends them as the program reads, so a program that
  // writes without reading never holds up the terminal.
  std::string unsent_;
  std::string unfed_;  // read from the program, not yet applied (backpressure)
  std::string failure_;
  std::deque<uint8_t> scripted_;     // keys to press when the program waits
  bool outstanding_ = false;         // the program has not read all it was handed
  uint64_t handed_ = 0;              // hand-overs so far
  bool answered_ = false;            // it wrote since it read what it was handed
  std::deque<std::string> answers_;  // verbatim answers; "\x01IGNORE" for none
  int64_t last_activity_ = 0;
  bool stop_ = false;
  uint64_t drain_asked_ = 0, drain_done_ = 0;  // drain() tickets asked and served
  std::thread thread_;
};

}  // namespace zeb::terminal
