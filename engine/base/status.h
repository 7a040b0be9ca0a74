#ifndef ENGINE_BASE_STATUS_H_
#define ENGINE_BASE_STATUS_H_

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace pklfix {

enum class ErrorCode {
  NotFound,
  AlreadyExists,
  Io,
  NoSpace,
  BadHeader,
  InvalidArgument,
  // A change record of an older form, whose rows have fewer cells.
  OlderRecord,
};

// A failed file operation. The message names the file, the operation and the
// system's reason, so it can be shown to a user as it stands.
struct Error {
  ErrorCode code = ErrorCode::Io;
  std::string message;
};

// Success, or the Error that prevented it.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return !error_.has_value(); }
  const Error& error() const {
    assert(error_);
    return *error_;
  }

 private:
  std::optional<Error> error_;
};

// A value, or the Error that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : state_(std::move(error)) {}  // NOLINT: implicit by design

  bool ok() const { return std::holds_alternative<T>(state_); }
  T& value() {
    assert(ok());
    return std::get<T>(state_);
  }
  const T& value() const {
    assert(ok());
    return std::get<T>(state_);
  }
  const Error& error() const {
    assert(!ok());
    return std::get<Error>(state_);
  }

 private:
  std::variant<T, Error> state_;
};

}  // namespace pklfix

#endif  // ENGINE_BASE_STATUS_H_
