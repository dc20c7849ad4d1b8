// The tensor a `Constant` node holds: exporters put weights there instead of in initializers.
#pragma once

#include <optional>
#include <vector>

#include "base/status.h"
#include "onnx/onnx_tensor_proto.h"
#include "onnx/protobuf.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// The tensor of a Constant node (its `value`, `sparse_value`, `value_float(s)`, `value_int(s)`
// or `value_string(s)` attribute), named by the node's output; nullopt for any other node.
// Scalars and lists held in attributes become float32, int64 or string tensors, fingerprinted
// over their little-endian element bytes.
Result<std::optional<TensorEntry>> constant_node_tensor(const OnnxTensorSource& source,
                                                        const std::vector<ProtoField>& node_fields);

}  // namespace tarnwick
