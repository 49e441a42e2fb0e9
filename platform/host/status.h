// The result of an operation of the library's typed core: success, or the
// library's own error number with a note of what failed. The mask-word
// procedures hand the number on as their 16-bit result; inside the library
// a Status is returned and must be looked at ([[nodiscard]]).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

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

// A value, or the status that stands in its way.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}          // NOLINT: implicit by design
  Result(Status status) : status_(std::move(status)) {}  // NOLINT: an error
  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  int16_t code() const { return status_.code(); }
  T& value() { return value_; }
  const T& value() const { return value_; }
  T& operator*() { return value_; }
  T* operator->() { return &value_; }

 private:
  T value_{};
  Status status_;
};

}  // namespace zeb::platform
