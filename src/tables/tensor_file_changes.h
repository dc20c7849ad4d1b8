// What changed between two tensor checkpoints: tensors matched by name, metadata by key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/feature_name_changes.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

struct TensorFileChanges {
  FeatureNameChanges names;                // tensors added and removed, ascending
  std::vector<std::string> dtype_changed;  // tensors on both sides, in old file order
  std::vector<std::string> shape_changed;
  std::vector<std::string> values_changed;  // same dtype and shape, different bytes
  std::uint64_t unchanged = 0;
  std::vector<std::string> metadata_added;  // keys, ascending
  std::vector<std::string> metadata_removed;
  std::vector<std::string> metadata_changed;
};

TensorFileChanges compare_tensor_files(const TensorFileSummary& old_model, const TensorFileSummary& new_model);
bool same_metadata(const TensorFileChanges& changes);

}  // namespace tarnwick
