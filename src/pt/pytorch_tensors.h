// Every tensor of a PyTorch checkpoint (zip or legacy), decoded without executing the pickle.
#pragma once

#include <string>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Format "pytorch-zip" or "pytorch-legacy"; names are key paths joined with ".".
Result<TensorTable> read_pytorch_tensor_table(const std::string& path);

}  // namespace tarnwick
