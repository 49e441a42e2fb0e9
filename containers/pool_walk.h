// The first-fit pool as a plain walk of its free list, for tests and fuzz
// targets: the placement that MEM_ALLOC's indexed search must reproduce.
// Same layout as the pool (pool.h); statistics and checks are left out.
#pragma once

#include <cstdint>
#include <cstring>

namespace zeb::testing {

inline int32_t v_at(const char* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

struct WalkPool {
  char* p;
  int32_t get(uint32_t off) const { return v_at(p + off); }
  void put(uint32_t off, int32_t v) { std::memcpy(p + off, &v, sizeof v); }
  uint32_t fwd(uint32_t b) const { return static_cast<uint32_t>(get(b + 8)); }
  uint32_t bwd(uint32_t b) const { return static_cast<uint32_t>(get(b + 12)); }
  void set_fwd(uint32_t b, uint32_t v) { put(b + 8, static_cast<int32_t>(v)); }
  void set_bwd(uint32_t b, uint32_t v) { put(b + 12, static_cast<int32_t>(v)); }
  void unlink(uint32_t b) {
    set_fwd(bwd(b), fwd(b));
    set_bwd(fwd(b), bwd(b));
  }
  void push_front(uint32_t b) {
    uint32_t first = fwd(0);
    set_fwd(b, first);
    set_bwd(b, 0);
    set_bwd(first, b);
    set_fwd(0, b);
  }

  // Returns the block offset, or 0 when the pool has no room.
  uint32_t alloc(int32_t size) {
    int64_t want = (static_cast<int64_t>(size) + 15) & ~int64_t{7};
    if (want < 16) want = 16;
    uint32_t b = fwd(0);
    while (b != 0 && get(b + 4) < want) b = fwd(b);
    const auto bs = static_cast<int32_t>(want);
    if (b != 0) {
      int32_t free_size = get(b + 4);
      if (want + 64 < free_size) {
        int32_t rest = free_size - bs;
        put(b + 4, rest);
        uint32_t block = b + static_cast<uint32_t>(rest);
        put(block, rest);
        put(block + 4, -bs);
        put(block + static_cast<uint32_t>(bs), -bs);
        return block;
      }
      unlink(b);
      put(b + 4, -free_size);
      put(b + static_cast<uint32_t>(free_size), -free_size);
      return b;
    }
    if (want > get(4)) return 0;
    uint32_t block = static_cast<uint32_t>(get(0));
    uint32_t end = block + static_cast<uint32_t>(bs);
    put(block + 4, -bs);
    put(end, -bs);
    put(end + 4, 0);
    put(0, static_cast<int32_t>(end));
    put(4, get(4) - bs);
    return block;
  }

  // Frees a block in use (no checks: the caller frees only live buffers).
  void free(uint32_t block) {
    const uint32_t extent = static_cast<uint32_t>(get(0));
    const int32_t block_size = -get(block + 4);
    const uint32_t next = block + static_cast<uint32_t>(block_size);
    const int32_t prev_tag = get(block), next_tag = get(next + 4);
    uint32_t start = block;
    int32_t merged = block_size;
    bool in_list = false;
    if (prev_tag > 0) {
      start = block - static_cast<uint32_t>(prev_tag);
      merged += prev_tag;
      in_list = true;
    }
    if (next_tag > 0) {
      unlink(next);
      merged += next_tag;
    }
    const uint32_t after = start + static_cast<uint32_t>(merged);
    if (after == extent) {
      if (in_list) unlink(start);
      put(start + 4, 0);
      put(0, static_cast<int32_t>(start));
      put(4, get(4) + merged);
      return;
    }
    if (!in_list) push_front(start);
    put(start + 4, merged);
    put(after, merged);
  }
};

}  // namespace zeb::testing
