#pragma once

#include <string>
#include <utility>
#include <variant>

namespace shelvo::platform {

// What went wrong, in words fit for an operator.
struct Error {
  std::string message;
  int systemError = 0;    // the errno, or the platform status code, behind it
  std::string name = {};  // the error's name where the system gives one (a D-Bus error name)

  // "name: message", or the message alone.
  std::string fullDescription() const { return name.empty() ? message : name + ": " + message; }
};

// A value or the error that prevented it; the platform layer's way of
// reporting failures without exceptions. Dropping one unread is a compile warning; a drop that
// is meant says so with ignoreError().
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(state_); }
  // Drops the outcome on purpose, where a failure changes nothing the caller could do.
  void ignoreError() const {}

 private:
  std::variant<T, Error> state_;
};

struct Done {};
using Status = Result<Done>;
inline Status success() {
  return Done{};
}

}  // namespace shelvo::platform
