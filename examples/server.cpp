// The server half of the requester example (requester.cpp), to copy when
// writing a process that answers messages on $RECEIVE.
//
// Started by the requester (ZEB_SPAWN), it takes its start-up messages from
// it like any program, then answers each message "NAME" on $RECEIVE with
// "Hello, NAME!" until the requester closes it. It waits for each message
// at most the PARAM WAIT seconds (default 10): a requester that goes quiet
// without closing cannot keep it running. Started from a shell it has no
// requester, waits that long and ends:
//
//   ZEB_PARAM_WAIT=1 ./server
#include <cstdint>
#include <cstdio>

#include <zeb/zeb.h>

namespace {

// A system message begins with its number, big-endian: -103 "open" (a
// requester opened this process), -104 "close" (it closed it).
constexpr int16_t kCloseMessage = -104;

int16_t message_number(const unsigned char* message) {
  return static_cast<int16_t>(message[0] << 8 | message[1]);
}

}  // namespace

int main() {
  // Start-up messages, and log lines to the home terminal (the standard
  // output it shares with the requester).
  constexpr uint16_t kFlags =
      zeb::kFlagStartupProtocol | zeb::kFlagOpenHomeTerm | zeb::kFlagLogToTerm;
  if (int16_t error = ZEB_STARTUP(zeb::mask({1, 2}), 100, kFlags); error != 0) {
    std::fprintf(stderr, "server: start-up failed with error %d\n", error);
    return 1;
  }
  // The PARAMs of the requester reach the server with its start-up.
  int32_t wait = 10;
  if (ZEB_ENVINFO(zeb::mask({1, 2, 3}), ENVINFO_PARAMDOUBLE, "WAIT", &wait) != 0 || wait <= 0) {
    wait = 10;
  }

  // $RECEIVE with nowait depth 1: READUPDATE starts a read and AWAITIO
  // completes it within a time limit.
  int16_t receive = zeb::kNotOpen;
  int16_t error = FILE_OPEN_(zeb::mask({1, 2, 3, 6}), "$RECEIVE", 8, &receive, 0, 0, 1);
  if (error != 0) {
    ZEB_LOG(zeb::mask({1, 2}), "server: cannot open $RECEIVE: \\e\\", &error);
    ZEB_SHUTDOWN(zeb::mask({1}), 1);
  }

  bool closed = false;
  while (!closed) {
    unsigned char message[128];
    int16_t count = 0;
    READUPDATE(zeb::mask({1, 2, 3}), receive, message, sizeof message);
    int16_t file = receive;
    error = AWAITIO(zeb::mask({1, 3, 5}), &file, nullptr, &count, nullptr, wait * 100);
    if (error == zeb::err::kTimedOut) {
      ZEB_LOG(zeb::mask({1, 2}), "server: nothing arrived within \\d\\ s, stopping.", &wait);
      break;
    }
    if (error == zeb::err::kSystemMessage) {
      // "open" and "close" are answered like any message, with no data.
      closed = count >= 2 && message_number(message) == kCloseMessage;
      if (closed) ZEB_LOG(zeb::mask({1}), "server: closed by the requester, stopping.");
      REPLY(zeb::mask({5}), nullptr, 0, nullptr, 0, 0);
      continue;
    }
    if (error != 0) {
      ZEB_LOG(zeb::mask({1, 2}), "server: reading $RECEIVE failed: \\e\\", &error);
      break;
    }
    // A request: a name. The reply is formatted by the library.
    char reply[160];
    int16_t length = UTIL_FORMAT(zeb::mask({1, 2, 3, 4, 5}), "Hello, \\a.%\\!", reply, sizeof reply,
                                 message, &count);
    ZEB_LOG(zeb::mask({1, 2, 3}), "server: request \\a.%\\", message, &count);
    REPLY(zeb::mask({1, 2}), reply, length);
  }
  FILE_CLOSE_(zeb::mask({1}), receive);
  ZEB_SHUTDOWN(zeb::mask({1}), 0);
}
