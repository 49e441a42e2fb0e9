// DEFINEINFO (define.h): a mask-free adapter over the names room's DEFINEs.
#include <zeb/platform/define.h>

#include <cstring>
#include <string>

#include <zeb/platform/errors.h>
#include "platform/names/defines.h"

namespace err = zeb::err;

namespace {

void put_padded(char* area, const char* text) {
  std::memset(area, ' ', 16);
  std::memcpy(area, text, std::strlen(text));
}

}  // namespace

int16_t DEFINEINFO(const char* define_name, char* define_class, char* attribute_name,
                   char* attribute_value, int16_t max_length, int16_t* value_length) {
  if (define_name == nullptr || attribute_value == nullptr || value_length == nullptr) {
    return err::kMissingParameter;
  }
  zeb::platform::Result<std::string> value = zeb::platform::define_file(define_name);
  if (!value.ok()) return value.code();
  size_t length = value->size();
  if (length > static_cast<size_t>(max_length < 0 ? 0 : max_length)) return err::kOutOfBounds;
  if (define_class != nullptr) put_padded(define_class, "MAP");
  if (attribute_name != nullptr) put_padded(attribute_name, "FILE");
  std::memcpy(attribute_value, value->data(), length);
  *value_length = static_cast<int16_t>(length);
  return err::kOk;
}
