// ZEB_EXPORT marks a public procedure of the library. The library's sources
// are compiled with hidden symbol visibility, so that in the shared libzeb
// only the procedures declared in the public headers are exported; in the
// static archives the mark changes nothing. ELF needs no import decoration,
// so the same header serves both builds and the users of either, with no
// definition for a user to set.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define ZEB_EXPORT __attribute__((visibility("default")))
#else
#define ZEB_EXPORT
#endif
