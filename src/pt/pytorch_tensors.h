// Every tensor of a PyTorch checkpoint (zip or legacy), decoded without executing the pickle.
#pragma once

#include <string>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Format "pytorch-zip" or "pytorch-legacy"; names are key paths joined with ".".
Result<TensorTable> read_pytorch_tensor_table(const std::string& path);
// As above; on failure `cut_short` tells whether the file ends before what it declares (a pickle
// without its STOP, a storage past the end, a zip end record cut short): torch refuses such files.
Result<TensorTable> read_pytorch_tensor_table(const std::string& path, bool& cut_short);

}  // namespace tarnwick
