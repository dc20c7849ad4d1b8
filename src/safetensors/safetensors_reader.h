// safetensors checkpoints: one file, a sharded checkpoint's index, or a directory holding one.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Every layout rule is enforced; offsets are absolute in the file holding each tensor.
Result<TensorTable> read_safetensors_table(const std::string& path);
// A directory holding one index, or else one safetensors file.
bool directory_holds_safetensors(const std::string& path);
// One file, with its `__metadata__` strings as the metadata.
Result<TensorTable> read_safetensors_file(const std::string& path);
// One file's bytes in memory, named `name` in messages.
Result<TensorTable> read_safetensors_bytes(std::string_view bytes, const std::string& name);

inline constexpr std::uint64_t kSafetensorsHeaderCap = 100'000'000;

}  // namespace tarnwick
