// 6530 terminal control: one procedure per terminal function. Each builds
// the terminal's control sequence and hands it to the library's terminal
// session through the ZEB_TERM entry points: sending only appends to the
// session buffer, and the bytes reach the terminal at the next flush, at
// the latest before the next read.
//
// Encodings: a coordinate (row or column) is one byte, value + 31; a page
// one byte, value + 32; decimal numbers are their digits without sign or
// padding (the 16-bit value taken as unsigned). Values that do not fit one
// byte after the offset are not checked: their low byte is sent.
//
// Every procedure returns the error of the entry point it called, or 319
// when a reply does not have the expected form (outputs are then left
// untouched). They keep no state and need a library started with the
// terminal-session flag 0x1000.
#pragma once

#include <cstdint>

#include <zeb/platform/export.h>

// Fixed sequences.
ZEB_EXPORT int16_t T_DOWN();                  // LF
ZEB_EXPORT int16_t T_LEFT();                  // BS
ZEB_EXPORT int16_t T_BOL();                   // CR
ZEB_EXPORT int16_t T_TAB();                   // HT
ZEB_EXPORT int16_t T_SO();                    // SO
ZEB_EXPORT int16_t T_SI();                    // SI
ZEB_EXPORT int16_t T_BELL();                  // BEL
ZEB_EXPORT int16_t T_BACKTAB();               // ESC i
ZEB_EXPORT int16_t T_HOME();                  // ESC H
ZEB_EXPORT int16_t T_UP();                    // ESC A
ZEB_EXPORT int16_t T_RIGHT();                 // ESC C
ZEB_EXPORT int16_t T_PRINTSCREEN();           // ESC 0
ZEB_EXPORT int16_t T_SETTAB();                // ESC 1
ZEB_EXPORT int16_t T_CLEARTAB();              // ESC 2
ZEB_EXPORT int16_t T_CLEARALLTAB();           // ESC 3
ZEB_EXPORT int16_t T_HOMEDOWN();              // ESC F
ZEB_EXPORT int16_t T_ERASEPAGE();             // ESC I
ZEB_EXPORT int16_t T_ERASEEOL();              // ESC K
ZEB_EXPORT int16_t T_ERASEEOP();              // ESC J
ZEB_EXPORT int16_t T_ROLLUP();                // ESC S
ZEB_EXPORT int16_t T_ROLLDOWN();              // ESC T
ZEB_EXPORT int16_t T_PAGEUP();                // ESC V
ZEB_EXPORT int16_t T_PAGEDOWN();              // ESC U
ZEB_EXPORT int16_t T_INSERTLINE();            // ESC L
ZEB_EXPORT int16_t T_DELETELINE();            // ESC M
ZEB_EXPORT int16_t T_DISABLELOCALLINEEDIT();  // ESC N
ZEB_EXPORT int16_t T_INSERTCHAR();            // ESC O
ZEB_EXPORT int16_t T_DELETECHAR();            // ESC P
ZEB_EXPORT int16_t T_ENTERPROTECT();          // ESC W
ZEB_EXPORT int16_t T_EXITPROTECT();           // ESC X
ZEB_EXPORT int16_t T_UNLOCK();                // ESC b
ZEB_EXPORT int16_t T_LOCK();                  // ESC c
ZEB_EXPORT int16_t T_DISCONNECTMODEM();       // ESC f
ZEB_EXPORT int16_t T_REINITIALIZE();          // ESC q

// Sequences with parameters.
ZEB_EXPORT int16_t T_POSITION(int16_t row, int16_t column);
ZEB_EXPORT int16_t T_SETBUFFERADDRESS(int16_t row, int16_t column);
ZEB_EXPORT int16_t T_POSITIONEXTENDED(int16_t row, int16_t column);
ZEB_EXPORT int16_t T_SETBUFFERADDRESSEXTENDED(int16_t row, int16_t column);
ZEB_EXPORT int16_t T_CLEARMEMORY(int16_t row1, int16_t column1, int16_t row2, int16_t column2);
ZEB_EXPORT int16_t T_SETMAXPAGE(int16_t pages);
ZEB_EXPORT int16_t T_SELECTPAGE(int16_t page);
ZEB_EXPORT int16_t T_DISPLAYPAGE(int16_t page);
ZEB_EXPORT int16_t T_SETVIDEOATTR(int16_t attribute);
ZEB_EXPORT int16_t T_SETVIDEOPRIOR(int16_t attribute);
ZEB_EXPORT int16_t T_FIELD(int16_t first, int16_t second);
ZEB_EXPORT int16_t T_FIELDEXTENDED(int16_t first, int16_t second, int16_t third, int16_t fourth);
ZEB_EXPORT int16_t T_SETTERMINALCONFIG(int16_t item, int16_t value);
ZEB_EXPORT int16_t T_MSG(const char* text, int16_t length);
ZEB_EXPORT int16_t T_SETCOLORMAP(int16_t entry, int16_t first, int16_t second, int16_t third,
                                 int16_t fourth);
ZEB_EXPORT int16_t T_RESETCOLORMAP(int16_t entry);
// table: 96 bytes, sent as 192 hexadecimal digits.
ZEB_EXPORT int16_t T_DEFINEDATATYPETABLE(const uint8_t* table);
ZEB_EXPORT int16_t T_SETIOCONFIG(int16_t item, const char* data, int16_t length);
ZEB_EXPORT int16_t T_WRITE(const char* data, int16_t length);

// Reads: the request is sent, and the reply read into the caller's buffer
// (maxlen bytes at most; *count receives its length).
ZEB_EXPORT int16_t T_READ(char* buffer, int16_t maxlen, int16_t* count, int16_t row1,
                          int16_t column1, int16_t row2, int16_t column2);
ZEB_EXPORT int16_t T_READALL(char* buffer, int16_t maxlen, int16_t* count, int16_t row1,
                             int16_t column1, int16_t row2, int16_t column2);
ZEB_EXPORT int16_t T_READWITHATTR(char* buffer, int16_t maxlen, int16_t* count, int16_t row1,
                                  int16_t column1, int16_t row2, int16_t column2);
ZEB_EXPORT int16_t T_READBUFFER(char* buffer, int16_t maxlen, int16_t* count);
ZEB_EXPORT int16_t T_READFULLREVISIONLEVEL(char* buffer, int16_t maxlen, int16_t* count);
ZEB_EXPORT int16_t T_STRINGCONFIGURATIONPARAMETER(int16_t item, char* buffer, int16_t maxlen,
                                                  int16_t* count);
ZEB_EXPORT int16_t T_READIOCONFIG(int16_t item, char* buffer, int16_t maxlen, int16_t* count);

// Reads that interpret the reply.
ZEB_EXPORT int16_t T_READPOSITION(int16_t* page, int16_t* row, int16_t* column);
ZEB_EXPORT int16_t T_READCHAR(char* character, int16_t row, int16_t column);
// A 5-byte reply whose second byte is "?" stores its bytes 2, 3 and 4 in the
// three status outputs, leaves the two numbers untouched and returns 319.
ZEB_EXPORT int16_t T_READSTATUS(char* status1, char* status2, char* status3, int16_t* number1,
                                int16_t* number2);
// Waits at most timelimit hundredths of a second for a function key.
ZEB_EXPORT int16_t T_FUNCKEY(int32_t timelimit, int16_t* key, int16_t* page, int16_t* row,
                             int16_t* column);
// Takes the input of a read completed with AWAITIOX after ZEB_TERMFUNCNW:
// count is the count transferred that AWAITIOX gave for that read.
ZEB_EXPORT int16_t T_FUNCKEYCOMPLETE(int16_t count, int16_t* key, int16_t* page, int16_t* row,
                                     int16_t* column);
// Asks the terminal to send a function key and waits for it (five
// seconds): 0 when the key that arrives is the one sent, else 319.
ZEB_EXPORT int16_t T_SIMULATEFUNCKEY(int16_t key, int16_t* page, int16_t* row, int16_t* column);

// Mode changes.
ZEB_EXPORT int16_t T_BLOCKMODE();
ZEB_EXPORT int16_t T_CONVMODE();
