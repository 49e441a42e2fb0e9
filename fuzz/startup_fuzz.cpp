// Fuzz target of the start-up conversation as a child receives it, through
// the real private channel: the input is what a parent writes on the
// channel, record by record (any kind byte, any header, empty records,
// records cut short), after which the parent hangs up. The library's
// intake (ENV_INITIALIZER_) adopts the channel as ZEB_RECEIVE_FD names it,
// reads every record through the framing and $RECEIVE, and answers on the
// socket. Besides memory safety the target checks that the intake never
// waits: it ends with 0 when a "close" came after "open", else with an
// error, and never with 40 (a time-out).
//
// Input: a series of records, each a big-endian 16-bit length (cut to what
// remains of the input) and that many bytes.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>
#include <zeb/platform/errors.h>
#include "env/test_env.h"
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace zp = zeb::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  size_t at = 0;
  while (at + 2 <= size) {
    size_t length = (size_t{data[at]} << 8) | data[at + 1];
    at += 2;
    if (length > size - at) length = size - at;
    // A record the channel cannot take now is where the parent stopped.
    if (::send(fds[0], data + at, length, MSG_DONTWAIT | MSG_NOSIGNAL) < 0) break;
    at += length;
  }
  // The parent hangs up: what it wrote stays to be read.
  ::close(fds[0]);

  int16_t result = 0;
  {
    zp::ScopedHost host(
        zp::Configuration::from_entries({"ZEB_RECEIVE_FD=" + std::to_string(fds[1])}));
    // The channel's maker is this process: it stands in for the parent.
    zp::SyscallOverride parent;
    zp::syscalls().getppid = [] { return static_cast<long>(::getpid()); };

    zeb::test::TestEnv env;
    if (env.get() == nullptr) std::abort();
    result = ENV_INITIALIZER_(zeb::mask({1, 2, 3, 4}), ENV_STARTUPPROC_, ENV_ASSIGNPROC_,
                              ENV_PARAMPROC_, env.get());
  }
  // The adopted channel outlives the host; this process made it.
  ::close(fds[1]);
  if (result == zeb::err::kTimedOut) std::abort();
  return 0;
}
