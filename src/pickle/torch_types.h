// Torch's storage classes and dtype attributes, by the names a pickle imports them under.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct TorchDtype {
  std::string_view dtype;  // canonical name
  std::uint64_t element_size;
};

// `FloatStorage` -> float32 (4 bytes); nothing for a class outside torch's list.
std::optional<TorchDtype> storage_class_dtype(std::string_view class_name);
// `float32`, `float`, `half`, ... (the attributes of the torch module) -> canonical dtype.
std::optional<TorchDtype> torch_dtype_attribute(std::string_view attribute);
// Element size of a canonical dtype name; nothing for an unknown one.
std::optional<std::uint64_t> dtype_element_size(std::string_view dtype);

}  // namespace tarnwick
