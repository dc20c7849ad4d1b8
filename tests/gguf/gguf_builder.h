// Writes GGUF files for tests: metadata key/values, tensor infos, aligned data.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

inline std::string gguf_le(std::uint64_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

class GgufBuilder {
 public:
  explicit GgufBuilder(std::uint32_t version = 3) : version_(version) {}

  // Sizes (string lengths, counts, dims) are 32-bit in version 1, 64-bit after.
  std::string size(std::uint64_t value) const { return gguf_le(value, version_ == 1 ? 4 : 8); }
  std::string str(const std::string& text) const { return size(text.size()) + text; }

  // A key with a value already encoded (type code, then the value bytes).
  GgufBuilder& kv(const std::string& key, std::uint32_t type, const std::string& value) {
    kvs_ += str(key) + gguf_le(type, 4) + value;
    ++kv_count_;
    return *this;
  }
  GgufBuilder& kv_u32(const std::string& key, std::uint32_t value) { return kv(key, 4, gguf_le(value, 4)); }
  GgufBuilder& kv_string(const std::string& key, const std::string& value) { return kv(key, 8, str(value)); }
  // An array: element type, count, then the encoded elements.
  std::string array(std::uint32_t element_type, std::uint64_t count, const std::string& elements) const {
    return gguf_le(element_type, 4) + size(count) + elements;
  }

  // A tensor with its data placed after the previous one at the alignment; `data` may be
  // shorter than the tensor (the file then ends early) when a test wants that.
  GgufBuilder& tensor(const std::string& name, const std::vector<std::uint64_t>& dims, std::uint32_t type,
                      const std::string& data) {
    while (data_.size() % alignment_ != 0) data_.push_back('\0');
    return tensor_at(name, dims, type, data_.size(), data);
  }
  // A tensor info with an explicit offset, its data appended as is.
  GgufBuilder& tensor_at(const std::string& name, const std::vector<std::uint64_t>& dims, std::uint32_t type,
                         std::uint64_t offset, const std::string& data) {
    infos_ += str(name) + gguf_le(dims.size(), 4);
    for (std::uint64_t dim : dims) infos_ += size(dim);
    infos_ += gguf_le(type, 4) + gguf_le(offset, 8);
    data_ += data;
    ++tensor_count_;
    return *this;
  }
  GgufBuilder& alignment(std::uint32_t value) {
    alignment_ = value;
    return kv_u32("general.alignment", value);
  }
  // Overrides the counts written in the header (hostile files).
  GgufBuilder& counts(std::uint64_t tensors, std::uint64_t kvs) {
    forced_tensor_count_ = tensors;
    forced_kv_count_ = kvs;
    return *this;
  }

  std::string header() const {
    return std::string("GGUF") + gguf_le(version_, 4) + size(forced_tensor_count_ ? *forced_tensor_count_ : tensor_count_) +
           size(forced_kv_count_ ? *forced_kv_count_ : kv_count_) + kvs_ + infos_;
  }
  std::string build() const {
    std::string file = header();
    while (file.size() % alignment_ != 0) file.push_back('\0');
    return file + data_;
  }

 private:
  std::uint32_t version_;
  std::string kvs_, infos_, data_;
  std::uint64_t kv_count_ = 0, tensor_count_ = 0;
  std::optional<std::uint64_t> forced_tensor_count_, forced_kv_count_;
  std::uint64_t alignment_ = 32;
};

}  // namespace tarnwick::testing
