#include "pt/pytorch_tensors.h"

namespace tarnwick {

// Placeholder until the pickle machine lands.
Result<TensorTable> read_pytorch_tensor_table(const std::string& path) {
  return fail("contents of PyTorch checkpoints is not available yet: " + path);
}

}  // namespace tarnwick
