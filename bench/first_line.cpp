// A minimal program on the library: start-up as vorn does it (the start-up
// conversation, the home terminal, lines to it), one log line, shut-down.
#include <zeb/zeb.h>

int main() {
  if (ZEB_STARTUP(zeb::mask({1, 2}), 100, 0x0029) != 0) return 3;
  ZEB_LOG(zeb::mask({1}), "first line");
  ZEB_SHUTDOWN(zeb::mask({}));
  return 0;
}
