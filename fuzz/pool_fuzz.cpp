// Drives a memory pool with arbitrary requests and frees, stale and stray
// addresses included, beside the plain list walk of pool_walk.h: every
// accepted request must get the address the walk chooses, every address
// that is not a buffer in use must be refused, and at the end both pools
// must hold the same free list.
//
// Each run starts from a pool full of small holes, so that requests walk far
// and the pool builds its index early; the input then drives it. The input
// is a series of three-byte records: an operation byte, then a 16-bit
// big-endian operand (a request size, or which buffer or byte to free).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <zeb/containers/pool.h>
#include "containers/pool_walk.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr int32_t kPoolSize = 128 * 1024;
constexpr int kHoles = 600;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::vector<uint64_t> area(kPoolSize / 8), ref_area(kPoolSize / 8);
  char* base = reinterpret_cast<char*>(area.data());
  char* ref_base = reinterpret_cast<char*>(ref_area.data());
  check(MEM_DEFINEPOOL(base, kPoolSize) == 0);
  check(MEM_DEFINEPOOL(ref_base, kPoolSize) == 0);
  zeb::testing::WalkPool ref{ref_base};
  std::vector<uint32_t> live;  // block offsets in use
  auto is_live = [&live](uint32_t block) {
    for (uint32_t b : live)
      if (b == block) return true;
    return false;
  };
  // Holes of 16 to 40 bytes between buffers in use: the first requests of
  // more than that walk past all of them.
  std::vector<uint32_t> holes;
  for (int i = 0; i < 2 * kHoles; ++i) {
    const int32_t request = i % 2 == 0 ? 8 * (i / 2 % 4) : 8;
    void* buffer = nullptr;
    check(MEM_ALLOC(base, &buffer, request) == 0);
    const uint32_t want = ref.alloc(request);
    check(static_cast<char*>(buffer) == base + want + 8);
    (i % 2 == 0 ? holes : live).push_back(want);
  }
  for (uint32_t b : holes) {
    check(MEM_FREE(base, base + b + 8) == 0);
    ref.free(b);
  }
  for (size_t at = 0; at + 3 <= size; at += 3) {
    const uint8_t op = data[at];
    const uint32_t operand = static_cast<uint32_t>(data[at + 1] << 8 | data[at + 2]);
    switch (op % 8) {
      case 0:
      case 1:
      case 2: {
        // Mostly small sizes, some zero or negative, some large.
        int32_t request = static_cast<int32_t>(operand % 320);
        if (op % 8 == 2) request = static_cast<int32_t>(operand) - 2048;
        void* buffer = nullptr;
        const int16_t error = MEM_ALLOC(base, &buffer, request);
        const uint32_t want = ref.alloc(request);
        if (want == 0) {
          check(error == 303 && buffer == nullptr);
        } else {
          check(error == 0 && static_cast<char*>(buffer) == base + want + 8);
          live.push_back(want);
        }
        break;
      }
      case 3:
      case 4:
      case 5:
        if (!live.empty()) {
          const size_t i = operand % live.size();
          check(MEM_FREE(base, base + live[i] + 8) == 0);
          ref.free(live[i]);
          live[i] = live.back();
          live.pop_back();
        }
        break;
      default: {
        // Any address in the area (or just outside it): accepted only as a
        // buffer in use, refused with a pool error otherwise.
        const uint32_t offset = operand % (kPoolSize + 64);
        // Bytes inside a buffer in use are the caller's: a copy of a tag
        // pair there is not the pool's to see through, so those are skipped.
        bool inside_live = false;
        for (uint32_t b : live) {
          const auto block_size = static_cast<uint32_t>(-zeb::testing::v_at(base + b + 4));
          if (offset >= b + 16 && offset < b + block_size + 8) inside_live = true;
        }
        if (inside_live) break;
        const int16_t error = MEM_FREE(base, base + offset);
        const bool valid = offset >= 8 && offset % 8 == 0 && is_live(offset - 8);
        if (valid) {
          check(error == 0);
          ref.free(offset - 8);
          std::erase(live, offset - 8);
        } else {
          check(error == 304 || error == 305);
        }
        break;
      }
    }
  }
  // The same free list, in the same order, with the same sizes.
  const auto* header = reinterpret_cast<const PoolHeader*>(base);
  const auto* ref_header = reinterpret_cast<const PoolHeader*>(ref_base);
  check(header->extent == ref_header->extent);
  for (uint32_t f = header->free_fwd, g = ref_header->free_fwd;;) {
    check(f == g);
    if (f == 0) break;
    check(zeb::testing::v_at(base + f + 4) == zeb::testing::v_at(ref_base + g + 4));
    f = static_cast<uint32_t>(zeb::testing::v_at(base + f + 8));
    g = static_cast<uint32_t>(zeb::testing::v_at(ref_base + g + 8));
  }
  for (uint32_t b : live) check(MEM_FREE(base, base + b + 8) == 0);
  check(header->extent == 96 && header->free_fwd == 0 && header->reserved == 0);
  return 0;
}
