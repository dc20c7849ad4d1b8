// The safetensors dtype codes: canonical name and bits per element.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct SafetensorsDtype {
  std::string_view code;  // as written in the header, "F32"
  std::string_view name;  // canonical, "float32"
  std::uint32_t bits = 0;
};

std::optional<SafetensorsDtype> find_safetensors_dtype(std::string_view code);
// The header code of a canonical dtype name, for writers; nothing for a name safetensors lacks.
std::optional<SafetensorsDtype> safetensors_dtype_for_name(std::string_view name);

}  // namespace tarnwick
