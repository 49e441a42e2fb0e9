// 6530 terminal control sequences over the terminal entry points.
#include <zeb/terminal/control.h>

#include <charconv>
#include <cstring>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include <zeb/terminal/zeb_term.h>

namespace err = zeb::err;

namespace {

constexpr char ESC = 0x1B, CR = 0x0D;
constexpr int16_t kReplyArea = 30;  // the area a reply that is parsed is read into

int16_t send(const char* bytes, int16_t length) { return ZEB_TERMSEND(bytes, length); }

int16_t send_escape(char letter) {
  const char bytes[2] = {ESC, letter};
  return send(bytes, 2);
}

// An escape sequence with one argument byte.
int16_t send_escape(char letter, char argument) {
  const char bytes[3] = {ESC, letter, argument};
  return send(bytes, 3);
}

char low_byte(int16_t v) { return static_cast<char>(v & 0xFF); }
char coordinate(int16_t v) { return low_byte(static_cast<int16_t>(v + 31)); }
char page_byte(int16_t v) { return low_byte(static_cast<int16_t>(v + 32)); }

// Appends v's decimal digits (the 16-bit value taken as unsigned).
// Five digits at most: the caller leaves room for them.
int16_t decimal(char* at, int16_t v) {
  const std::to_chars_result r = std::to_chars(at, at + 5, static_cast<uint16_t>(v));
  return static_cast<int16_t>(r.ptr - at);
}

// ESC "-" row ";" column and the final letter, in one send.
int16_t extended_address(int16_t row, int16_t column, char final) {
  char seq[16] = {ESC, '-'};
  int16_t n = 2;
  n = static_cast<int16_t>(n + decimal(seq + n, row));
  seq[n++] = ';';
  n = static_cast<int16_t>(n + decimal(seq + n, column));
  seq[n++] = final;
  return send(seq, n);
}

// Sends a request and reads its reply into the caller's buffer.
int16_t request(const char* bytes, int16_t length, char* buffer, int16_t maxlen, int16_t* count) {
  int16_t error = send(bytes, length);
  if (error != 0) return error;
  return ZEB_TERMRECV(buffer, maxlen, count);
}

int16_t region_read(char letter, char* buffer, int16_t maxlen, int16_t* count, int16_t r1,
                    int16_t c1, int16_t r2, int16_t c2) {
  const char seq[6] = {ESC, letter, coordinate(r1), coordinate(c1), coordinate(r2), coordinate(c2)};
  return request(seq, 6, buffer, maxlen, count);
}

// A function-key input: key, page, row and column.
int16_t parse_key(const char* in, int16_t count, int16_t* key, int16_t* page, int16_t* row,
                  int16_t* column) {
  if (count != 4) return err::kTerminalResponse;
  *key = static_cast<uint8_t>(in[0]);
  *page = static_cast<int16_t>(static_cast<uint8_t>(in[1]) - 32);
  *row = static_cast<int16_t>(static_cast<uint8_t>(in[2]) - 31);
  *column = static_cast<int16_t>(static_cast<uint8_t>(in[3]) - 31);
  return 0;
}

}  // namespace

int16_t T_DOWN() { return send("\n", 1); }
int16_t T_LEFT() { return send("\b", 1); }
int16_t T_BOL() { return send("\r", 1); }
int16_t T_TAB() { return send("\t", 1); }
int16_t T_SO() { return send("\x0E", 1); }
int16_t T_SI() { return send("\x0F", 1); }
int16_t T_BELL() { return send("\x07", 1); }
int16_t T_BACKTAB() { return send_escape('i'); }
int16_t T_HOME() { return send_escape('H'); }
int16_t T_UP() { return send_escape('A'); }
int16_t T_RIGHT() { return send_escape('C'); }
int16_t T_PRINTSCREEN() { return send_escape('0'); }
int16_t T_SETTAB() { return send_escape('1'); }
int16_t T_CLEARTAB() { return send_escape('2'); }
int16_t T_CLEARALLTAB() { return send_escape('3'); }
int16_t T_HOMEDOWN() { return send_escape('F'); }
int16_t T_ERASEPAGE() { return send_escape('I'); }
int16_t T_ERASEEOL() { return send_escape('K'); }
int16_t T_ERASEEOP() { return send_escape('J'); }
int16_t T_ROLLUP() { return send_escape('S'); }
int16_t T_ROLLDOWN() { return send_escape('T'); }
int16_t T_PAGEUP() { return send_escape('V'); }
int16_t T_PAGEDOWN() { return send_escape('U'); }
int16_t T_INSERTLINE() { return send_escape('L'); }
int16_t T_DELETELINE() { return send_escape('M'); }
int16_t T_DISABLELOCALLINEEDIT() { return send_escape('N'); }
int16_t T_INSERTCHAR() { return send_escape('O'); }
int16_t T_DELETECHAR() { return send_escape('P'); }
int16_t T_ENTERPROTECT() { return send_escape('W'); }
int16_t T_EXITPROTECT() { return send_escape('X'); }
int16_t T_UNLOCK() { return send_escape('b'); }
int16_t T_LOCK() { return send_escape('c'); }
int16_t T_DISCONNECTMODEM() { return send_escape('f'); }
int16_t T_REINITIALIZE() { return send_escape('q'); }

int16_t T_POSITION(int16_t row, int16_t column) {
  const char seq[3] = {0x13, coordinate(row), coordinate(column)};
  return send(seq, 3);
}

int16_t T_SETBUFFERADDRESS(int16_t row, int16_t column) {
  const char seq[3] = {0x11, coordinate(row), coordinate(column)};
  return send(seq, 3);
}

int16_t T_POSITIONEXTENDED(int16_t row, int16_t column) {
  return extended_address(row, column, 'D');
}

int16_t T_SETBUFFERADDRESSEXTENDED(int16_t row, int16_t column) {
  return extended_address(row, column, 'C');
}

int16_t T_CLEARMEMORY(int16_t row1, int16_t column1, int16_t row2, int16_t column2) {
  const char seq[6] = {
      ESC, 'I', coordinate(row1), coordinate(column1), coordinate(row2), coordinate(column2)};
  return send(seq, 6);
}

int16_t T_SETMAXPAGE(int16_t pages) {
  return send_escape('p', low_byte(static_cast<int16_t>(pages + 48)));
}

int16_t T_SELECTPAGE(int16_t page) { return send_escape(':', page_byte(page)); }

int16_t T_DISPLAYPAGE(int16_t page) { return send_escape(';', page_byte(page)); }

int16_t T_SETVIDEOATTR(int16_t attribute) { return send_escape('6', low_byte(attribute)); }

int16_t T_SETVIDEOPRIOR(int16_t attribute) { return send_escape('7', low_byte(attribute)); }

int16_t T_FIELD(int16_t first, int16_t second) {
  const char seq[3] = {0x1D, low_byte(first), static_cast<char>(low_byte(second) | 0x40)};
  return send(seq, 3);
}

int16_t T_FIELDEXTENDED(int16_t first, int16_t second, int16_t third, int16_t fourth) {
  const char seq[5] = {ESC, '[', low_byte(first), static_cast<char>(low_byte(second) | 0x40),
                       static_cast<char>(0x40 + (fourth & 3) * 2 + (third & 1))};
  return send(seq, 5);
}

int16_t T_SETTERMINALCONFIG(int16_t item, int16_t value) {
  char seq[16] = {ESC, 'v', low_byte(item)};
  int16_t n = 3;
  n = static_cast<int16_t>(n + decimal(seq + n, value));
  seq[n++] = CR;
  return send(seq, n);
}

int16_t T_MSG(const char* text, int16_t length) {
  send_escape('o');
  send(text, length);
  return send("\r", 1);
}

namespace {

// The start of a colour-map sequence: ESC "-", the function ("0" set, "1"
// reset), and the entry twice (first and last entry of the range), closed
// by "q". Returns its length.
int16_t colormap_sequence(char* seq, char function, int16_t entry) {
  int16_t n = 0;
  seq[n++] = ESC;
  seq[n++] = '-';
  seq[n++] = function;
  seq[n++] = ';';
  n = static_cast<int16_t>(n + decimal(seq + n, entry));
  seq[n++] = ';';
  n = static_cast<int16_t>(n + decimal(seq + n, entry));
  seq[n++] = 'q';
  return n;
}

}  // namespace

int16_t T_SETCOLORMAP(int16_t entry, int16_t first, int16_t second, int16_t third, int16_t fourth) {
  char seq[24];
  int16_t n = colormap_sequence(seq, '0', entry);
  seq[n++] = static_cast<char>(0x30 + (first & 1) * 8 + (second & 7));
  seq[n++] = static_cast<char>(0x30 + (third & 1) * 8 + (fourth & 7));
  return send(seq, n);
}

int16_t T_RESETCOLORMAP(int16_t entry) {
  char seq[24];
  return send(seq, colormap_sequence(seq, '1', entry));
}

int16_t T_DEFINEDATATYPETABLE(const uint8_t* table) {
  if (table == nullptr) return err::kMissingParameter;
  static const char kHex[] = "0123456789ABCDEF";
  char seq[194] = {ESC, 'r'};
  for (int i = 0; i < 96; ++i) {
    seq[2 + 2 * i] = kHex[table[i] >> 4];
    seq[3 + 2 * i] = kHex[table[i] & 0xF];
  }
  return send(seq, 194);
}

int16_t T_SETIOCONFIG(int16_t item, const char* data, int16_t length) {
  const char head[4] = {ESC, 'x', 'T', low_byte(static_cast<int16_t>(item + 49))};
  int16_t error = send(head, 4);
  if (error == 0) error = send(data, length);
  if (error == 0) error = send("\r", 1);
  return error;
}

int16_t T_WRITE(const char* data, int16_t length) { return send(data, length); }

int16_t T_READ(char* buffer, int16_t maxlen, int16_t* count, int16_t row1, int16_t column1,
               int16_t row2, int16_t column2) {
  return region_read('=', buffer, maxlen, count, row1, column1, row2, column2);
}

int16_t T_READALL(char* buffer, int16_t maxlen, int16_t* count, int16_t row1, int16_t column1,
                  int16_t row2, int16_t column2) {
  return region_read(']', buffer, maxlen, count, row1, column1, row2, column2);
}

int16_t T_READWITHATTR(char* buffer, int16_t maxlen, int16_t* count, int16_t row1, int16_t column1,
                       int16_t row2, int16_t column2) {
  return region_read('Q', buffer, maxlen, count, row1, column1, row2, column2);
}

int16_t T_READBUFFER(char* buffer, int16_t maxlen, int16_t* count) {
  const char seq[2] = {ESC, '<'};
  return request(seq, 2, buffer, maxlen, count);
}

int16_t T_READFULLREVISIONLEVEL(char* buffer, int16_t maxlen, int16_t* count) {
  const char seq[2] = {ESC, '_'};
  return request(seq, 2, buffer, maxlen, count);
}

int16_t T_STRINGCONFIGURATIONPARAMETER(int16_t item, char* buffer, int16_t maxlen, int16_t* count) {
  const char seq[4] = {ESC, '-', low_byte(static_cast<int16_t>(item + 48)), 'd'};
  return request(seq, 4, buffer, maxlen, count);
}

int16_t T_READIOCONFIG(int16_t item, char* buffer, int16_t maxlen, int16_t* count) {
  const char seq[4] = {ESC, 'y', 'T', low_byte(static_cast<int16_t>(item + 49))};
  return request(seq, 4, buffer, maxlen, count);
}

int16_t T_READPOSITION(int16_t* page, int16_t* row, int16_t* column) {
  if (page == nullptr || row == nullptr || column == nullptr) return err::kMissingParameter;
  char in[kReplyArea];
  int16_t count = 0;
  const char seq[2] = {ESC, 'a'};
  int16_t error = request(seq, 2, in, kReplyArea, &count);
  if (error != 0) return error;
  // "_" page row column, or the same after one leading byte.
  int16_t at = count == 4 && in[0] == '_' ? 1 : count == 5 && in[1] == '_' ? 2 : 0;
  if (at == 0) return err::kTerminalResponse;
  *page = static_cast<int16_t>(static_cast<uint8_t>(in[at]) - 32);
  *row = static_cast<int16_t>(static_cast<uint8_t>(in[at + 1]) - 31);
  *column = static_cast<int16_t>(static_cast<uint8_t>(in[at + 2]) - 31);
  return 0;
}

int16_t T_READCHAR(char* character, int16_t row, int16_t column) {
  if (character == nullptr) return err::kMissingParameter;
  char in[kReplyArea];
  int16_t count = 0;
  int16_t error = region_read('=', in, kReplyArea, &count, row, column, row, column);
  if (error != 0) return error;
  if (count == 2) {
    *character = in[0];
  } else if (count == 1) {
    *character = ' ';  // an empty position answers with its terminator alone
  } else {
    return err::kTerminalResponse;
  }
  return 0;
}

int16_t T_READSTATUS(char* status1, char* status2, char* status3, int16_t* number1,
                     int16_t* number2) {
  if (status1 == nullptr || status2 == nullptr || status3 == nullptr || number1 == nullptr ||
      number2 == nullptr) {
    return err::kMissingParameter;
  }
  char in[kReplyArea];
  int16_t count = 0;
  const char seq[2] = {ESC, '^'};
  int16_t error = request(seq, 2, in, kReplyArea, &count);
  if (error != 0) return error;
  if (count == 7 && in[0] == '?') {
    *status1 = in[1];
    *status2 = in[2];
    *status3 = in[3];
    *number1 = static_cast<int16_t>(static_cast<uint8_t>(in[4]) - 64);
    *number2 = static_cast<int16_t>((in[5] & 0x3F) * 64 + (in[6] & 0x3F));
    return 0;
  }
  if (count == 5 && in[1] == '?') {
    // A short status: the three status bytes only, and still not the
    // expected form.
    *status1 = in[2];
    *status2 = in[3];
    *status3 = in[4];
  }
  return err::kTerminalResponse;
}

int16_t T_FUNCKEY(int32_t timelimit, int16_t* key, int16_t* page, int16_t* row, int16_t* column) {
  if (key == nullptr || page == nullptr || row == nullptr || column == nullptr) {
    return err::kMissingParameter;
  }
  char in[kReplyArea];
  int16_t count = 0;
  int16_t error = ZEB_TERMFUNC(in, kReplyArea, &count, timelimit);
  if (error != 0) return error;
  return parse_key(in, count, key, page, row, column);
}

int16_t T_FUNCKEYCOMPLETE(int16_t count, int16_t* key, int16_t* page, int16_t* row,
                          int16_t* column) {
  if (key == nullptr || page == nullptr || row == nullptr || column == nullptr) {
    return err::kMissingParameter;
  }
  char in[kReplyArea];
  int16_t got = count;
  int16_t error = ZEB_TERMFUNCCOMPLETE(in, kReplyArea, &got);
  if (error != 0) return error;
  return parse_key(in, got, key, page, row, column);
}

int16_t T_SIMULATEFUNCKEY(int16_t key, int16_t* page, int16_t* row, int16_t* column) {
  int16_t error = send_escape('d', low_byte(key));
  if (error != 0) return error;
  int16_t arrived = 0;
  error = T_FUNCKEY(500, &arrived, page, row, column);
  if (error != 0) return error;
  return arrived == static_cast<uint8_t>(key & 0xFF) ? 0 : err::kTerminalResponse;
}

int16_t T_BLOCKMODE() { return ZEB_TERMBLOCKMODE(); }
int16_t T_CONVMODE() { return ZEB_TERMCONVMODE(); }
