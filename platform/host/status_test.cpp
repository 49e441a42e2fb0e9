// Status and Result: a result holds its value or the error in its way,
// never both and never neither, and a missing value is never handed on.
#include "platform/host/status.h"

#include <gtest/gtest.h>

#include <string>

namespace zeb::platform {
namespace {

// A type that cannot be made without a value, and counts what is made.
struct Counted {
  explicit Counted(int v) : value(v) { ++made; }
  Counted(const Counted& other) : value(other.value) { ++made; }
  Counted(Counted&& other) noexcept : value(other.value) { ++made; }
  int value;
  static inline int made = 0;
};

TEST(Result, HoldsAValueOrAnErrorNeverBoth) {
  Counted::made = 0;
  Result<Counted> failed = Status::error(11, "open /x");
  EXPECT_EQ(Counted::made, 0);  // an error makes no value
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(failed.code(), 11);
  EXPECT_EQ(failed.status().to_string(), "error 11 (open /x)");

  Result<Counted> good = Counted(7);
  EXPECT_TRUE(good.ok());
  EXPECT_EQ(good.code(), 0);
  EXPECT_EQ(good->value, 7);
  EXPECT_EQ(good.value().value, 7);

  // Asking a failed result for its value ends the process with a line that
  // names the error, whichever way it is asked.
  struct {
    const char* how;
    void (*ask)(Result<Counted>&);
  } asks[] = {
      {"value()", [](Result<Counted>& r) { (void)r.value().value; }},
      {"operator*", [](Result<Counted>& r) { (void)(*r).value; }},
      {"operator->", [](Result<Counted>& r) { (void)r->value; }},
  };
  for (const auto& a : asks) {
    EXPECT_DEATH(a.ask(failed), "value of a failed result was used \\(error 11 \\(open /x\\)\\)")
        << a.how;
  }
}

// A result built from success would claim a value it does not have: a debug
// build stops at once, any other turns it into the internal error.
TEST(Result, IsNeverBuiltFromSuccess) {
#ifdef NDEBUG
  Result<int> r = Status();
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.code(), 53);
#else
  EXPECT_DEATH({ Result<int> r = Status(); }, "never from success");
#endif
}

}  // namespace
}  // namespace zeb::platform
