// GGUF files (versions 1 to 3): metadata key/values and the tensor directory, never the data.
#pragma once

#include <string>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Shapes in stored order (dims[0] innermost); offsets absolute in the file.
Result<TensorTable> read_gguf_table(const std::string& path);

}  // namespace tarnwick
