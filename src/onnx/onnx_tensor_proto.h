// One ONNX TensorProto (or SparseTensorProto) as a tensor-table entry: dtype, shape, its own bytes,
// and where those bytes are (a range of the model file, a range of an external data file, or
// typed fields turned into little-endian element bytes and fingerprinted at once).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct OnnxTensorSource {
  std::string path;                 // the model file
  std::string_view file;            // its bytes; every TensorProto handed in is a view into them
  std::filesystem::path model_dir;  // where external data files are looked up
};

// The entry takes the TensorProto's own name.
Result<TensorEntry> tensor_proto_entry(const OnnxTensorSource& source, std::string_view tensor_proto);

// A sparse tensor: its dense dtype, shape and element count; as bytes, the stored values and
// indices; its fingerprint is XXH3-64 over the values' element bytes followed by the indices'.
// The entry takes the values' name.
Result<TensorEntry> sparse_tensor_entry(const OnnxTensorSource& source, std::string_view sparse_proto);

}  // namespace tarnwick
