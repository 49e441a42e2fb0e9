// A requester, to copy when a program hands work to another process: it
// starts the server of server.cpp, sends it one message per name of its
// command line over the server's $RECEIVE, shows each reply, and closes the
// server, which then ends.
//
// The server's program file is the logical name =SERVER (a DEFINE, an
// ASSIGN or the configuration file). A program beside the requester, in a
// directory named examples, is $ZHOST.EXAMPLES.SERVER:
//
//   ZEB_DEFINE_SERVER='$ZHOST.EXAMPLES.SERVER' ./requester Ada Grace
//
// Time limits: the server waits for each message at most the PARAM WAIT
// seconds (default 10; the requester's PARAMs reach it at start-up) and
// ends when that passes; a write to a server that has ended fails at once
// with error 201, and the open of a server that does not answer gives up
// after 30 seconds.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <zeb/zeb.h>

int main() {
  constexpr uint16_t kFlags =
      zeb::kFlagStartupProtocol | zeb::kFlagOpenHomeTerm | zeb::kFlagLogToTerm;
  if (int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 100, kFlags); error != 0) {
    std::fprintf(stderr, "requester: start-up failed with error %d\n", error);
    return 1;
  }

  // The server's program file in internal form (24 bytes).
  char program[24];
  int16_t error = ZEB_ENVINFO(zeb::mask({1, 2, 3}), ENVINFO_FNAMEINTERNAL, "=SERVER", program);
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "requester: no server program (=SERVER): \\e\\", &error);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  }

  // Start it: the library sends it its start-up messages (ours, with our
  // ASSIGNs and PARAMs) and returns when it has taken them.
  int16_t server_id[4] = {};
  int16_t create_error = 0;
  error =
      ZEB_SPAWN(zeb::mask({1, 6, 7}), program, nullptr, -1, -1, nullptr, server_id, &create_error);
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2, 3}), "requester: cannot start the server: \\e\\ \\n\\", &error,
            &create_error);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  }

  // Open the server by its process identifier: an unnamed process is named
  // by all eight bytes of it, blanks after. The server gets "open".
  char name[24];
  std::memcpy(name, server_id, 8);
  std::memset(name + 8, ' ', 16);
  int16_t server = zeb::kNotOpen;
  error = OPEN(zeb::mask({1, 2}), name, &server);
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "requester: cannot open the server: \\e\\", &error);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  }

  // One message per name of the parameter text (the command line), as
  // typed; the reply comes back in the same buffer. The text ends at its
  // NUL: the length the inquiry gives counts that NUL (and a padding one).
  char text[600] = {};
  ZEB_ENVINFO(zeb::mask({1, 3}), ENVINFO_PARAMTEXTASIS, nullptr, text);
  const auto text_length = static_cast<int16_t>(std::strlen(text));
  for (int16_t start = 0, end = 0; start < text_length; start = end + 1) {
    end = start;
    while (end < text_length && text[end] != ' ') ++end;
    int16_t name_length = static_cast<int16_t>(end - start);
    if (name_length == 0) continue;
    // The server reads at most 128 bytes and answers in at most 160.
    constexpr int16_t kLongestName = 100;
    if (name_length > kLongestName) name_length = kLongestName;
    char buffer[160];
    std::memcpy(buffer, text + start, static_cast<size_t>(name_length));
    int16_t reply_length = 0;
    error = WRITEREADX(zeb::mask({1, 2, 3, 4, 5}), server, buffer, name_length, sizeof buffer,
                       &reply_length);
    if (error != 0) {
      ZEB_LOG(zeb::mask({1, 2}), "requester: the server did not answer: \\e\\", &error);
      break;
    }
    ZEB_LOG(zeb::mask({1, 2, 3, 4, 5}), "requester: \\a.%\\ -> \\a.%\\", text + start, &name_length,
            buffer, &reply_length);
  }

  // Closing the server sends it "close" and waits for its answer; the
  // server ends after answering.
  FILE_CLOSE_(zeb::mask({1}), server);
  ZEB_LOG(zeb::mask({1}), "requester: done.");
  ZEB_SHUTDOWN(zeb::mask({1}), error == 0 ? 0 : 1);
}
