// The memory pool: boundary-tag blocks, one circular free list searched
// first fit, and an uncarved region behind a movable end block.
//
// First fit takes the first block on the free list that is large enough.
// While the list is short a walk finds it. Once a walk has gone far without
// finding one, the pool builds an index: every free block of 32 bytes or
// more becomes a node of a tree (a treap) whose in-order sequence is the
// list's order, each node keeping the largest block size in its subtree, so
// that the first block large enough is found by climbing from where the
// walk of the list stopped and descending once. A node's four words (left,
// right, parent, subtree maximum) stand in the free block's own bytes
// 16-31, behind its list links, and the header's reserved word holds the
// root with its top bit set (the bit alone: an index with no node): the
// index needs no memory beyond the area, and the 96-byte header keeps its
// layout. Without an index the word keeps a running count of the entries
// walked beyond an allowance per request (walks shorter than the allowance
// count down); the index is built when that count runs high, kept up to
// date from then on, and dropped when the free list runs empty. 16- and
// 24-byte free blocks have no room for a node; they fit only requests of
// their own size or smaller, which the walk serves. Every search walks the
// first few entries of the list before it asks the index, so a block freed
// onto the front of the list joins the index only when later frees push it
// out of those entries: most are taken again or joined before that, and
// never cost the index anything. Placement is exactly what a walk of the
// whole list would choose.
//
// All words of the area are read and written through memcpy so that a pool
// works over any area; on the usual 8-aligned areas this compiles to plain
// loads and stores.
#include <zeb/containers/pool.h>
#include "containers/pool_core.h"

#include <cstring>

#include <zeb/platform/clock.h>
#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>

namespace {

namespace err = zeb::err;
using zeb::kBlockHeaderSize;
using zeb::kMinBlockSize;
using zeb::kPoolHeaderSize;
using zeb::kSplitThreshold;

// Byte offsets of the header fields (the layout of PoolHeader).
constexpr uint32_t kExtent = offsetof(PoolHeader, extent);
constexpr uint32_t kUnextended = offsetof(PoolHeader, unextended);
constexpr uint32_t kResetTime = offsetof(PoolHeader, reset_time);
constexpr uint32_t kAllocRequests = offsetof(PoolHeader, alloc_requests);
constexpr uint32_t kFreeRequests = offsetof(PoolHeader, free_requests);
constexpr uint32_t kSplits = offsetof(PoolHeader, splits);
constexpr uint32_t kExtends = offsetof(PoolHeader, extends);
constexpr uint32_t kWholeAllocs = offsetof(PoolHeader, whole_allocs);
constexpr uint32_t kJoins = offsetof(PoolHeader, joins);
constexpr uint32_t kReleases = offsetof(PoolHeader, releases);
constexpr uint32_t kUsed = offsetof(PoolHeader, used);
constexpr uint32_t kMaxused = offsetof(PoolHeader, maxused);
constexpr uint32_t kFailsize = offsetof(PoolHeader, failsize);
constexpr uint32_t kReserved = offsetof(PoolHeader, reserved);
// The free-list links stand 8 bytes into a free block and into the header
// alike, so the header (offset 0) is the list's anchor.
static_assert(offsetof(PoolHeader, free_fwd) == 8 && offsetof(PoolHeader, free_bwd) == 12);
constexpr uint32_t kAnchor = 0;
// Free blocks of this size or more are nodes of the index (pool.cpp's head).
constexpr int32_t kNodeMin = 32;
// The parent word of a free block of node size that is not a node: one of
// the first kShortWalk entries of the list, which every search walks.
constexpr uint32_t kFresh = 0xFFFFFFFFu;
// List entries looked at before the index is asked: most requests fit one
// of the first few, and a short walk is cheaper than a descent.
constexpr int kShortWalk = 4;
// Keeping an index costs every free and allocation a little, so short
// lists go without: each request may walk kWalkAllowance entries for free,
// the entries beyond are counted, and kWalkDebt of them build the index.
// The allowance is where the index starts to pay (pool_bench): with 16, a
// pool holding 512 live blocks of 8 to 4,096 bytes built an index and ran a
// third slower than the walk; with 32 it keeps walking there, and the
// lists that are longer on average (1,024 such blocks, 8,000 small ones)
// still get their index.
constexpr int32_t kWalkAllowance = 32;
constexpr int32_t kWalkDebt = 4096;
// The top bit of the reserved word: the pool has an index.
constexpr uint32_t kIndexOn = 0x80000000u;

// Largest block size a 32-bit count can hold (kept as failsize for requests
// beyond it).
constexpr int64_t kLargestBlock = 0x7FFFFFF8;

class Pool {
 public:
  explicit Pool(void* area) : p_(static_cast<char*>(area)) {}

  int32_t i32(uint32_t off) const {
    int32_t v;
    std::memcpy(&v, p_ + off, sizeof v);
    return v;
  }
  void set_i32(uint32_t off, int32_t v) { std::memcpy(p_ + off, &v, sizeof v); }
  uint32_t u32(uint32_t off) const { return static_cast<uint32_t>(i32(off)); }
  void set_u32(uint32_t off, uint32_t v) { set_i32(off, static_cast<int32_t>(v)); }
  int64_t i64(uint32_t off) const {
    int64_t v;
    std::memcpy(&v, p_ + off, sizeof v);
    return v;
  }
  void set_i64(uint32_t off, int64_t v) { std::memcpy(p_ + off, &v, sizeof v); }
  void bump(uint32_t off) { set_i64(off, i64(off) + 1); }

  // Block header words and free-list links of the block at offset b.
  int32_t prev_tag(uint32_t b) const { return i32(b); }
  int32_t size_tag(uint32_t b) const { return i32(b + 4); }
  void set_prev_tag(uint32_t b, int32_t v) { set_i32(b, v); }
  void set_size_tag(uint32_t b, int32_t v) { set_i32(b + 4, v); }
  uint32_t fwd(uint32_t b) const { return u32(b + 8); }
  uint32_t bwd(uint32_t b) const { return u32(b + 12); }
  void set_fwd(uint32_t b, uint32_t v) { set_u32(b + 8, v); }
  void set_bwd(uint32_t b, uint32_t v) { set_u32(b + 12, v); }

  void unlink(uint32_t b) {
    uint32_t f = fwd(b), k = bwd(b);
    set_fwd(k, f);
    set_bwd(f, k);
  }
  void push_front(uint32_t b) {
    uint32_t first = fwd(kAnchor);
    set_fwd(b, first);
    set_bwd(b, kAnchor);
    set_bwd(first, b);
    set_fwd(kAnchor, b);
  }

  uint32_t extent() const { return u32(kExtent); }
  void recompute_used() {
    int32_t used = static_cast<int32_t>(extent()) - kPoolHeaderSize;
    set_i32(kUsed, used);
    if (used > i32(kMaxused)) set_i32(kMaxused, used);
  }

  char* at(uint32_t off) const { return p_ + off; }
  char* base() const { return p_; }

  // ---- The index of free blocks of kNodeMin bytes or more ----
  static bool indexed(int32_t size) { return size >= kNodeMin; }
  // A free block of node size that is not (yet) a node of the index.
  void set_fresh(uint32_t b) { set_u32(b + 24, kFresh); }
  bool in_tree(uint32_t b) const { return indexed(size_tag(b)) && parent(b) != kFresh; }
  bool index_on() const { return (u32(kReserved) & kIndexOn) != 0; }
  void drop_index() { set_u32(kReserved, 0); }
  uint32_t root() const { return u32(kReserved) & ~kIndexOn; }
  void set_root(uint32_t v) { set_u32(kReserved, v | kIndexOn); }
  uint32_t left(uint32_t n) const { return u32(n + 16); }
  uint32_t right(uint32_t n) const { return u32(n + 20); }
  uint32_t parent(uint32_t n) const { return u32(n + 24); }
  int32_t max(uint32_t n) const { return n == 0 ? 0 : i32(n + 28); }
  void set_left(uint32_t n, uint32_t v) { set_u32(n + 16, v); }
  void set_right(uint32_t n, uint32_t v) { set_u32(n + 20, v); }
  void set_parent(uint32_t n, uint32_t v) { set_u32(n + 24, v); }
  void set_max(uint32_t n, int32_t v) { set_i32(n + 28, v); }

  // The treap's heap order: a hash of the block's offset, which does not
  // change while the block is free, so nothing needs to be stored for it.
  static uint32_t priority(uint32_t n) {
    uint32_t h = n * 0x9E3779B1u;
    h ^= h >> 15;
    h *= 0x85EBCA77u;
    h ^= h >> 13;
    return h;
  }

  int32_t subtree_max(uint32_t n) const {
    int32_t m = size_tag(n);
    int32_t l = max(left(n)), r = max(right(n));
    if (l > m) m = l;
    if (r > m) m = r;
    return m;
  }
  // Keeps the subtree maxima true after a block at or below n has shrunk
  // from old bytes or left the tree: only ancestors whose maximum was old
  // can change, so the climb stops at the first one above it (or at one
  // whose recomputed maximum stays).
  void shrunk(uint32_t n, int32_t old) {
    while (n != 0) {
      const int32_t m = max(n);
      if (m > old) return;
      const int32_t now = subtree_max(n);
      if (now == m) return;
      set_max(n, now);
      n = parent(n);
    }
  }
  // The same after node n has grown to size bytes: the maxima only rise.
  void grown(uint32_t n, int32_t size) {
    for (; n != 0 && max(n) < size; n = parent(n)) set_max(n, size);
  }
  void replace_child(uint32_t p, uint32_t old_child, uint32_t new_child) {
    if (p == 0) {
      set_root(new_child);
    } else if (left(p) == old_child) {
      set_left(p, new_child);
    } else {
      set_right(p, new_child);
    }
  }
  // Lifts x above its parent, keeping the in-order sequence.
  void rotate_up(uint32_t x) {
    uint32_t p = parent(x), g = parent(p);
    if (left(p) == x) {
      uint32_t c = right(x);
      set_left(p, c);
      if (c != 0) set_parent(c, p);
      set_right(x, p);
    } else {
      uint32_t c = left(x);
      set_right(p, c);
      if (c != 0) set_parent(c, p);
      set_left(x, p);
    }
    set_parent(p, x);
    set_parent(x, g);
    replace_child(g, p, x);
    // x now holds the subtree p held, so it takes p's maximum.
    set_max(x, max(p));
    set_max(p, subtree_max(p));
  }
  // Puts the free block n into the tree right after the indexed block
  // before (0: as the first), then restores the heap order.
  void tree_insert(uint32_t n, uint32_t before) {
    set_left(n, 0);
    set_right(n, 0);
    set_max(n, size_tag(n));
    uint32_t p = 0;
    bool as_left = true;
    if (before == 0) {
      // The first node is the first indexed block on the list behind n,
      // which is nearly always one of the next few entries; failing that,
      // the descent along the left edge finds it.
      uint32_t f = fwd(n);
      for (int i = 0; i < kShortWalk && f != kAnchor && !in_tree(f); ++i) f = fwd(f);
      if (f != kAnchor && in_tree(f)) {
        p = f;
      } else if (f != kAnchor) {
        for (uint32_t c = root(); c != 0; c = left(c)) p = c;
      }
    } else if (right(before) == 0) {
      p = before;
      as_left = false;
    } else {
      for (uint32_t c = right(before); c != 0; c = left(c)) p = c;
    }
    set_parent(n, p);
    if (p == 0) {
      set_root(n);
    } else {
      if (as_left) {
        set_left(p, n);
      } else {
        set_right(p, n);
      }
      for (uint32_t a = p; a != 0 && max(a) < size_tag(n); a = parent(a)) set_max(a, size_tag(n));
    }
    const uint32_t pri = priority(n);
    while (parent(n) != 0 && priority(parent(n)) < pri) rotate_up(n);
  }
  void tree_remove(uint32_t n) {
    for (;;) {
      uint32_t l = left(n), r = right(n);
      if (l == 0 || r == 0) {
        uint32_t c = l != 0 ? l : r;
        uint32_t p = parent(n);
        if (c != 0) set_parent(c, p);
        replace_child(p, n, c);
        shrunk(p, size_tag(n));
        return;
      }
      rotate_up(priority(l) > priority(r) ? l : r);
    }
  }
  // The first indexed block, in list order, of want bytes or more; 0 if none.
  uint32_t tree_first_fit(int64_t want) const {
    uint32_t n = root();
    if (max(n) < want) return 0;
    return descend(n, want);
  }
  // The first block of want bytes or more in the subtree of n, whose
  // maximum is known to be large enough.
  uint32_t descend(uint32_t n, int64_t want) const {
    for (;;) {
      uint32_t l = left(n);
      if (max(l) >= want) {
        n = l;
      } else if (size_tag(n) >= want) {
        return n;
      } else {
        n = right(n);
      }
    }
  }
  // The first indexed block of want bytes or more behind node x, in list
  // order, when x and everything in front of it are known to be too small;
  // 0 if none. The search climbs from x only as far as it must, so an
  // answer near the front of the list is found near the bottom of the tree
  // instead of by a descent from the root.
  uint32_t first_fit_after(uint32_t x, int64_t want) const {
    for (;;) {
      uint32_t r = right(x);
      if (max(r) >= want) return descend(r, want);
      // Climb past the ancestors that lie in front of x.
      uint32_t p = parent(x);
      while (p != 0 && right(p) == x) {
        x = p;
        p = parent(x);
      }
      if (p == 0) return 0;
      if (size_tag(p) >= want) return p;
      x = p;
    }
  }
  // Builds the index over the whole free list in one pass: each block goes
  // in at the right end, below the last node on the right spine with a
  // higher priority; a node's maximum is settled when it leaves the spine.
  void build_index() {
    set_root(0);
    uint32_t last = 0;
    for (uint32_t b = fwd(kAnchor); b != kAnchor; b = fwd(b)) {
      if (!indexed(size_tag(b))) continue;
      const uint32_t pri = priority(b);
      uint32_t child = 0, x = last;
      while (x != 0 && priority(x) < pri) {
        set_max(x, subtree_max(x));
        child = x;
        x = parent(x);
      }
      set_left(b, child);
      set_right(b, 0);
      set_max(b, size_tag(b));
      if (child != 0) set_parent(child, b);
      set_parent(b, x);
      if (x != 0) {
        set_right(x, b);
      } else {
        set_root(b);
      }
      last = b;
    }
    for (uint32_t x = last; x != 0; x = parent(x)) set_max(x, subtree_max(x));
  }
  // After first was put in front of the list: the block it pushed out of the
  // front entries joins the index if it is a fresh one.
  void settle_front(uint32_t first) {
    uint32_t last = 0, b = fwd(first);
    for (int i = 1; i < kShortWalk && b != kAnchor; ++i) {
      if (in_tree(b)) last = b;
      b = fwd(b);
    }
    if (b != kAnchor && indexed(size_tag(b)) && parent(b) == kFresh) tree_insert(b, last);
  }
  // The nearest indexed block in front of b on the free list; 0 if none.
  uint32_t indexed_before(uint32_t b) const {
    for (uint32_t k = bwd(b); k != kAnchor; k = bwd(k))
      if (in_tree(k)) return k;
    return 0;
  }

 private:
  char* p_;
};

}  // namespace

int16_t MEM_DEFINEPOOL(void* pool, int32_t size) {
  if (pool == nullptr || size < zeb::kMinPoolSize) return err::kBadPoolSize;
  Pool p(pool);
  int32_t region = size - kPoolHeaderSize;
  int32_t unextended = region & ~15;
  // The end block must stay inside the area even when every carvable byte is
  // carved: keep 8 bytes back when the rounding left fewer than 8 behind.
  if (region - unextended < kBlockHeaderSize) unextended -= kBlockHeaderSize;
  p.set_u32(kExtent, kPoolHeaderSize);
  p.set_i32(kUnextended, unextended);
  p.set_fwd(kAnchor, kAnchor);
  p.set_bwd(kAnchor, kAnchor);
  p.set_prev_tag(kPoolHeaderSize, 0);
  p.set_size_tag(kPoolHeaderSize, 0);
  p.set_i32(kReserved, 0);
  return MEM_STATS(zeb::mask({1, 3}), pool, nullptr, 1);
}

int16_t MEM_ALLOC(void* pool, void** buffer, int32_t size) {
  Pool p(pool);
  p.bump(kAllocRequests);
  if (buffer == nullptr) return err::kMissingParameter;

  int64_t want = (static_cast<int64_t>(size) + 15) & ~int64_t{7};
  if (want < kMinBlockSize) want = kMinBlockSize;

  uint32_t block = 0;
  // First fit: the first listed block of want bytes or more. A few entries
  // of the list, then the index; blocks too small for a node fit only
  // requests up to their own size, so the walk finishes those.
  uint32_t b = p.fwd(kAnchor);
  if (p.index_on()) {
    // last: the last indexed block the walk passed, all in front of it too
    // small; the index search starts there.
    uint32_t last = 0;
    for (int i = 0; i < kShortWalk && b != kAnchor; ++i) {
      const int32_t s = p.size_tag(b);
      if (s >= want) break;
      if (p.in_tree(b)) last = b;
      b = p.fwd(b);
    }
    if (b != kAnchor && p.size_tag(b) < want) {
      if (p.in_tree(b)) last = b;
      if (want >= kNodeMin) {
        b = last != 0 ? p.first_fit_after(last, want) : p.tree_first_fit(want);
      } else {
        while (b != kAnchor && p.size_tag(b) < want) b = p.fwd(b);
      }
    }
  } else {
    int32_t walked = 0;
    while (b != kAnchor && p.size_tag(b) < want) {
      b = p.fwd(b);
      ++walked;
    }
    // Short walks pay the count back: only a list that is long on average
    // gets an index.
    int32_t debt = p.i32(kReserved) + (walked - kWalkAllowance);
    if (debt >= kWalkDebt) {
      p.build_index();
    } else {
      p.set_i32(kReserved, debt > 0 ? debt : 0);
    }
  }
  if (b != kAnchor) {
    int32_t bs = static_cast<int32_t>(want);
    int32_t free_size = p.size_tag(b);
    if (want + kSplitThreshold < free_size) {
      // Cut the new block from the top; the rest stays free where it is.
      int32_t rest = free_size - bs;
      p.set_size_tag(b, rest);
      // rest is over 64 bytes: b stays a node, or fresh.
      if (p.index_on() && p.in_tree(b)) p.shrunk(b, free_size);
      block = b + static_cast<uint32_t>(rest);
      p.set_prev_tag(block, rest);
      p.set_size_tag(block, -bs);
      p.set_prev_tag(block + static_cast<uint32_t>(bs), -bs);
      p.bump(kSplits);
    } else {
      if (p.index_on() && p.in_tree(b)) p.tree_remove(b);
      p.unlink(b);
      if (p.fwd(kAnchor) == kAnchor) p.drop_index();
      p.set_size_tag(b, -free_size);
      p.set_prev_tag(b + static_cast<uint32_t>(free_size), -free_size);
      block = b;
      p.bump(kWholeAllocs);
    }
  } else {
    int32_t unextended = p.i32(kUnextended);
    if (want > unextended) {
      p.set_i32(kFailsize, static_cast<int32_t>(want < kLargestBlock ? want : kLargestBlock));
      return err::kPoolExhausted;
    }
    int32_t bs = static_cast<int32_t>(want);
    block = p.extent();
    uint32_t end = block + static_cast<uint32_t>(bs);
    p.set_size_tag(block, -bs);
    p.set_prev_tag(end, -bs);
    p.set_size_tag(end, 0);
    p.set_u32(kExtent, end);
    p.set_i32(kUnextended, unextended - bs);
    p.bump(kExtends);
    p.recompute_used();
  }
  *buffer = p.at(block + kBlockHeaderSize);
  return err::kOk;
}

int16_t MEM_FREE(void* pool, void* buffer) {
  Pool p(pool);
  p.bump(kFreeRequests);

  // Everything is checked before anything changes, so a refused buffer
  // (freed twice, never allocated, tags overwritten) leaves the pool as it is.
  const uint32_t extent = p.extent();
  const uintptr_t buf = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t base = reinterpret_cast<uintptr_t>(p.base());
  if (buf < base + kPoolHeaderSize + kBlockHeaderSize || buf > base + extent) {
    return err::kNotPoolBuffer;
  }
  const uint32_t block = static_cast<uint32_t>(buf - base) - kBlockHeaderSize;
  if ((block - kPoolHeaderSize) % 8 != 0) return err::kNotPoolBuffer;
  const int32_t size_tag = p.size_tag(block);
  if (size_tag >= 0) return err::kNotPoolBuffer;
  const int64_t block_size = -static_cast<int64_t>(size_tag);
  if (block_size < kMinBlockSize || block_size % 8 != 0 || block + block_size > extent) {
    return err::kPoolTags;
  }
  const uint32_t next = block + static_cast<uint32_t>(block_size);
  if (p.prev_tag(next) != size_tag) return err::kPoolTags;

  // The tag pair in front of the block must agree with its predecessor too.
  const int32_t prev_tag = p.prev_tag(block);
  if (prev_tag == 0) {
    if (block != static_cast<uint32_t>(kPoolHeaderSize)) return err::kPoolTags;
  } else {
    int64_t prev_size = prev_tag > 0 ? prev_tag : -static_cast<int64_t>(prev_tag);
    if (prev_size % 8 != 0 || prev_size < kMinBlockSize || block - kPoolHeaderSize < prev_size ||
        p.size_tag(block - static_cast<uint32_t>(prev_size)) != prev_tag) {
      return err::kPoolTags;
    }
  }
  const int32_t next_tag = p.size_tag(next);
  if (next_tag > 0) {
    if (next + static_cast<int64_t>(next_tag) > extent ||
        p.prev_tag(next + static_cast<uint32_t>(next_tag)) != next_tag) {
      return err::kPoolTags;
    }
  }

  uint32_t start = block;
  int32_t merged = static_cast<int32_t>(block_size);
  bool in_list = false;
  if (prev_tag > 0) {
    start = block - static_cast<uint32_t>(prev_tag);  // already on the free list
    merged += prev_tag;
    in_list = true;
    p.bump(kJoins);
  }
  if (next_tag > 0) {
    if (p.index_on() && p.in_tree(next)) p.tree_remove(next);
    p.unlink(next);
    merged += next_tag;
    p.bump(kJoins);
  }
  const uint32_t after = start + static_cast<uint32_t>(merged);
  if (after == extent) {
    // The merged block ends the carved part: hand it back to the uncarved
    // region. Its previous tag (an in-use block, or 0) stays.
    if (in_list) {
      if (p.index_on() && p.in_tree(start)) p.tree_remove(start);
      p.unlink(start);
    }
    if (p.fwd(kAnchor) == kAnchor) p.drop_index();
    p.set_size_tag(start, 0);
    p.set_u32(kExtent, start);
    p.set_i32(kUnextended, p.i32(kUnextended) + merged);
    p.bump(kReleases);
    p.recompute_used();
    return err::kOk;
  }
  if (!in_list) p.push_front(start);  // most recently released first
  p.set_size_tag(start, merged);
  p.set_prev_tag(after, merged);
  if (!p.index_on()) {
    // No index to keep.
  } else if (!in_list) {
    if (Pool::indexed(merged)) p.set_fresh(start);
    p.settle_front(start);
  } else if (Pool::indexed(prev_tag)) {
    if (p.in_tree(start)) p.grown(start, merged);  // grown in place
  } else {
    // A block too small for a node has grown into one: it joins the index
    // at its place on the list.
    p.tree_insert(start, p.indexed_before(start));
  }
  return err::kOk;
}

int16_t MEM_BUFFERLEN(const void* buffer, int32_t* length) {
  if (buffer == nullptr) return err::kNotPoolBuffer;
  const char* header = static_cast<const char*>(buffer) - kBlockHeaderSize;
  int32_t size_tag;
  std::memcpy(&size_tag, header + 4, sizeof size_tag);
  if (size_tag >= 0) return err::kNotPoolBuffer;
  int64_t block_size = -static_cast<int64_t>(size_tag);
  if (block_size < kMinBlockSize || block_size % 8 != 0) return err::kPoolTags;
  int32_t end_tag;
  std::memcpy(&end_tag, header + block_size, sizeof end_tag);
  if (end_tag != size_tag) return err::kPoolTags;
  if (length == nullptr) return err::kMissingParameter;
  *length = static_cast<int32_t>(block_size) - kBlockHeaderSize;
  return err::kOk;
}

namespace zeb::containers {

PoolStats pool_stats(void* pool) {
  Pool p(pool);
  PoolStats stats{};
  stats.elapsed = PROCESSOR_CLOCK() - p.i64(kResetTime);
  stats.alloc_requests = p.i64(kAllocRequests);
  stats.free_requests = p.i64(kFreeRequests);
  stats.splits = p.i64(kSplits);
  stats.extends = p.i64(kExtends);
  stats.whole_allocs = p.i64(kWholeAllocs);
  stats.joins = p.i64(kJoins);
  stats.releases = p.i64(kReleases);
  stats.used = p.i32(kUsed);
  stats.maxused = p.i32(kMaxused);
  stats.failsize = p.i32(kFailsize);
  return stats;
}

void reset_pool_stats(void* pool) {
  Pool p(pool);
  p.set_i64(kResetTime, PROCESSOR_CLOCK());
  for (uint32_t off = kAllocRequests; off <= kReleases; off += 8) p.set_i64(off, 0);
  int32_t carved = static_cast<int32_t>(p.extent()) - kPoolHeaderSize;
  p.set_i32(kUsed, carved);
  p.set_i32(kMaxused, carved);
  p.set_i32(kFailsize, 0);
}

}  // namespace zeb::containers

int16_t MEM_STATS(uint32_t mask, void* pool, PoolStats* stats, int16_t reset) {
  if (!zeb::mask_fits(mask, 3)) return err::kInvalidOperation;
  if (!zeb::present(mask, 1) || pool == nullptr) return err::kMissingParameter;
  if (zeb::present(mask, 2) && stats != nullptr) *stats = zeb::containers::pool_stats(pool);
  if (zeb::present(mask, 3) && reset != 0) zeb::containers::reset_pool_stats(pool);
  return err::kOk;
}
