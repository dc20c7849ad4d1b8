#include "tables/tensor_file_changes.h"

#include <unordered_map>

namespace tarnwick {

namespace {

using ValueHashes = std::map<std::string, std::uint64_t>;

// Keys by the hash of their values; `prefix` leads each key listed.
void compare_values(const ValueHashes& old_hashes, const ValueHashes& new_hashes, std::string_view prefix,
                    TensorFileChanges& changes) {
  for (const auto& [key, hash] : old_hashes) {
    auto found = new_hashes.find(key);
    if (found == new_hashes.end()) {
      changes.metadata_removed.push_back(std::string(prefix) + key);
    } else if (found->second != hash) {
      changes.metadata_changed.push_back(std::string(prefix) + key);
    }
  }
  for (const auto& [key, hash] : new_hashes) {
    if (!old_hashes.count(key)) changes.metadata_added.push_back(std::string(prefix) + key);
  }
}

// The file's metadata, then the config beside it.
void compare_metadata(const TensorFileSummary& old_model, const TensorFileSummary& new_model,
                      TensorFileChanges& changes) {
  compare_values(old_model.metadata_value_hashes, new_model.metadata_value_hashes, "", changes);
  compare_values(old_model.config_value_hashes, new_model.config_value_hashes, kConfigKeyPrefix, changes);
}

}  // namespace

TensorFileChanges compare_tensor_files(const TensorFileSummary& old_model, const TensorFileSummary& new_model) {
  TensorFileChanges changes;
  changes.names = feature_name_changes(tensor_names(old_model), tensor_names(new_model));
  std::unordered_map<std::string_view, const TensorEntry*> new_by_name;
  for (const TensorEntry& tensor : new_model.tensors) new_by_name.emplace(tensor.name, &tensor);
  for (const TensorEntry& old_tensor : old_model.tensors) {
    auto found = new_by_name.find(old_tensor.name);
    if (found == new_by_name.end()) continue;
    const TensorEntry& new_tensor = *found->second;
    bool dtype = old_tensor.dtype != new_tensor.dtype;
    bool shape = old_tensor.shape != new_tensor.shape;
    if (dtype) changes.dtype_changed.push_back(old_tensor.name);
    if (shape) changes.shape_changed.push_back(old_tensor.name);
    if (dtype || shape) continue;
    if (old_tensor.content_hash != new_tensor.content_hash) {
      changes.values_changed.push_back(old_tensor.name);
    } else {
      ++changes.unchanged;
    }
  }
  compare_metadata(old_model, new_model, changes);
  return changes;
}

bool same_metadata(const TensorFileChanges& changes) {
  return changes.metadata_added.empty() && changes.metadata_removed.empty() && changes.metadata_changed.empty();
}

}  // namespace tarnwick
