// One-block DES encipherment (the Data Encryption Standard, FIPS PUB 46)
// under a caller's 8-byte key, with a caller-owned key-schedule cache.
//
// A block is 8 bytes, changed in place; bit 1 of the standard is the most
// significant bit of the first byte. The low bit of each key byte (parity) is
// not used, so keys that differ only there give the same output. Each call
// handles exactly one block; chaining, padding and conversion to text are
// the caller's.
//
// The cache lets a caller encipher many blocks under one key while the key
// schedule is computed once: a call whose key equals the cache's key copy
// uses the cached round keys; any other key replaces the cache contents.
// The cache belongs to the caller and is not locked: threads that share one
// must serialise their calls; threads with caches of their own need nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include <zeb/platform/export.h>

// The key-schedule cache: 104 bytes.
//
// A cache must start empty: either filled with zeros (which is also the
// exact schedule of the all-zero key, so no key can be misread from it) or
// marked empty with zeb::des_cache_clear, which stores a pattern of round
// keys that no key produces, so the first call always computes the schedule.
// An area of arbitrary bytes whose key copy equals the key would be taken as
// scheduled.
struct DesKeyCache {
  uint8_t key[8];              // the key whose round keys the cache holds
  uint16_t round_keys[16][3];  // K1 to K16, 48 bits each, most significant word first
};
static_assert(sizeof(DesKeyCache) == 104);
static_assert(offsetof(DesKeyCache, round_keys) == 8);

// Enciphers block (8 bytes) in place under key (8 bytes); cache is a
// DesKeyCache (104 bytes).
ZEB_EXPORT void UTIL_ENCODE(void* block, const void* key, void* cache);

// Deciphers block (8 bytes) in place under key (8 bytes); cache is a
// DesKeyCache (104 bytes).
ZEB_EXPORT void UTIL_DECODE(void* block, const void* key, void* cache);

namespace zeb {

// Marks cache (104 bytes) empty, so that the next call computes the key
// schedule whatever its key.
ZEB_EXPORT void des_cache_clear(void* cache);

// True when cache holds no schedule (as des_cache_clear leaves it).
ZEB_EXPORT bool des_cache_empty(const void* cache);

}  // namespace zeb
