// GGUF files (versions 1 to 3): metadata key/values and the tensor directory, never the data.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Shapes in stored order (dims[0] innermost); offsets absolute in the file.
Result<TensorTable> read_gguf_table(const std::string& path);
// The same from bytes in memory, named `name` in messages.
Result<TensorTable> read_gguf_bytes(std::string_view bytes, const std::string& name);

}  // namespace tarnwick
