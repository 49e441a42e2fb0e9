// The environment's typed accessors: the PARAM store by string views, the
// PARAM and IN file look-ups, beyond what the ENV_ procedures' tests reach.
#include "env/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include <zeb/platform/errors.h>
#include "env/test_env.h"

namespace {

namespace env = zeb::env;
namespace err = zeb::err;
using zeb::test::TestEnv;

TEST(Environment, ParamsByView) {
  TestEnv e;
  const std::string longest(255, 'v'), too_long(256, 'n');
  struct Case {
    std::string_view name, value;
    int16_t error;
  } adds[] = {
      {"count", "12", err::kOk},          {"ratio", "x1", err::kOk},
      {"wide", longest, err::kOk},        {std::string_view("nul\0in", 6), "a", err::kOk},
      {too_long, "1", err::kOutOfBounds}, {"n", too_long, err::kOutOfBounds},
      {"Count", "-3", err::kOk},  // replaces COUNT
  };
  for (const Case& c : adds) EXPECT_EQ(env::add_param(*e.get(), c.name, c.value).code(), c.error);

  struct Lookup {
    const char* key;
    int16_t value_error;
    std::string value;
    int16_t number_error;
    int32_t number;
  } lookups[] = {
      {"COUNT", err::kOk, "-3", err::kOk, -3},
      {"=ratio", err::kOk, "X1", err::kBadNumber, 0},
      {"wide", err::kOk, std::string(255, 'V'), err::kBadNumber, 0},
      {"missing", err::kNotFound, "", err::kNotFound, 0},
      {nullptr, err::kNotFound, "", err::kNotFound, 0},
  };
  for (const Lookup& l : lookups) {
    SCOPED_TRACE(l.key != nullptr ? l.key : "(null)");
    auto value = env::param_value(*e.get(), l.key);
    EXPECT_EQ(value.code(), l.value_error);
    if (value.ok()) {
      EXPECT_EQ(*value, l.value);
    }
    auto number = env::param_number(*e.get(), l.key);
    EXPECT_EQ(number.code(), l.number_error);
    if (number.ok()) {
      EXPECT_EQ(*number, l.number);
    }
  }
}

TEST(Environment, InFileNeedsTheStartUpMessage) {
  TestEnv without(1 << 16, 0);
  EXPECT_EQ(env::in_file(*without.get()).code(), err::kNoStartup);

  TestEnv with;
  with.startup(zeb::test::startup_message("$VOL", "SUB", "$TERM", "$OUT", "text"));
  auto in = env::in_file(*with.get());
  ASSERT_TRUE(in.ok());
  EXPECT_EQ(std::string(in->data(), in->size()), zeb::test::pad("$TERM", 24));
  auto resolved = env::resolve_name(*with.get(), in->data());
  ASSERT_TRUE(resolved.ok()) << resolved.status().to_string();
  EXPECT_EQ(resolved->external_text(), "$TERM");
  EXPECT_EQ(env::resolve_name(*with.get(), nullptr).code(), err::kMissingParameter);
}

}  // namespace
