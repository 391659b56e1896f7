#pragma once

#include <cerrno>
#include <string>
#include <utility>
#include <variant>

namespace shelvo::platform {

// What kind of failure an error is, so that callers ask "not found?" instead of comparing
// numbers. Signing is a code-signing status (its number is then no errno).
enum class ErrorKind { other, notFound, denied, invalid, unavailable, timedOut, signing };

constexpr ErrorKind errorKindOfErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:  // a component of the path is no folder: nothing is there either
    case ESRCH:
      return ErrorKind::notFound;
    case EACCES:
    case EPERM:
      return ErrorKind::denied;
    case EINVAL:
    case E2BIG:
    case ENAMETOOLONG:
    case ELOOP:
    case EFBIG:
      return ErrorKind::invalid;
    case EAGAIN:
    case EBUSY:
    case EPIPE:
    case ECONNREFUSED:
    case ECONNRESET:
    case ENOTCONN:
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
      return ErrorKind::unavailable;
    case ETIMEDOUT:
      return ErrorKind::timedOut;
    default:
      return ErrorKind::other;
  }
}

// What went wrong, in words fit for an operator.
struct Error {
  std::string message;
  int systemError = 0;    // the errno, or the code-signing status, behind it
  std::string name = {};  // the error's name where the system gives one (a D-Bus error name)
  ErrorKind kind = errorKindOfErrno(systemError);  // set explicitly where the number is no errno

  bool is(ErrorKind expected) const { return kind == expected; }

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
