// The 6530 control procedures through the library's terminal session on the
// simulated terminal: the exact bytes each one sends, and the parsing of
// every reply, the unexpected forms included.
#include <zeb/terminal/control.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <zeb/env/context.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/terminal.h>
#include <zeb/runtime/runtime.h>
#include <zeb/terminal/session.h>
#include <zeb/terminal/zeb_term.h>
#include "platform/files/files.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/names/file_names.h"
#include "platform/volumes/scratch.h"
#include "platform/volumes/volumes.h"
#include "terminal/sim6530.h"

namespace {

namespace err = zeb::err;
using zeb::platform::syscalls;

// The library started once for the whole binary; each test opens the
// session on a simulated terminal of its own and records what is written
// to it.
class Control : public ::testing::Test {
 protected:
  void SetUp() override {
    if (zeb::library_context() == nullptr) {
      ASSERT_EQ(ZEB_STARTUP(zeb::mask({1, 2}), 100, 0), 0);
    }
    syscalls().write = [this](int fd, const void* buf, size_t count) -> long {
      long n = override_.saved().write(fd, buf, count);
      if (fd == slave_fd_.load() && n > 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        written_.append(static_cast<const char*>(buf), static_cast<size_t>(n));
      }
      return n;
    };
    sim_ = std::make_unique<zeb::terminal::Sim6530>();
    ASSERT_TRUE(sim_->ok());
  }
  void open(bool is6530) {
    if (is6530) zeb::platform::host().mutable_config().terminal = "6530";
    std::string name = sim_->name();
    ASSERT_EQ(zeb::open_library_session(name.data(), static_cast<int16_t>(name.size()), 0), 0);
    zeb::platform::host().mutable_config().terminal.reset();
    slave_fd_ = zeb::platform::host_fd(static_cast<TermSession*>(zeb::library_term())->fnum);
    if (is6530) {
      ASSERT_EQ(T_BLOCKMODE(), 0);
    }
  }
  void TearDown() override {
    zeb::close_library_session();
    sim_.reset();
  }
  // What reached the terminal since the last call, after a flush.
  std::string sent() {
    EXPECT_EQ(ZEB_TERMFLUSH(), 0);
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    out.swap(written_);
    return out;
  }

  zeb::platform::SyscallOverride override_;
  std::unique_ptr<zeb::terminal::Sim6530> sim_;
  std::atomic<int> slave_fd_{-100};
  std::mutex mutex_;
  std::string written_;
};

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(static_cast<char>(b));
  return s;
}

TEST_F(Control, EachProcedureSendsItsSequence) {
  open(false);
  const std::string E = "\x1b";
  uint8_t table[96];
  for (int i = 0; i < 96; ++i) table[i] = static_cast<uint8_t>(i * 3);
  std::string hex;
  for (int i = 0; i < 96; ++i) {
    hex.push_back("0123456789ABCDEF"[table[i] >> 4]);
    hex.push_back("0123456789ABCDEF"[table[i] & 15]);
  }
  const struct {
    const char* name;
    std::function<int16_t()> call;
    std::string expected;
  } cases[] = {
      {"T_DOWN", T_DOWN, "\n"},
      {"T_LEFT", T_LEFT, "\b"},
      {"T_BOL", T_BOL, "\r"},
      {"T_TAB", T_TAB, "\t"},
      {"T_SO", T_SO, "\x0e"},
      {"T_SI", T_SI, "\x0f"},
      {"T_BELL", T_BELL, "\x07"},
      {"T_BACKTAB", T_BACKTAB, E + "i"},
      {"T_HOME", T_HOME, E + "H"},
      {"T_UP", T_UP, E + "A"},
      {"T_RIGHT", T_RIGHT, E + "C"},
      {"T_PRINTSCREEN", T_PRINTSCREEN, E + "0"},
      {"T_SETTAB", T_SETTAB, E + "1"},
      {"T_CLEARTAB", T_CLEARTAB, E + "2"},
      {"T_CLEARALLTAB", T_CLEARALLTAB, E + "3"},
      {"T_HOMEDOWN", T_HOMEDOWN, E + "F"},
      {"T_ERASEPAGE", T_ERASEPAGE, E + "I"},
      {"T_ERASEEOL", T_ERASEEOL, E + "K"},
      {"T_ERASEEOP", T_ERASEEOP, E + "J"},
      {"T_ROLLUP", T_ROLLUP, E + "S"},
      {"T_ROLLDOWN", T_ROLLDOWN, E + "T"},
      {"T_PAGEUP", T_PAGEUP, E + "V"},
      {"T_PAGEDOWN", T_PAGEDOWN, E + "U"},
      {"T_INSERTLINE", T_INSERTLINE, E + "L"},
      {"T_DELETELINE", T_DELETELINE, E + "M"},
      {"T_DISABLELOCALLINEEDIT", T_DISABLELOCALLINEEDIT, E + "N"},
      {"T_INSERTCHAR", T_INSERTCHAR, E + "O"},
      {"T_DELETECHAR", T_DELETECHAR, E + "P"},
      {"T_ENTERPROTECT", T_ENTERPROTECT, E + "W"},
      {"T_EXITPROTECT", T_EXITPROTECT, E + "X"},
      {"T_UNLOCK", T_UNLOCK, E + "b"},
      {"T_LOCK", T_LOCK, E + "c"},
      {"T_DISCONNECTMODEM", T_DISCONNECTMODEM, E + "f"},
      {"T_REINITIALIZE", T_REINITIALIZE, E + "q"},
      {"T_POSITION 1,1", [] { return T_POSITION(1, 1); }, "\x13  "},
      {"T_POSITION 24,80", [] { return T_POSITION(24, 80); }, bytes({0x13, 55, 111})},
      {"T_POSITION 300,-40", [] { return T_POSITION(300, -40); }, bytes({0x13, 0x4B, 0xF7})},
      {"T_SETBUFFERADDRESS", [] { return T_SETBUFFERADDRESS(2, 3); }, "\x11!\""},
      {"T_POSITIONEXTENDED", [] { return T_POSITIONEXTENDED(12, 5); }, E + "-12;5D"},
      {"T_SETBUFFERADDRESSEXTENDED", [] { return T_SETBUFFERADDRESSEXTENDED(0, 1000); },
       E + "-0;1000C"},
      {"T_POSITIONEXTENDED -1", [] { return T_POSITIONEXTENDED(-1, 7); }, E + "-65535;7D"},
      {"T_CLEARMEMORY", [] { return T_CLEARMEMORY(1, 2, 3, 4); }, E + "I !\"#"},
      {"T_SETMAXPAGE", [] { return T_SETMAXPAGE(4); }, E + "p4"},
      {"T_SELECTPAGE 0", [] { return T_SELECTPAGE(0); }, E + ": "},
      {"T_DISPLAYPAGE 3", [] { return T_DISPLAYPAGE(3); }, E + ";#"},
      {"T_SETVIDEOATTR", [] { return T_SETVIDEOATTR(0x1A4); }, E + "6\xa4"},
      {"T_SETVIDEOPRIOR", [] { return T_SETVIDEOPRIOR(0x25); }, E + "7%"},
      {"T_FIELD", [] { return T_FIELD(0x41, 0x02); },
       "\x1d"
       "AB"},
      {"T_FIELDEXTENDED 1,3", [] { return T_FIELDEXTENDED(0x20, 0x41, 1, 3); }, E + "[ AG"},
      {"T_FIELDEXTENDED 2,6", [] { return T_FIELDEXTENDED(0x20, 0x00, 2, 6); }, E + "[ @D"},
      {"T_SETTERMINALCONFIG", [] { return T_SETTERMINALCONFIG(0x35, 250); }, E + "v5250\r"},
      {"T_MSG", [] { return T_MSG("hello", 5); }, E + "ohello\r"},
      {"T_SETCOLORMAP", [] { return T_SETCOLORMAP(3, 1, 7, 0, 2); }, E + "-0;3;3q\x3f\x32"},
      {"T_SETCOLORMAP masks", [] { return T_SETCOLORMAP(12, 3, 15, 2, 9); }, E + "-0;12;12q?1"},
      {"T_RESETCOLORMAP", [] { return T_RESETCOLORMAP(15); }, E + "-1;15;15q"},
      {"T_DEFINEDATATYPETABLE", [&] { return T_DEFINEDATATYPETABLE(table); }, E + "r" + hex},
      {"T_SETIOCONFIG", [] { return T_SETIOCONFIG(2, "abc", 3); }, E + "xT3abc\r"},
      {"T_WRITE", [] { return T_WRITE("\x00z\x1b", 3); }, std::string("\x00z\x1b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), 0) << c.name;
    EXPECT_EQ(sent(), c.expected) << c.name;
  }
  EXPECT_EQ((E + "r" + hex).size(), 194u);
  EXPECT_EQ(T_DEFINEDATATYPETABLE(nullptr), err::kMissingParameter);
}

TEST_F(Control, ReadsSendTheirRequestAndHandOverTheReply) {
  open(true);
  ASSERT_EQ(T_WRITE("HELLO", 5), 0);
  ASSERT_EQ(T_SETTERMINALCONFIG(7, 42), 0);
  ASSERT_EQ(T_SETIOCONFIG(1, "io", 2), 0);
  const std::string E = "\x1b";
  char buf[64];
  int16_t count = 0;
  const struct {
    const char* name;
    std::function<int16_t()> call;
    std::string request, reply;
  } cases[] = {
      {"T_READ", [&] { return T_READ(buf, 64, &count, 1, 1, 1, 7); }, E + "=   &", "HELLO\r"},
      {"T_READALL", [&] { return T_READALL(buf, 64, &count, 1, 4, 1, 7); }, E + "] # &", "LO  \r"},
      {"T_READWITHATTR", [&] { return T_READWITHATTR(buf, 64, &count, 1, 1, 1, 2); }, E + "Q   !",
       E + std::string("6\0HE\r", 5)},
      {"T_READBUFFER", [&] { return T_READBUFFER(buf, 64, &count); }, E + "<", "HELLO \r"},
      {"T_READFULLREVISIONLEVEL", [&] { return T_READFULLREVISIONLEVEL(buf, 64, &count); }, E + "_",
       "SIM6530 C00\r"},
      {"T_STRINGCONFIGURATIONPARAMETER",
       [&] { return T_STRINGCONFIGURATIONPARAMETER(7, buf, 64, &count); }, E + "-7d", "42\r"},
      {"T_READIOCONFIG", [&] { return T_READIOCONFIG(1, buf, 64, &count); }, E + "yT2", "io\r"},
  };
  sent();
  for (const auto& c : cases) {
    count = -1;
    ASSERT_EQ(c.call(), 0) << c.name;
    EXPECT_EQ(sent(), c.request) << c.name;
    EXPECT_EQ(std::string(buf, static_cast<size_t>(count)), c.reply) << c.name;
  }
  // A reply longer than the caller's buffer.
  EXPECT_EQ(T_READ(buf, 3, &count, 1, 1, 1, 7), err::kBufferTooSmall);
}

TEST_F(Control, PositionStatusAndCharacterRepliesAreParsed) {
  open(true);
  int16_t page = -9, row = -9, column = -9;
  const struct {
    std::string reply;
    int16_t error, page, row, column;
  } positions[] = {
      {"_ !\"", 0, 0, 2, 3},
      {"\x01_!  ", 0, 1, 1, 1},
      {"x_!  ", 0, 1, 1, 1},
      {"_ !", err::kTerminalResponse, -9, -9, -9},
      {"x !\"", err::kTerminalResponse, -9, -9, -9},
      {"__ !\"", 0, 0, 2, 3},
      {"_x !\"", err::kTerminalResponse, -9, -9, -9},
      {"_ !\"xx", err::kTerminalResponse, -9, -9, -9},
  };
  for (const auto& c : positions) {
    page = row = column = -9;
    sim_->answer_next(c.reply);
    EXPECT_EQ(T_READPOSITION(&page, &row, &column), c.error) << c.reply;
    EXPECT_EQ(page, c.page) << c.reply;
    EXPECT_EQ(row, c.row) << c.reply;
    EXPECT_EQ(column, c.column) << c.reply;
  }
  // The terminal's own answer: the cursor after the text written.
  sent();
  ASSERT_EQ(T_POSITION(3, 10), 0);
  ASSERT_EQ(T_READPOSITION(&page, &row, &column), 0);
  EXPECT_EQ(row, 3);
  EXPECT_EQ(column, 10);
  EXPECT_EQ(sent(),
            "\x13\")\x1b"
            "a");

  char s1 = '-', s2 = '-', s3 = '-';
  int16_t n1 = -9, n2 = -9;
  const struct {
    std::string reply;
    int16_t error;
    std::string status;
    int16_t n1, n2;
  } statuses[] = {
      {bytes({'?', 'a', 'b', 'c', 64 + 3, 0x40 | 1, 0x40 | 2}), 0, "abc", 3, 66},
      {bytes({'?', 'x', 'y', 'z', 64, 0xFF, 0xBF}), 0, "xyz", 0, 63 * 64 + 63},
      {"x?abc", err::kTerminalResponse, "abc", -9, -9},
      {"xxabc", err::kTerminalResponse, "---", -9, -9},
      {"?abcdef\x01", err::kTerminalResponse, "---", -9, -9},
      {"!abcdef", err::kTerminalResponse, "---", -9, -9},
  };
  for (const auto& c : statuses) {
    s1 = s2 = s3 = '-';
    n1 = n2 = -9;
    sim_->answer_next(c.reply);
    EXPECT_EQ(T_READSTATUS(&s1, &s2, &s3, &n1, &n2), c.error) << c.reply;
    EXPECT_EQ(std::string({s1, s2, s3}), c.status) << c.reply;
    EXPECT_EQ(n1, c.n1) << c.reply;
    EXPECT_EQ(n2, c.n2) << c.reply;
  }
  ASSERT_EQ(T_READSTATUS(&s1, &s2, &s3, &n1, &n2), 0);
  EXPECT_EQ(n1, 8);        // pages
  EXPECT_EQ(n2, 24 * 80);  // positions of a page

  char ch = '-';
  ASSERT_EQ(T_POSITION(5, 5), 0);
  ASSERT_EQ(T_WRITE("Q", 1), 0);
  EXPECT_EQ(T_READCHAR(&ch, 5, 5), 0);
  EXPECT_EQ(ch, 'Q');
  EXPECT_EQ(T_READCHAR(&ch, 20, 70), 0);
  EXPECT_EQ(ch, ' ') << "an empty position answers with one byte";
  ch = '-';
  sim_->answer_next("ab\r");
  EXPECT_EQ(T_READCHAR(&ch, 1, 1), err::kTerminalResponse);
  EXPECT_EQ(ch, '-');
}

TEST_F(Control, FunctionKeys) {
  open(true);
  int16_t key = -9, page = -9, row = -9, column = -9;
  // Nothing pressed within the limit; then a key with the cursor's place.
  EXPECT_EQ(T_FUNCKEY(3, &key, &page, &row, &column), err::kTimedOut);
  EXPECT_EQ(key, -9);
  sent();
  ASSERT_EQ(T_POSITION(4, 9), 0);
  const std::string move = sent();
  // The key is pressed once the terminal has moved its cursor.
  ASSERT_TRUE(sim_->wait_for([&](const std::string& in) { return in.ends_with(move); }));
  sim_->press_key(0x41);
  ASSERT_EQ(T_FUNCKEY(500, &key, &page, &row, &column), 0);
  EXPECT_EQ(std::vector<int16_t>({key, page, row, column}), std::vector<int16_t>({0x41, 0, 4, 9}));
  // Input of another length.
  key = -9;
  sim_->type("ABC");
  EXPECT_EQ(T_FUNCKEY(500, &key, &page, &row, &column), err::kTerminalResponse);
  EXPECT_EQ(key, -9);
  // Completed by the program's own AWAITIOX on any file.
  ASSERT_EQ(ZEB_TERMFUNCNW(), 0);
  sim_->type(bytes({0x50, 0x21, 0x22, 0x23}));
  int16_t which = -1, count = 0;
  ASSERT_EQ(AWAITIOX(zeb::mask({1, 3, 5}), &which, nullptr, &count, nullptr, 500), 0);
  ASSERT_EQ(T_FUNCKEYCOMPLETE(count, &key, &page, &row, &column), 0);
  EXPECT_EQ(std::vector<int16_t>({key, page, row, column}), std::vector<int16_t>({0x50, 1, 3, 4}));
  EXPECT_EQ(T_FUNCKEYCOMPLETE(3, &key, &page, &row, &column), err::kTerminalResponse);
  // The terminal is asked to send a key: the same key is 0, another 319.
  sent();
  ASSERT_EQ(T_SIMULATEFUNCKEY(0x145, &page, &row, &column), 0);
  EXPECT_EQ(sent(),
            "\x1b"
            "dE");
  sim_->answer_next(bytes({0x46, 0x22, 0x20, 0x21}));
  EXPECT_EQ(T_SIMULATEFUNCKEY(0x45, &page, &row, &column), err::kTerminalResponse);
  EXPECT_EQ(std::vector<int16_t>({page, row, column}), std::vector<int16_t>({2, 1, 2}));
}

TEST_F(Control, ModesAndTheErrorsOfTheSession) {
  open(false);
  EXPECT_EQ(T_BLOCKMODE(), err::kNot6530);
  EXPECT_EQ(T_CONVMODE(), 0);
  // A conversational reply ends with CR, which the line read removes.
  int16_t page, row, column;
  ASSERT_EQ(T_READPOSITION(&page, &row, &column), 0);
  EXPECT_EQ(row, 1);
  zeb::close_library_session();
  EXPECT_EQ(T_HOME(), err::kInvalidOperation);
  EXPECT_EQ(T_READPOSITION(&page, &row, &column), err::kInvalidOperation);
  EXPECT_EQ(T_FUNCKEY(1, &page, &page, &row, &column), err::kInvalidOperation);
}

}  // namespace
