// Which reader a path belongs to: by extension first, then by the file's first bytes.
#pragma once

#include <string>
#include <string_view>

namespace tarnwick {

enum class ArtifactKind { CatBoost, LightGBM, ONNX, PyTorch, TensorPlanJson, Safetensors, GGUF, Unknown };

std::string_view display_name(ArtifactKind kind);
// safetensors: a file, a `*.safetensors.index.json`, or a directory holding one.
// Never fails: an unreadable or unrecognised file without a known extension is Unknown.
ArtifactKind detect_artifact_kind(const std::string& path);

}  // namespace tarnwick
