#include "main/tensor_table_source.h"

#include "gguf/gguf_reader.h"
#include "onnx/onnx_tensors.h"
#include "pt/pytorch_tensors.h"
#include "safetensors/safetensors_reader.h"

namespace tarnwick {

bool holds_tensors(ArtifactKind kind) {
  return kind == ArtifactKind::PyTorch || kind == ArtifactKind::Safetensors || kind == ArtifactKind::GGUF ||
         kind == ArtifactKind::ONNX;
}

Result<TensorTable> read_tensor_table(const std::string& path, ArtifactKind kind) {
  Result<TensorTable> table = fail("not a tensor file: " + path);
  switch (kind) {
    case ArtifactKind::PyTorch: table = read_pytorch_tensor_table(path); break;
    case ArtifactKind::Safetensors: table = read_safetensors_table(path); break;
    case ArtifactKind::GGUF: table = read_gguf_table(path); break;
    case ArtifactKind::ONNX: table = read_onnx_tensor_table(path); break;
    default: break;
  }
  if (table.is_ok()) table.value().path = path;
  return table;
}

}  // namespace tarnwick
