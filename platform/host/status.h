// The result of an operation of the library's typed core: success, or the
// library's own error number with a note of what failed. The mask-word
// procedures hand the number on as their 16-bit result; inside the library
// a Status is returned and must be looked at ([[nodiscard]]).
#pragma once

#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <zeb/platform/errors.h>

namespace zeb::platform {

class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;
  // The error number code (0 is success) and, optionally, what failed, in
  // words an operator can act on ("open /var/lib/x").
  static Status error(int16_t code, std::string_view what = {}) { return Status(code, what); }
  // The error number nearest to errno value e (the one errno table).
  static Status from_errno(int e, std::string_view what = {});

  bool ok() const { return code_ == 0; }
  int16_t code() const { return code_; }
  const std::string& what() const { return what_; }
  // "error 11 (open /x)", or "ok".
  std::string to_string() const;

  // For a caller that goes on whatever the outcome; the call site says why
  // in a comment.
  void ignore() const {}

 private:
  Status(int16_t code, std::string_view what) : code_(code), what_(what) {}
  int16_t code_ = 0;
  std::string what_;
};

// Ends the process after a line on standard error naming the status of a
// Result whose missing value was asked for.
[[noreturn]] void no_value(const Status& status);

// A value, or the status that stands in its way: never both, never neither.
// An error holds no T at all (no T is made for it), and value() on an error
// is a fault of the caller's, which ends the process with a line saying so
// rather than hand on a value that was never made.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit by design
  // An error. A success status stands for no value, which is a fault of the
  // caller's: it becomes the internal error (and trips the assertion in a
  // debug build), never a result that claims a value it lacks.
  Result(Status status) : status_(std::move(status)) {  // NOLINT: an error
    assert(!status_.ok() && "a Result is built from an error, never from success");
    if (status_.ok()) status_ = Status::error(zeb::err::kInternalError, "a result without a value");
  }
  bool ok() const { return value_.has_value(); }
  const Status& status() const { return status_; }
  int16_t code() const { return status_.code(); }
  T& value() & { return checked(); }
  const T& value() const& { return const_cast<Result*>(this)->checked(); }
  T&& value() && { return std::move(checked()); }
  T& operator*() { return checked(); }
  const T& operator*() const { return const_cast<Result*>(this)->checked(); }
  T* operator->() { return &checked(); }
  const T* operator->() const { return &const_cast<Result*>(this)->checked(); }

 private:
  T& checked() {
    if (!value_) no_value(status_);
    return *value_;
  }
  std::optional<T> value_;
  Status status_;
};

}  // namespace zeb::platform
