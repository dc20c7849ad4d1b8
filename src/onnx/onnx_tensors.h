// Every tensor an ONNX model holds, subgraphs (If, Loop, Scan bodies) included, as a tensor
// table: initializers, sparse initializers and the tensors of Constant nodes (named by the
// node's output).
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// raw_data gives a byte range in the file; typed fields (float_data, int64_data, ...) and
// attribute values are turned into little-endian element bytes and fingerprinted at once;
// external data gives a byte range in the file named by its location, beside the model. An
// external tensor whose file is missing, short or outside the model's folder keeps a reason
// instead.
Result<TensorTable> read_onnx_tensor_table(const std::string& path);
Result<TensorTable> onnx_tensor_table_from_bytes(const std::string& path, std::string_view bytes);

}  // namespace tarnwick
