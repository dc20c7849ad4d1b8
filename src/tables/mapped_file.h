// A whole file mapped read-only. Reading straight from the page cache saves the copy that
// reads into a buffer would make, which is most of the cost of hashing or scanning values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  Status open(const std::string& path);

  std::string_view bytes() const { return {static_cast<const char*>(data_), size_}; }
  // The bytes of a range the readers checked against the file's size; a file that shrank
  // since then fails here rather than yielding part of a tensor.
  Result<std::string_view> range(const std::string& path, std::uint64_t offset, std::uint64_t length) const;

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace tarnwick
