// Fuzz target of UTIL_CMON's exchange with $CMON, through the real socket:
// a monitor in a thread of this process listens as $CMON in a private
// socket directory and answers "open", the request and "close" with raw
// reply records taken from the input (any length, any error number, the
// decision word and the overrides included), or stops answering, or hangs
// up. UTIL_CMON connects, frames, waits (each wait bounded by a reply limit
// by the reply limit) and decodes as it would with a real monitor.
//
// Input layout: byte 0: bits 0-1 the message at which the monitor stops
// answering (0 never, 1 "open", 2 the request, 3 "close"), bit 2 whether it
// then hangs up rather than stays silent; bytes 1-2 and 3-4 the caller's
// priority and processor (big-endian); then three replies, to "open", the
// request and "close", each a length byte and that many bytes (cut to what
// remains).
//
// The verdict never depends on timing: the client's bounded waits go
// through the seam's poll, which this target replaces with one that waits
// as long as the monitor is going to answer and reports the time-out at
// once when the monitor has read a message it will leave unanswered.
//
// What must hold, exactly: a monitor that is silent at "open" or at the
// request gives no consent (it is there and does not answer: 40); one that
// hangs up there consents by default; one that answers "open" with an error
// or with a record too short to be a reply gives none; otherwise the answer
// is "yes" only from a reply of error 0 whose decision word is 0, and then
// its overrides are taken.
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <zeb/platform/errors.h>
#include <zeb/util/helpers.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"
#include "platform/ipc/messages.h"
#include "util/helpers_internal.h"

namespace zp = zeb::platform;

namespace {

struct Monitor {
  int stop_at = 0;  // 0: never; 1 "open", 2 the request, 3 "close"
  bool hang_up = false;
  std::vector<std::string> replies;  // to "open", the request, "close"
};

// The socket directory and the listening socket, made once.
struct Place {
  std::string dir;
  int listener = -1;
  Place() {
    char pattern[] = "/tmp/zeb-cmon-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    dir = pattern;
    listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/CMON", dir.c_str());
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0) {
      std::abort();
    }
  }
  // Nothing of the run stays in the temporary directory.
  ~Place() {
    ::close(listener);
    ::unlink((dir + "/CMON").c_str());
    ::rmdir(dir.c_str());
  }
};

Place& place() {
  static Place p;
  return p;
}

// Set by the monitor when it has read a message it will not answer.
std::atomic<bool> g_silent{false};

// Serves one connection as the input says, until the other side hangs up.
void serve(const Monitor& m) {
  int fd = ::accept4(place().listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  char frame[1024];
  for (int message = 1;; ++message) {
    if (::recv(fd, frame, sizeof frame, 0) <= 0) break;
    if (message == m.stop_at) {
      if (m.hang_up) break;
      g_silent = true;
      continue;  // silent: the record is read and never answered
    }
    const std::string& reply = m.replies[static_cast<size_t>(message - 1) % 3];
    ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
  ::close(fd);
}

int16_t Get16(const uint8_t* p) { return zp::get16(reinterpret_cast<const char*>(p)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t header[5] = {};
  std::memcpy(header, data, size < 5 ? size : 5);
  Monitor m;
  m.stop_at = header[0] & 3;
  m.hang_up = (header[0] & 4) != 0;
  size_t at = size < 5 ? size : 5;
  for (int i = 0; i < 3; ++i) {
    size_t length = at < size ? data[at++] : 0;
    if (length > size - at) length = size - at;
    m.replies.emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }

  zp::ScopedHost host(
      zp::Configuration::from_entries({"ZEB_SOCKET_DIR=" + place().dir, "PATH=/usr/bin"}));
  zp::SyscallOverride waits;
  zp::syscalls().poll = [real = waits.saved().poll](pollfd* fds, unsigned long n, int timeout) {
    if (timeout < 0) return real(fds, n, timeout);
    for (;;) {
      int ready = real(fds, n, 10);
      if (ready != 0 || g_silent) return ready;
    }
  };
  g_silent = false;
  std::thread monitor(serve, m);
  char program[24];
  std::memcpy(program, "$VOL    SUB     PROG    ", 24);
  const char names[24] = {};
  int16_t priority = Get16(header + 1), processor = Get16(header + 3);
  const int16_t result = UTIL_CMON(program, &priority, &processor, names, names);
  monitor.join();

  // A reply record is whole and says no error when it has at least its
  // two bytes of error number and they are 0.
  auto fine = [](const std::string& r) { return r.size() >= 2 && r[0] == 0 && r[1] == 0; };
  const std::string &open = m.replies[0], &request = m.replies[1];
  bool yes = false;
  if (m.stop_at == 1) {
    yes = m.hang_up;  // gone: consent by default; silent: 40, no consent
  } else if (!fine(open)) {
    yes = false;  // refused the open, or answered it with no reply at all
  } else if (m.stop_at == 2) {
    // Silent: 40. Hung up on the request while it lives on (the monitor is
    // a thread of this process): it refused. Neither is consent.
    yes = false;
  } else {
    yes = fine(request) && request.size() >= 4 && request[2] == 0 && request[3] == 0;
  }
  if (result != (yes ? -1 : 0)) std::abort();
  const bool request_answered = m.stop_at == 0 || m.stop_at == 3;
  if (yes && request_answered && request.size() >= 30 &&
      priority != Get16(reinterpret_cast<const uint8_t*>(request.data()) + 28)) {
    std::abort();  // the monitor's priority override is taken
  }
  return 0;
}
