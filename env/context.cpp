// The library context at the base of the library segment.
#include <zeb/env/context.h>

#include <zeb/platform/segment.h>

namespace zeb {

char* library_base() { return platform::segment_base(); }

LibraryContext* library_context() {
  // Only the library's own segment holds the context; while a program has
  // another segment in use, the base shows that segment instead.
  if (platform::segment_in_use() != kLibrarySegmentId) return nullptr;
  if (platform::segment_in_use_size() < static_cast<int32_t>(sizeof(LibraryContext))) {
    return nullptr;
  }
  return reinterpret_cast<LibraryContext*>(library_base());
}

uint32_t to_segment_offset(const void* address) {
  if (address == nullptr) return 0;
  const char* base = library_base();
  const char* p = static_cast<const char*>(address);
  return static_cast<uint32_t>(p - base);
}

void* from_segment_offset(uint32_t offset) {
  if (offset == 0) return nullptr;
  return library_base() + offset;
}

namespace {
void* field(uint32_t LibraryContext::*member) {
  LibraryContext* c = library_context();
  return c != nullptr ? from_segment_offset(c->*member) : nullptr;
}
}  // namespace

void* library_pool() { return field(&LibraryContext::pool); }
void* library_env() { return field(&LibraryContext::env); }
void* library_timers() { return field(&LibraryContext::timers); }
void* library_term() { return field(&LibraryContext::term); }

uint16_t library_flags() {
  LibraryContext* c = library_context();
  return c != nullptr ? c->flags : 0;
}

}  // namespace zeb
