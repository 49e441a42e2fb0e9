// A block-mode form on a 6530 terminal, to copy when writing a screen
// program.
//
// It starts the library with a terminal session on its home terminal, puts
// the terminal in block mode, draws an order form and waits for function
// keys: F1 adds one to the quantity, F16 sends the order and ends. A
// terminal that stays silent for a minute ends the form too. Without a 6530
// at hand, run it on the simulated one, which presses the keys given with
// --key (F1 is 64, F16 is 79) and shows the screen the form left:
//
//   sim6530 --rows 8 --columns 40 --key 64 --key 64 --key 79 ./form
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <zeb/zeb.h>

namespace {

// The function keys' bytes: F1 to F16 are "@" to "O".
constexpr int16_t kF1 = '@';
constexpr int16_t kF16 = 'O';

// How long the form waits for a key, in hundredths of a second.
constexpr int32_t kKeyTimeLimit = 6000;

// Text at a row and column (both counted from 1), through the session's
// buffer; the bytes reach the terminal when the form next reads.
void put(int16_t row, int16_t column, const char* text) {
  T_POSITION(row, column);
  ZEB_TERMSEND(text, static_cast<int16_t>(std::strlen(text)));
}

// The quantity line, formatted by the library's format engine.
void show_quantity(int32_t quantity) {
  char line[40];
  int16_t length =
      UTIL_FORMAT(zeb::mask({1, 2, 3, 4}), "Quantity: \\d3\\", line, sizeof line - 1, &quantity);
  line[length] = '\0';
  put(4, 2, line);
}

}  // namespace

int main() {
  // A terminal session on the home terminal from start-up to shut-down, and
  // log lines to the terminal for the messages below.
  constexpr uint16_t kFlags = zeb::kFlagStartupProtocol | zeb::kFlagOpenHomeTerm |
                              zeb::kFlagLogToTerm | zeb::kFlagTermSession;
  int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 100, kFlags);
  if (error != 0) {
    std::fprintf(stderr, "form: start-up failed with error %d (is the home terminal a terminal?)\n",
                 error);
    return 1;
  }
  // Block mode needs a 6530 (ZEB_TERMINAL=6530, as sim6530 sets it).
  error = T_BLOCKMODE();
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "form: no block mode on this terminal: \\e\\", &error);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  }

  // Clear the page: home, then erase to its end. (In block mode ESC I, which
  // T_ERASEPAGE sends, clears memory between two positions instead.)
  T_HOME();
  T_ERASEEOP();
  put(1, 2, "ORDER FORM");
  put(3, 2, "Item:     WIDGET");
  int32_t quantity = 0;
  show_quantity(quantity);
  put(6, 2, "F1 adds one, F16 sends the order.");

  bool sent = false;
  while (!sent) {
    int16_t key = 0, page = 0, row = 0, column = 0;
    error = T_FUNCKEY(kKeyTimeLimit, &key, &page, &row, &column);
    if (error != 0) break;  // 40: nobody pressed a key in time
    if (key == kF1) {
      ++quantity;
      show_quantity(quantity);
    } else if (key == kF16) {
      sent = true;
    }
  }
  put(7, 2, sent ? "Order sent." : "No key in time: nothing sent.");
  ZEB_TERMFLUSH();
  // Back to conversational mode for whatever runs on the terminal next; the
  // session is closed at shut-down.
  T_CONVMODE();
  ZEB_SHUTDOWN(zeb::mask({1}), sent ? 0 : 1);
}
