// DEFINE look-ups through their index: the same answers a walk of the
// configuration gives, and changes to the configuration seen at once.
#include "platform/names/defines.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/host/host.h"
#include "platform/testing/testing.h"

namespace {

using zeb::platform::Configuration;
using zeb::platform::define_file;
using zeb::platform::ScopedHost;

// The FILE of a DEFINE, or "#<error>".
std::string file_of(std::string name) {
  name.resize(24, ' ');
  auto file = define_file(name.c_str());
  if (file.ok()) return *file;
  std::string error = "#";
  error += std::to_string(file.code());
  return error;
}

TEST(Defines, ExactSpellingFirstThenAnyCaseInEntryOrder) {
  ScopedHost host(Configuration::from_entries({
      "ZEB_DEFINE_mixed=$a.b.lower",
      "ZEB_DEFINE_MIXED=$a.b.upper",
      "ZEB_DEFINE_Other=$a.b.first",
      "ZEB_DEFINE_oTHER=$a.b.second",
      "ZEB_DEFINE_EQ=$a.b.c=d",
      "ZEB_DEFINE_EQ=$a.b.later",
      "zeb_define_LOW=$a.b.prefix",
      "ZEB_DEFINE_NOVALUE",
  }));
  struct {
    const char* name;
    const char* file;
  } cases[] = {
      {"=mixed", "$a.b.upper"},  // the upper-case spelling is exact
      {"=other", "$a.b.first"},  // no exact spelling: the first in any case
      {"=eq", "$a.b.c=d"},       // the value is everything after the first "="
      {"=low", "#198"},          // the prefix is matched as spelled
      {"=novalue", "#198"},      // an entry without "=" names nothing
      {"=none", "#198"},        {"=bad name", "#13"},
  };
  for (const auto& c : cases) EXPECT_EQ(file_of(c.name), c.file) << c.name;
}

TEST(Defines, ChangesToTheConfigurationAreSeenAtOnce) {
  ScopedHost host(Configuration::from_entries({"ZEB_DEFINE_A=$v.s.one"}));
  EXPECT_EQ(file_of("=a"), "$v.s.one");
  EXPECT_EQ(file_of("=b"), "#198");
  zeb::testing::set_variable("ZEB_DEFINE_B", "$v.s.two");
  zeb::testing::set_variable("ZEB_DEFINE_A", "$v.s.three");
  EXPECT_EQ(file_of("=a"), "$v.s.three");
  EXPECT_EQ(file_of("=b"), "$v.s.two");
  zeb::testing::set_variable("ZEB_DEFINE_A", std::nullopt);
  EXPECT_EQ(file_of("=a"), "#198");
}

}  // namespace
