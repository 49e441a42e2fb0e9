// One part's header and target alone (zeb::msg).
#include <zeb/msg/msg.h>
int main() {
  unsigned char m[64];
  MSG_INIT(m);
  return MSG_VERIFY(m);
}
