// The key-sequenced file procedure of keyfile.h: a mask-word adapter over
// the files room's typed core.
#include <zeb/platform/keyfile.h>

#include <optional>

#include <zeb/platform/errors.h>
#include "platform/files/files.h"

using zeb::present;
namespace err = zeb::err;

int16_t KEYPOSITIONX(uint32_t mask, int16_t filenum, const void* key_value, int16_t key_specifier,
                     int16_t length_word, int16_t positioning_mode) {
  if (!zeb::mask_fits(mask, 5)) return err::kInvalidOperation;
  if (!present(mask, 1)) return err::kMissingParameter;
  const char* key = present(mask, 2) ? static_cast<const char*>(key_value) : nullptr;
  return zeb::platform::position_by_key(
             filenum, key, present(mask, 4) ? std::optional<int16_t>(length_word) : std::nullopt,
             present(mask, 5) ? positioning_mode : zeb::kPositionApproximate,
             present(mask, 3) ? key_specifier : 0)
      .code();
}
