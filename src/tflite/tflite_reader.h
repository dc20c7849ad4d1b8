// The tensor table of a TFLite model: every tensor that holds data (weights and other
// constants) with its dtype, shape and buffer, and as metadata the model's subgraphs,
// operator counts, signature defs, metadata entries and quantization parameters.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Tensors of the first subgraph keep their names; those of another are "<subgraph>/<name>"
// (its name, or "subgraph<i>").
Result<TensorTable> read_tflite_table(const std::string& path);
Result<TensorTable> tflite_table_from_bytes(const std::string& path, std::string_view bytes);

}  // namespace tarnwick
