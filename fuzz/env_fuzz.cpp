// Feeds arbitrary start-up, ASSIGN and PARAM messages, lengths included, to
// the intake's call-backs and asks ENV_INQUIRE about the result.
//
// The input is a series of records: a kind byte, a signed 16-bit length
// (big-endian), then the record's bytes. Each message lives in a heap
// buffer of exactly its length (a negative length gets an empty buffer), so
// the address sanitizer reports any byte read outside it. Inquiries take
// the item from the kind byte's upper bits and the key from the record's
// bytes. Besides memory safety the target checks what the intake promises:
// a stored start-up message is followed by one NUL byte and item 0 gives it
// back whole.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <zeb/containers/pool.h>
#include <zeb/env/env.h>

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

struct Record {
  int kind;
  int item;
  int16_t length;
  std::vector<char> bytes;  // exactly max(length, 0) bytes
};

// The next record, or false at the end of the input.
bool next(const uint8_t** p, size_t* n, Record* r) {
  if (*n < 3) return false;
  r->kind = (*p)[0] & 3;
  r->item = (*p)[0] >> 2;
  r->length = static_cast<int16_t>(((*p)[1] << 8) | (*p)[2]);
  *p += 3;
  *n -= 3;
  size_t want = r->length > 0 ? static_cast<size_t>(r->length) : 0;
  size_t have = want < *n ? want : *n;
  r->bytes.assign(*p, *p + have);
  r->bytes.resize(want, '\0');
  *p += have;
  *n -= have;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<char> pool(1 << 15);
  check(MEM_DEFINEPOOL(pool.data(), static_cast<int32_t>(pool.size())) == 0);
  void* memory = nullptr;
  check(MEM_ALLOC(pool.data(), &memory, sizeof(EnvRecord)) == 0);
  auto* env = static_cast<EnvRecord*>(memory);
  std::memset(env, ' ', sizeof *env);
  zeb::env_set_pool(env, pool.data());
  env->assign_list = env->param_list = zeb::kEmptyList;
  env->startup_len = 0;
  env->flags = 0x000F;
  env->in_fnum = env->out_fnum = env->term_fnum = zeb::kNotOpen;

  Record r;
  while (next(&data, &size, &r)) {
    // A heap block of exactly the message's length.
    std::unique_ptr<char[]> message(new char[r.bytes.size() + (r.bytes.empty() ? 1 : 0)]);
    if (!r.bytes.empty()) std::memcpy(message.get(), r.bytes.data(), r.bytes.size());
    switch (r.kind) {
      case 0:
        if (ENV_STARTUPPROC_(env, message.get(), r.length) == 0) {
          check(env->startup_len == r.length);
          check(env->startup_msg[r.length] == '\0');
          char out[600];
          int16_t length = -1;
          check(ENV_INQUIRE(zeb::mask({1, 2, 4, 5}), env, ENVINFO_STARTUP, nullptr, out, &length) ==
                0);
          check(length == r.length &&
                (r.bytes.empty() || std::memcmp(out, r.bytes.data(), r.bytes.size()) == 0));
        }
        break;
      case 1:
        ENV_ASSIGNPROC_(env, message.get(), r.length);
        break;
      case 2:
        ENV_PARAMPROC_(env, message.get(), r.length);
        break;
      default: {
        // The key: the record's bytes, ended by a NUL within 64 bytes.
        char key[65] = {};
        if (!r.bytes.empty()) {
          std::memcpy(key, r.bytes.data(), r.bytes.size() < 64 ? r.bytes.size() : 64);
        }
        char out[600];
        int16_t length = 0;
        int16_t item = static_cast<int16_t>(r.item % 20 - 1);
        ENV_INQUIRE(zeb::mask({1, 2, 3, 4, 5}), env, item, key, out, &length);
        break;
      }
    }
  }
  return 0;
}
