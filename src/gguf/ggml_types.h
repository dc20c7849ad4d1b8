// The ggml tensor types a GGUF file may name: dtype name and block layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct GgmlType {
  std::uint32_t code = 0;
  std::string_view name;  // canonical for plain types ("float32"), lower-case ggml name otherwise
  std::uint64_t block_elements = 1;
  std::uint64_t block_bytes = 0;
};

std::optional<GgmlType> find_ggml_type(std::uint32_t code);
// The dtype name, or "unknown(<code>)" for a code outside the table.
std::string ggml_type_name(std::uint32_t code);

}  // namespace tarnwick
