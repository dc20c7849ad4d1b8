// Errors are values: a command or a reader either succeeds or carries one message.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tarnwick {

struct Error {
  std::string message;
  int exit_status = 1;  // what the process exits with when this error ends the command
};

inline Error fail(std::string message) { return Error{std::move(message)}; }
// An error that ends the process with another status than 1 (`scan`: 2 for a usage error or a
// file that could not be read, so a gate tells "could not check" from "found something").
inline Error fail_with_status(std::string message, int exit_status) { return Error{std::move(message), exit_status}; }

// Outcome of a command: success, or one human-readable message.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}
  static Status ok() { return Status(); }

  bool is_ok() const { return !error_.has_value(); }
  const std::string& message() const { return error_->message; }
  Error error() const { return *error_; }
  // 0 on success, else the error's exit status.
  int exit_status() const { return error_ ? error_->exit_status : 0; }

 private:
  std::optional<Error> error_;
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
