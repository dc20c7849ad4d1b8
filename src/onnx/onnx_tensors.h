// Every initializer of an ONNX model, subgraphs (If, Loop, Scan bodies) included, as a tensor table.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// raw_data gives a byte range in the file; typed fields (float_data, int64_data, ...) are
// turned into little-endian element bytes and fingerprinted at once; external data has no
// offset and no fingerprint.
Result<TensorTable> read_onnx_tensor_table(const std::string& path);
Result<TensorTable> onnx_tensor_table_from_bytes(const std::string& path, std::string_view bytes);

}  // namespace tarnwick
