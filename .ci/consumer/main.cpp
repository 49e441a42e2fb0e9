// A program on the library as another project writes it: the umbrella
// header, a formatted line and a known checksum.
#include <cstring>

#include <zeb/zeb.h>
int main() {
  char line[32];
  int32_t v = 42;
  int16_t n = UTIL_FORMAT(zeb::mask({1, 2, 3, 4}), "n=\\d\\", line, sizeof line, &v);
  if (n != 4 || std::memcmp(line, "n=42", 4) != 0) return 1;
  return static_cast<uint32_t>(UTIL_CRC32(0, "123456789", 9)) == 0xCBF43926u ? 0 : 1;
}
