// Errors are values: a command or a reader either succeeds or carries one message.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tarnwick {

struct Error {
  std::string message;
};

inline Error fail(std::string message) { return Error{std::move(message)}; }

// Outcome of a command: success, or one human-readable message.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error.message)) {}
  static Status ok() { return Status(); }

  bool is_ok() const { return !error_.has_value(); }
  const std::string& message() const { return *error_; }
  Error error() const { return Error{*error_}; }

 private:
  std::optional<std::string> error_;
};

// A value or an error message, as returned by the readers.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool is_ok() const { return state_.index() == 0; }
  T& value() { return std::get<0>(state_); }
  const T& value() const { return std::get<0>(state_); }
  T take() { return std::move(std::get<0>(state_)); }
  const std::string& message() const { return std::get<1>(state_).message; }
  Error error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace tarnwick
