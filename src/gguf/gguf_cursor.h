// Little-endian reads through the header region of a file, in windows read by position.
// Every length is checked against the bytes left before anything is read or allocated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/decode_budget.h"
#include "base/positioned_file.h"
#include "base/status.h"

namespace tarnwick {

class GgufCursor {
 public:
  explicit GgufCursor(std::unique_ptr<PositionedFile> file) : file_(std::move(file)), budget_(file_->size()) {}

  std::uint64_t position() const { return position_; }
  std::uint64_t size() const { return file_->size(); }
  std::uint64_t bytes_left() const { return file_->size() - position_; }

  // A view of the next `length` bytes, valid until the next call; fails past the end.
  Result<std::string_view> take(std::uint64_t length);
  Status skip(std::uint64_t length);
  Result<std::uint64_t> read_unsigned(int width);  // width 1, 2, 4 or 8 bytes
  // What the reader may decode from the whole file.
  DecodeBudget& budget() { return budget_; }

 private:
  std::unique_ptr<PositionedFile> file_;
  std::uint64_t position_ = 0;
  std::string window_;
  std::uint64_t window_start_ = 0;
  DecodeBudget budget_;
};

}  // namespace tarnwick
