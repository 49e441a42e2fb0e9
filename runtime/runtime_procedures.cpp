// ZEB_STARTUP, ZEB_LOG, ZEB_SHUTDOWN, ZEB_SHOWMEMSTATS and
// UTIL_ALLOCATESEGMENT: each checks its parameter mask, hands the parameters
// given to the runtime's typed core (runtime/runtime_core.h) and returns the
// status's error number.
#include <optional>

#include <zeb/platform/errors.h>
#include <zeb/platform/types.h>
#include <zeb/runtime/library_segment.h>
#include <zeb/runtime/runtime.h>
#include "runtime/runtime_core.h"

namespace err = zeb::err;
using zeb::present;

int16_t ZEB_STARTUP(uint32_t mask, int16_t pages, uint16_t flags, const char* lconf) {
  if (!zeb::mask_fits(mask, 3)) return err::kInvalidOperation;
  return zeb::runtime::start(present(mask, 1) ? pages : int16_t{1000},
                             present(mask, 2) ? std::optional<uint16_t>(flags) : std::nullopt,
                             present(mask, 3) ? lconf : nullptr)
      .code();
}

int16_t ZEB_LOG(uint32_t mask, const char* format, const void* a1, const void* a2, const void* a3,
                const void* a4, const void* a5, const void* a6, const void* a7, const void* a8,
                const void* a9, const void* a10, const void* a11, const void* a12) {
  if (!zeb::mask_fits(mask, 13)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  // Only the arguments the caller passed go on: one not marked in the mask
  // is never read.
  const void* args[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12};
  for (int n = 0; n < 12; ++n) {
    if (!present(mask, 2 + n)) args[n] = nullptr;
  }
  return zeb::runtime::log(format, args).code();
}

void ZEB_SHOWMEMSTATS() { zeb::runtime::show_pool_stats(); }

void ZEB_SHUTDOWN(uint32_t mask, int16_t code) {
  zeb::runtime::shut_down(present(mask, 1) ? code : int16_t{0});
}

int16_t UTIL_ALLOCATESEGMENT(uint32_t mask, void** base, int16_t pages, int16_t segment_id,
                             const char* swapfile) {
  if (!zeb::mask_fits(mask, 4)) return err::kInvalidOperation;
  zeb::platform::Result<void*> segment =
      zeb::runtime::allocate_segment(present(mask, 2) ? pages : zeb::kDefaultSegmentPages,
                                     present(mask, 3) ? segment_id : zeb::kLibrarySegmentId,
                                     present(mask, 4) ? swapfile : nullptr);
  if (!segment.ok()) return segment.code();
  if (present(mask, 1) && base != nullptr) *base = *segment;
  return err::kOk;
}
