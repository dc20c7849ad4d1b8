// A read-only file read by position, never past what the file holds.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/status.h"

namespace tarnwick {

class PositionedFile {
 public:
  explicit PositionedFile(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  // A pipe cannot be read by position: its whole contents, read once, stand in for the file.
  explicit PositionedFile(std::string contents)
      : fd_(-1), size_(contents.size()), contents_(std::move(contents)), view_(*contents_) {}
  // Bytes already in memory (a mapped file, an archive member), read in place; they must outlive
  // the reader.
  static std::unique_ptr<PositionedFile> over(std::string_view bytes) {
    return std::unique_ptr<PositionedFile>(new PositionedFile(bytes));
  }
  ~PositionedFile();
  PositionedFile(const PositionedFile&) = delete;
  PositionedFile& operator=(const PositionedFile&) = delete;

  // "open {path}: {os error}" / "stat {path}: {os error}".
  static Result<std::unique_ptr<PositionedFile>> open(const std::string& path);

  std::uint64_t size() const { return size_; }
  // Exactly `length` bytes at `offset`: "seek: {}" or "read: {}" ("failed to fill whole buffer"
  // when the file ends first). A range past the end fails before any buffer is allocated.
  Result<std::string> read_at(std::uint64_t offset, std::uint64_t length) const;
  // One read of up to `length` bytes at the start; an error carries the OS reason.
  Result<std::string> read_prefix(std::size_t length) const;

 private:
  explicit PositionedFile(std::string_view bytes) : fd_(-1), size_(bytes.size()), view_(bytes) {}

  int fd_;
  std::uint64_t size_;
  std::optional<std::string> contents_;
  std::string_view view_;  // the bytes when there is no descriptor
};

}  // namespace tarnwick
