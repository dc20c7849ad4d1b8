#include "gguf/gguf_cursor.h"

#include <algorithm>

namespace tarnwick {

namespace {

constexpr std::uint64_t kWindowBytes = 1 << 20;

Error past_end(std::uint64_t length, std::uint64_t position, std::uint64_t size) {
  return fail("a " + std::to_string(length) + "-byte read at offset " + std::to_string(position) +
              " runs past the end of the " + std::to_string(size) + "-byte file");
}

}  // namespace

Result<std::string_view> GgufCursor::take(std::uint64_t length) {
  if (length > bytes_left()) return past_end(length, position_, size());
  bool inside = position_ >= window_start_ && position_ - window_start_ <= window_.size() &&
                length <= window_.size() - (position_ - window_start_);
  if (!inside) {
    std::uint64_t read_length = std::min(std::max(length, kWindowBytes), bytes_left());
    Result<std::string> bytes = file_->read_at(position_, read_length);
    if (!bytes.is_ok()) return bytes.error();
    window_ = bytes.take();
    window_start_ = position_;
  }
  std::string_view view(window_);
  view = view.substr(static_cast<std::size_t>(position_ - window_start_), static_cast<std::size_t>(length));
  position_ += length;
  return view;
}

Status GgufCursor::skip(std::uint64_t length) {
  if (length > bytes_left()) return past_end(length, position_, size());
  position_ += length;
  return Status::ok();
}

Result<std::uint64_t> GgufCursor::read_unsigned(int width) {
  Result<std::string_view> bytes = take(static_cast<std::uint64_t>(width));
  if (!bytes.is_ok()) return bytes.error();
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes.value()[static_cast<std::size_t>(i)]);
  }
  return value;
}

}  // namespace tarnwick
