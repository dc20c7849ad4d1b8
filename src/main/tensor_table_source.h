// The tensor table of a model file, from the reader of its kind.
#pragma once

#include <string>

#include "main/artifact_kind.h"
#include "main/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

bool holds_tensors(ArtifactKind kind);
// `kind` must be one that holds tensors; the table's path is `path` as given.
Result<TensorTable> read_tensor_table(const std::string& path, ArtifactKind kind);

}  // namespace tarnwick
