// Writes safetensors files for tests: tensors laid end to end, a header padded with spaces.
#pragma once

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct SafetensorsTensor {
  std::string name;
  std::string dtype;  // header code, "F32"
  std::vector<std::uint64_t> shape;
  std::string bytes;
};

inline std::string u64_le(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

// Length, header and data exactly as given: for files that break the rules.
inline std::string safetensors_raw(const std::string& header, const std::string& data) {
  return u64_le(header.size()) + header + data;
}

// A valid file: tensors in the given order, header padded to a multiple of `alignment`.
inline std::string safetensors_file(const std::vector<SafetensorsTensor>& tensors,
                                    const nlohmann::ordered_json& metadata = nullptr, std::size_t alignment = 8) {
  nlohmann::ordered_json header = nlohmann::ordered_json::object();
  if (!metadata.is_null()) header["__metadata__"] = metadata;
  std::string data;
  for (const SafetensorsTensor& tensor : tensors) {
    header[tensor.name] = {{"dtype", tensor.dtype},
                           {"shape", tensor.shape},
                           {"data_offsets", {data.size(), data.size() + tensor.bytes.size()}}};
    data += tensor.bytes;
  }
  std::string text = header.dump();
  while (text.size() % alignment != 0) text.push_back(' ');
  return safetensors_raw(text, data);
}

// Bytes 0, 1, 2, ... as filler tensor contents.
inline std::string counting_bytes(std::size_t count, unsigned seed = 0) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>((i + seed) & 0xFF);
  return bytes;
}

}  // namespace tarnwick::testing
