// The simulated 6530 terminal: the line driver that runs the screen on a
// pseudo-terminal.
#include "terminal/sim6530.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <new>

namespace zeb::terminal {
namespace {

constexpr char kIgnore[] = "\x01IGNORE";

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

Sim6530::Sim6530(int pages, int rows, int columns) : screen_(pages, rows, columns) {
  if (platform::Status opened = pty_.open(); !opened.ok()) {
    open_errno_ = errno;
    open_error_ = opened.code();
    return;
  }
  last_activity_ = now_ms();
  thread_ = std::thread([this] { run(); });
}

Sim6530::~Sim6530() { hang_up(); }

void Sim6530::hang_up() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  if (thread_.joinable()) thread_.join();
  pty_.close();
}

void Sim6530::run() {
  try {
    serve();
  } catch (const std::exception& e) {
    // A terminal that cannot go on hangs up, so the program ends rather
    // than wait for answers that never come; failure() says why.
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = dynamic_cast<const std::bad_alloc*>(&e) != nullptr ? "out of memory" : e.what();
    stop_ = true;
    pty_.close();
  }
  taken_.notify_all();
}

void Sim6530::serve() {
  for (;;) {
    bool want_output = false, want_input = false, check_taken = false;
    uint64_t drain_asked = 0, handed = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      want_output = !unsent_.empty();
      // Backpressure: nothing more is read while bytes already read wait
      // for room among the answers; the program's writes then wait on the
      // line, as they would with a real terminal that stops taking them.
      want_input = unfed_.empty();
      drain_asked = drain_asked_;
      check_taken = outstanding_ && unsent_.empty();
      handed = handed_;
    }
    platform::PseudoTerminal::Ready ready = pty_.wait_ready(want_output, 10, want_input);
    // Whether the program has read all it was handed, looked at before its
    // output is read: what is read from here on came after, as its answer
    // (or, when it wrote just before it read, is taken for one).
    const bool taken = check_taken && !pty_.unread_input();
    std::string in;
    const bool took = want_input && ready.input && pty_.read(&in, 0, kReadChunk) > 0;
    const bool conversational = pty_.canonical();
    bool idle = false, news = took;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (taken && handed_ == handed) outstanding_ = false;
      if (took) {
        keep_output(in);
        last_activity_ = now_ms();
        unfed_ = std::move(in);
        // Written after the program read all it was handed: its answer.
        if (!outstanding_) answered_ = true;
      }
      if (ready.hung_up && !took && !ready.output) {
        // No program holds the line open and it takes nothing more: the
        // answers were for a program that has gone.
        unsent_.clear();
        idle = true;
      }
      apply_unfed(conversational);
      if (!took && unfed_.empty() && drain_asked > drain_done_) {
        // The line had nothing to read after the drain was asked for.
        drain_done_ = drain_asked;
        news = true;
      }
      send_unsent();
      press_scripted(!took && !ready.input);
    }
    if (news) taken_.notify_all();
    // A line nobody holds open reports it at once: wait a little before
    // looking again rather than spin.
    if (idle) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Applies what was read, a few bytes at a time, while the answers waiting
// for the program stay under kMaxUnsent; what is left waits until the
// program has read some. The caller holds mutex_.
void Sim6530::apply_unfed(bool conversational) {
  size_t used = 0;
  std::vector<std::string> replies;
  while (used < unfed_.size() && unsent_.size() < kMaxUnsent) {
    size_t n = std::min(kFeedSlice, unfed_.size() - used);
    replies.clear();
    screen_.feed(std::string_view(unfed_).substr(used, n), conversational, &replies);
    used += n;
    for (std::string& r : replies) {
      if (!answers_.empty()) {
        r = answers_.front() == kIgnore ? "" : answers_.front();
        answers_.pop_front();
      }
      hand_over(r);
    }
  }
  unfed_.erase(0, used);
}

// Keeps what the program sent for output() and wait_for(): the latest
// kMaxOutput bytes, so a program that writes without end while nobody asks
// does not fill the memory.
void Sim6530::keep_output(const std::string& in) {
  output_ += in;
  if (output_.size() > kMaxOutput) output_.erase(0, output_.size() - kMaxOutput);
}

// Sends what the line takes now of the bytes for the program; the rest
// waits for room. The caller holds mutex_.
void Sim6530::send_unsent() {
  while (!unsent_.empty()) {
    long n = pty_.write_some(unsent_);
    if (n < 0) unsent_.clear();  // the line refuses them: nobody will read them
    if (n <= 0) return;
    unsent_.erase(0, static_cast<size_t>(n));
  }
}

// What a program wrote before it ended is on the line by then: the first
// look at the line that starts after this call and finds nothing to read
// (the host's poll and read push what is still on its way through first)
// has taken in all of it.
void Sim6530::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!thread_.joinable()) return;
  const uint64_t ticket = ++drain_asked_;
  taken_.wait_for(lock, std::chrono::seconds(10), [&] { return drain_done_ >= ticket || stop_; });
}

bool Sim6530::wait_for(const std::function<bool(const std::string&)>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  taken_.wait_for(lock, std::chrono::seconds(10), [&] { return done(output_) || stop_; });
  return done(output_);
}

std::string Sim6530::failure() {
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

// Quiet means nothing arrived for quiet_ms, counted from this call at the
// earliest: what the program wrote just before is read by then.
void Sim6530::settle(int quiet_ms) {
  int64_t start = now_ms(), deadline = start + 10000;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      int64_t since = std::max(last_activity_, start);
      if (now_ms() - since >= quiet_ms || now_ms() > deadline) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Sim6530::type(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  hand_over(text);
}

void Sim6530::press_key(uint8_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  hand_over(screen_.function_key(key, pty_.canonical()));
}

void Sim6530::press_when_waiting(uint8_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back(key);
}

size_t Sim6530::keys_not_pressed() {
  std::lock_guard<std::mutex> lock(mutex_);
  return scripted_.size();
}

// Bytes for the program: they are outstanding until it has read them, and
// what it writes before then is no answer to them. The caller holds mutex_.
void Sim6530::hand_over(const std::string& bytes) {
  if (bytes.empty()) return;
  unsent_ += bytes;
  ++handed_;
  outstanding_ = true;
  answered_ = false;
  send_unsent();
}

// Presses the next scripted key when the program waits for it. The program
// waits when it has answered what it was last handed (written something
// after reading it, or after it started, for the first key), the terminal
// has taken in all it wrote and it has read all it was sent, and every
// process on the terminal sleeps. None of this is a matter of time: a
// program that is slow to start or to answer, on a busy machine, gets each
// key in the read that waits for it, and in the mode that read is in. A
// program that reads a key without having written anything since its last
// input waits for it in vain, and so does one that never sleeps. The
// caller holds mutex_.
void Sim6530::press_scripted(bool line_quiet) {
  if (scripted_.empty() || !answered_ || outstanding_ || !line_quiet || !unfed_.empty() ||
      !unsent_.empty() || !pty_.users_asleep()) {
    return;
  }
  uint8_t key = scripted_.front();
  scripted_.pop_front();
  hand_over(screen_.function_key(key, pty_.canonical()));
}

void Sim6530::answer_next(std::string bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(std::move(bytes));
}

void Sim6530::ignore_next() { answer_next(kIgnore); }

std::string Sim6530::output(int quiet_ms) {
  settle(quiet_ms);
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  out.swap(output_);
  return out;
}

}  // namespace zeb::terminal
