// The terminal session against the simulated 6530 terminal over a real
// pseudo-terminal. Every write the session makes to the terminal is
// recorded through the host seam, so the tests see each write apart.
#include <zeb/terminal/session.h>

#include <gtest/gtest.h>
#include <termios.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/context.h>
#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/fs.h>
#include <zeb/platform/terminal.h>
#include <zeb/runtime/runtime.h>
#include <zeb/terminal/zeb_term.h>
#include "platform/files/files.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/testing/testing.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"
#include "terminal/sim6530.h"

namespace {

namespace err = zeb::err;
using zeb::platform::syscalls;

const std::string kPosition =
    "\x1b"
    "a";  // asks the terminal for the cursor position

// The entry points before start-up, without a session, and with one.
TEST(EntryPoints, RefuseBeforeStartupAndWithoutASession) {
  char buf[8];
  int16_t count = 0;
  auto all = [&]() {
    return std::vector<int16_t>{ZEB_TERMFLUSH(),
                                ZEB_TERMSEND("x", 1),
                                ZEB_TERMRECV(buf, 8, &count),
                                ZEB_TERMFUNCNW(),
                                ZEB_TERMFUNCCOMPLETE(buf, 8, &count),
                                ZEB_TERMFUNCCANCEL(),
                                ZEB_TERMFUNC(buf, 8, &count, 1),
                                ZEB_TERMBLOCKMODE(),
                                ZEB_TERMCONVMODE()};
  };
  if (zeb::library_context() == nullptr) {
    EXPECT_EQ(all(), std::vector<int16_t>(9, err::kNoStartup));
    EXPECT_EQ(zeb::open_library_session("$ZHOME", 6, 0), err::kNoStartup);
    ASSERT_EQ(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0), 0);
  }
  EXPECT_EQ(all(), std::vector<int16_t>(9, err::kInvalidOperation));
  zeb::terminal::Sim6530 sim;
  std::string name = sim.name();
  ASSERT_EQ(zeb::open_library_session(name.data(), static_cast<int16_t>(name.size()), 0), 0);
  EXPECT_NE(zeb::library_term(), nullptr);
  ASSERT_EQ(ZEB_TERMSEND("\x1b"
                         "a",
                         2),
            0);
  ASSERT_EQ(ZEB_TERMRECV(buf, 8, &count), 0);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), "_   ");
  EXPECT_EQ(ZEB_TERMBLOCKMODE(), err::kNot6530);
  EXPECT_EQ(ZEB_TERMFUNC(buf, 8, &count, 1), err::kTimedOut);
  zeb::close_library_session();
  EXPECT_EQ(zeb::library_term(), nullptr);
  EXPECT_EQ(ZEB_TERMFLUSH(), err::kInvalidOperation);
}

// A pool, the write recorder, a simulated terminal and a session on it.
class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(MEM_DEFINEPOOL(pool_.data(), static_cast<int32_t>(pool_.size())), 0);
    // One write of the session is one entry, however many calls the tty
    // takes to accept it (a call that writes part of its bytes is continued
    // by the next).
    syscalls().write = [this](int fd, const void* buf, size_t count) -> long {
      long n = override_.saved().write(fd, buf, count);
      if (fd == slave_fd_.load() && n >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string bytes(static_cast<const char*>(buf), static_cast<size_t>(n));
        if (continued_ && !writes_.empty()) {
          writes_.back() += bytes;
        } else {
          writes_.push_back(bytes);
        }
        continued_ = static_cast<size_t>(n) < count;
      }
      return n;
    };
    sim_ = std::make_unique<zeb::terminal::Sim6530>();
    ASSERT_TRUE(sim_->ok());
  }
  void TearDown() override {
    if (sess_ != nullptr) TERM_CLOSE(sess_);
    sim_.reset();
    zeb::testing::set_variable("ZEB_TERMINAL", std::nullopt);
  }
  void open(int32_t throttle = 0) {
    std::string name = sim_->name();
    ASSERT_EQ(
        TERM_OPEN(&sess_, pool_.data(), name.data(), static_cast<int16_t>(name.size()), throttle),
        0);
    slave_fd_ = zeb::platform::host_fd(s()->fnum);
  }
  TermSession* s() { return static_cast<TermSession*>(sess_); }
  // The sizes of the writes made since the last call.
  std::vector<size_t> write_sizes() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<size_t> sizes;
    for (const std::string& w : writes_) sizes.push_back(w.size());
    writes_.clear();
    return sizes;
  }
  int16_t send(const std::string& text) {
    return TERM_SEND(sess_, text.data(), static_cast<int16_t>(text.size()));
  }
  zeb::platform::SyscallOverride override_;
  std::vector<char> pool_ = std::vector<char>(64 * 1024);
  std::unique_ptr<zeb::terminal::Sim6530> sim_;
  void* sess_ = nullptr;
  std::atomic<int> slave_fd_{-100};
  std::mutex mutex_;
  std::vector<std::string> writes_;
  bool continued_ = false;
};

TEST_F(Session, SendFlushesBeforeTheBufferWouldHold4077Bytes) {
  open();
  const struct {
    int first, second;
    std::vector<size_t> flushed;  // writes made by the second TERM_SEND
    int fill;
  } cases[] = {{4000, 77, {4000}, 77}, {4000, 76, {}, 4076}, {0, 4076, {}, 4076}};
  for (const auto& c : cases) {
    ASSERT_EQ(send(std::string(static_cast<size_t>(c.first), 'a')), 0);
    write_sizes();
    ASSERT_EQ(send(std::string(static_cast<size_t>(c.second), 'b')), 0);
    EXPECT_EQ(write_sizes(), c.flushed) << c.first << "+" << c.second;
    EXPECT_EQ(s()->fill, c.fill);
    EXPECT_EQ(s()->mark, c.fill - c.second);
    ASSERT_EQ(TERM_FLUSH(sess_), 0);
    EXPECT_EQ(write_sizes(), std::vector<size_t>{static_cast<size_t>(c.fill)});
  }
  // Nothing buffered: no I/O at all.
  EXPECT_EQ(TERM_FLUSH(sess_), 0);
  EXPECT_TRUE(write_sizes().empty());
  EXPECT_TRUE(
      sim_->wait_for([](const std::string& in) { return in.size() >= 4077u + 4076u + 4076u; }));
  EXPECT_EQ(sim_->output().size(), 4077u + 4076u + 4076u);
}

TEST_F(Session, SendRefusesAPieceLongerThan4076) {
  open();
  ASSERT_EQ(send("keep"), 0);
  for (int16_t length : {4077, 5000, -1}) {
    std::string big(5000, 'x');
    EXPECT_EQ(TERM_SEND(sess_, big.data(), length), err::kOutOfBounds) << length;
    EXPECT_EQ(s()->fill, 4);
    EXPECT_EQ(s()->mark, 0);
  }
  EXPECT_TRUE(write_sizes().empty());
}

TEST_F(Session, ReadSendsEarlierOutputApartOnlyWhenItMust) {
  const struct {
    const char* what;
    long speed;  // a slow line sets split_read
    size_t first, second;
    std::vector<size_t> writes;
  } cases[] = {
      {"300 bytes in two pieces", 38400, 150, 150, {150, 150}},
      {"fewer than 251, fast line", 38400, 20, 30, {50}},
      {"one piece of 300", 38400, 0, 300, {300}},
      {"fewer than 251, slow line", 1200, 20, 30, {20, 30}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(sim_->pty().set_speed(c.speed));
    open();
    EXPECT_EQ(s()->split_read, c.speed == 1200 ? -1 : 0) << c.what;
    if (c.first > 0) {
      ASSERT_EQ(send(std::string(c.first, 'x')), 0);
    }
    ASSERT_EQ(send(std::string(c.second - 2, 'y') + kPosition), 0);
    write_sizes();
    char reply[8];
    int16_t count = 0;
    ASSERT_EQ(TERM_RECV(sess_, reply, sizeof reply, &count), 0) << c.what;
    EXPECT_EQ(write_sizes(), c.writes) << c.what;
    EXPECT_EQ(count, 4);
    EXPECT_EQ(reply[0], '_');
    TERM_CLOSE(sess_);
    sess_ = nullptr;
    sim_->output();
  }
}

// A flush sends the latest piece with the rest: on a line whose reads send
// earlier output apart, the read after it has nothing earlier to send again.
TEST_F(Session, FlushThenReadSendsNothingTwice) {
  ASSERT_TRUE(sim_->pty().set_speed(1200));
  open();
  ASSERT_EQ(s()->split_read, -1);
  ASSERT_EQ(send(std::string(20, 'x')), 0);
  ASSERT_EQ(send(kPosition), 0);
  ASSERT_EQ(TERM_FLUSH(sess_), 0);
  EXPECT_EQ(write_sizes(), std::vector<size_t>{20 + kPosition.size()});
  char reply[8];
  int16_t count = 0;
  ASSERT_EQ(TERM_RECV(sess_, reply, sizeof reply, &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(reply[0], '_');
  for (size_t size : write_sizes()) EXPECT_EQ(size, 0u);
  EXPECT_EQ(sim_->output(), std::string(20, 'x') + kPosition);
}

TEST_F(Session, ReplyLongerThanTheBufferIs318AndStays) {
  open();
  ASSERT_EQ(send(kPosition), 0);
  char reply[3] = {};
  int16_t count = 0;
  EXPECT_EQ(TERM_RECV(sess_, reply, 3, &count), err::kBufferTooSmall);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(reply[0], 0);  // nothing handed over
  EXPECT_EQ(s()->buffer[0], '_');
}

TEST_F(Session, ThrottleDelaysEachRead) {
  open(250);
  zeb::platform::clock_freeze();
  int64_t start = PROCESSOR_CLOCK();
  ASSERT_EQ(send(kPosition), 0);
  char reply[8];
  int16_t count = 0;
  EXPECT_EQ(TERM_RECV(sess_, reply, 8, &count), 0);
  EXPECT_EQ(PROCESSOR_CLOCK() - start, 2500000);
  zeb::platform::clock_release();
}

TEST_F(Session, FunctionKeyReadsWithTimeLimitAndCancel) {
  open();
  char in[8];
  int16_t count = -1;
  // Nothing typed: the limit passes, and the read is not left behind: it
  // is cancelled already, so there is nothing for TERM_FUNC_CANCEL.
  EXPECT_EQ(TERM_FUNC(sess_, in, 8, &count, 5), err::kTimedOut);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(TERM_FUNC_CANCEL(sess_), err::kNoOutstanding);
  sim_->press_key('A');
  EXPECT_EQ(TERM_FUNC(sess_, in, 8, &count, 500), 0);
  EXPECT_EQ(std::string(in, static_cast<size_t>(count)), "A   ");
  // A nowait read completed by AWAITIOX on any file.
  ASSERT_EQ(TERM_FUNC_NW(sess_), 0);
  sim_->press_key('B');
  int16_t which = -1;
  ASSERT_EQ(AWAITIOX(zeb::mask({1, 3, 5}), &which, nullptr, &count, nullptr, 500), 0);
  EXPECT_EQ(which, s()->fnum);
  EXPECT_EQ(TERM_FUNC_COMPLETE(sess_, in, 3, &count), err::kBufferTooSmall);
  ASSERT_EQ(TERM_FUNC_COMPLETE(sess_, in, 8, &count), 0);
  EXPECT_EQ(in[0], 'B');
  for (int16_t bad : {-1, 4077}) {
    EXPECT_EQ(TERM_FUNC_COMPLETE(sess_, in, 8, &bad), err::kOutOfBounds);
  }
  // Cancelled, nothing is outstanding any more.
  ASSERT_EQ(TERM_FUNC_NW(sess_), 0);
  EXPECT_EQ(TERM_FUNC_CANCEL(sess_), 0);
  EXPECT_EQ(TERM_FUNC_CANCEL(sess_), err::kNoOutstanding);
}

TEST_F(Session, BlockModeOnlyOnA6530SavingItsParametersOnce) {
  open();
  EXPECT_EQ(TERM_BLOCKMODE(sess_), err::kNot6530);
  TERM_CLOSE(sess_);
  sess_ = nullptr;
  zeb::testing::set_variable("ZEB_TERMINAL", "6530");
  open();
  EXPECT_EQ(s()->type_info[0], 6);
  EXPECT_EQ(s()->type_info[1], 4);
  struct termios before {};
  syscalls().tcgetattr(slave_fd_, &before);
  ASSERT_EQ(send("hi"), 0);
  ASSERT_EQ(TERM_BLOCKMODE(sess_), 0);
  EXPECT_EQ(s()->blockmode, -1);
  EXPECT_EQ(s()->saved_count, 8);
  char saved[8];
  std::memcpy(saved, s()->saved_params, 8);
  ASSERT_EQ(TERM_BLOCKMODE(sess_), 0);
  EXPECT_EQ(std::memcmp(saved, s()->saved_params, 8), 0) << "saved only once";
  struct termios raw {};
  syscalls().tcgetattr(slave_fd_, &raw);
  EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(raw.c_iflag & ICRNL, 0u);
  // The flush went out before the switch; the switch writes nothing more.
  EXPECT_EQ(write_sizes(), std::vector<size_t>{2});
  ASSERT_EQ(TERM_CONVMODE(sess_), 0);
  EXPECT_EQ(s()->blockmode, 0);
  struct termios after {};
  syscalls().tcgetattr(slave_fd_, &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_TRUE(sim_->wait_for([](const std::string& in) { return in.size() >= 2; }));
  EXPECT_EQ(sim_->output(), "hi");
}

TEST_F(Session, TerminalThatHangsUpGivesTheErrorAtOnce) {
  open();
  sim_->hang_up();
  ASSERT_EQ(send(kPosition), 0);
  char reply[8];
  int16_t count = 0;
  int64_t start = PROCESSOR_CLOCK();
  EXPECT_EQ(TERM_RECV(sess_, reply, 8, &count), err::kDeviceError);
  EXPECT_LT(PROCESSOR_CLOCK() - start, 5000000);
  EXPECT_EQ(send("x"), 0);
  EXPECT_EQ(TERM_FLUSH(sess_), err::kDeviceError);
}

TEST_F(Session, OpenThatFailsLeavesNothingBehind) {
  PoolStats before{}, after{};
  MEM_STATS(zeb::mask({1, 2}), pool_.data(), &before);
  void* sess = &before;
  EXPECT_EQ(TERM_OPEN(&sess, pool_.data(), "$PTS9999", 8, 0), err::kNoSuchDevice);
  EXPECT_EQ(sess, nullptr);
  EXPECT_EQ(TERM_OPEN(&sess, pool_.data(), "$DATA.SUB.FILE", 14, 0), err::kInvalidOperation);
  MEM_STATS(zeb::mask({1, 2}), pool_.data(), &after);
  EXPECT_EQ(after.used, before.used);
  // A pool without room for the record.
  std::vector<char> tiny(1024);
  ASSERT_EQ(MEM_DEFINEPOOL(tiny.data(), 1024), 0);
  EXPECT_EQ(TERM_OPEN(&sess, tiny.data(), "$ZHOME", 6, 0), err::kPoolExhausted);
}

}  // namespace

namespace {

// Start-up with flag 0x1000 opens the session and shut-down closes it: on
// the home terminal, or with the start-up conversation (0x0001) on the IN
// file with the PARAM "throttle". The test binary runs itself as the
// program, on a simulated terminal.
TEST(StartupSession, Helper) {
  const char* flags_text = std::getenv("ZEB_TERM_TEST_HELPER");
  if (flags_text == nullptr) GTEST_SKIP() << "helper of the next test";
  auto flags = static_cast<uint16_t>(std::strtol(flags_text, nullptr, 16));
  int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 100, flags);
  if (error != 0) std::exit(10);
  // The program turns the line raw; shut-down gives the terminal back.
  ZEB_TERMSEND("started", 7);
  ZEB_TERMFLUSH();
  auto* session = static_cast<TermSession*>(zeb::library_term());
  const char* throttle = std::getenv("ZEB_PARAM_THROTTLE");
  if (session->throttle != (throttle != nullptr ? std::atoi(throttle) : 0)) std::exit(12);
  if (SETMODE(zeb::mask({1, 2, 3}), session->fnum, 8, 1) != 0) std::exit(11);
  ZEB_SHUTDOWN(zeb::mask({}));
}

TEST(StartupSession, OpensOnItsTerminalAndClosesAtShutdown) {
  const struct {
    std::vector<std::string> environment;
  } cases[] = {
      {{"ZEB_TERM_TEST_HELPER=1000"}},
      {{"ZEB_TERM_TEST_HELPER=1001", "ZEB_PARAM_THROTTLE=3"}},
      {{"ZEB_TERM_TEST_HELPER=1001"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.environment.back());
    zeb::terminal::Sim6530 sim;
    ASSERT_TRUE(sim.ok());
    zeb::platform::Result<long> pid =
        sim.pty().spawn({"/proc/self/exe", "--gtest_filter=StartupSession.Helper"}, c.environment);
    ASSERT_TRUE(pid.ok()) << pid.status().to_string();
    ASSERT_GT(*pid, 0);
    EXPECT_EQ(zeb::platform::PseudoTerminal::wait(*pid, false), 0);
    EXPECT_TRUE(sim.wait_for(
        [](const std::string& in) { return in.find("started") != std::string::npos; }));
    EXPECT_NE(sim.output().find("started"), std::string::npos);
    EXPECT_TRUE(sim.pty().canonical());
  }
}

}  // namespace
