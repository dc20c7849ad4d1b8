// Read-only file access for the readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

// The bytes of a whole file: a read-only private mapping for a regular file, so memory stays
// at the file's size and nothing is copied; a buffer for anything else (pipes, devices).
class FileBytes {
 public:
  FileBytes() = default;
  explicit FileBytes(std::string buffer) : buffer_(std::move(buffer)), view_(buffer_) {}
  FileBytes(const void* mapping, std::size_t size);
  ~FileBytes();
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  std::string_view view() const { return view_; }
  std::size_t size() const { return view_.size(); }

 private:
  void release();
  std::string buffer_;
  const void* mapping_ = nullptr;
  std::string_view view_;
};

// What is read at most from a file that is not a regular file (whose size is not known ahead).
inline constexpr std::uint64_t kStreamReadLimit = std::uint64_t{256} << 20;

// The whole file; fails with "read {path}: {os error}", or "read {path}: more than 256 MiB
// from a file that is not a regular file" past `stream_limit` bytes of a pipe or device.
Result<FileBytes> read_whole_file(const std::string& path, std::uint64_t stream_limit = kStreamReadLimit);
// The first `limit` bytes of the file (fewer when it is shorter), read in one bounded loop; empty
// on any failure. A pipe or socket is only looked at: its bytes stay for the reader that follows.
std::string read_file_head(const std::string& path, std::size_t limit);
std::string os_error_text(int error_number);
// Fails before anything opens the file for a FIFO that has a name of its own ("read {path}: a
// named pipe is not read ...": opening one waits for a writer) and for a device ("read {path}: a
// device is not read": a terminal waits for input, a disk or /dev/zero never ends). Pipes handed
// over as descriptors (`<(...)`, /dev/stdin) are read as streams.
Status refuse_special_file(const std::string& path);

}  // namespace tarnwick
