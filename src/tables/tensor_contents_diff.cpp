#include "tables/tensor_contents_diff.h"

#include <map>
#include <utility>

#include "base/parallel.h"
#include "tables/content_hashing.h"

namespace tarnwick {

namespace {

// A name's k-th occurrence on one side pairs with its k-th on the other (ONNX subgraphs may
// repeat a name).
using Key = std::pair<std::string, std::size_t>;

std::map<Key, std::size_t> index_by_name(const TensorTable& table) {
  std::map<Key, std::size_t> index;
  std::map<std::string, std::size_t> seen;
  for (std::size_t i = 0; i < table.tensors.size(); ++i) {
    const std::string& name = table.tensors[i].name;
    index[{name, seen[name]++}] = i;
  }
  return index;
}

std::vector<Key> keys_in_order(const TensorTable& table) {
  std::vector<Key> keys;
  std::map<std::string, std::size_t> seen;
  for (const TensorEntry& tensor : table.tensors) keys.emplace_back(tensor.name, seen[tensor.name]++);
  return keys;
}

bool same_layout(const TensorEntry& a, const TensorEntry& b) { return a.dtype == b.dtype && a.shape == b.shape; }

std::string unreadable_text(const TensorEntry& tensor) {
  return tensor.unreadable_reason.value_or("its bytes were not read");
}

// Why the values of two tensors of one layout could not be compared, side by side.
std::string uncompared_reason(const TensorEntry& old_tensor, const TensorEntry& new_tensor) {
  if (!old_tensor.content_hash && !new_tensor.content_hash &&
      unreadable_text(old_tensor) == unreadable_text(new_tensor)) {
    return "both: " + unreadable_text(old_tensor);
  }
  std::string reason;
  if (!old_tensor.content_hash) reason = "old: " + unreadable_text(old_tensor);
  if (!new_tensor.content_hash) reason += (reason.empty() ? "new: " : "; new: ") + unreadable_text(new_tensor);
  return reason;
}

}  // namespace

Result<TensorContentsDiff> diff_tensor_tables(TensorTable& old_table, TensorTable& new_table) {
  std::map<Key, std::size_t> old_index = index_by_name(old_table);
  std::map<Key, std::size_t> new_index = index_by_name(new_table);
  std::vector<Key> old_keys = keys_in_order(old_table);
  std::vector<Key> new_keys = keys_in_order(new_table);

  std::vector<bool> hash_old(old_table.tensors.size(), false), hash_new(new_table.tensors.size(), false);
  for (std::size_t i = 0; i < old_keys.size(); ++i) {
    auto match = new_index.find(old_keys[i]);
    if (match != new_index.end() && same_layout(old_table.tensors[i], new_table.tensors[match->second])) {
      hash_old[i] = true;
      hash_new[match->second] = true;
    }
  }
  // The two sides are read and hashed at once: hashing, not reading, bounds the speed.
  ParallelTask old_side([&] { return fill_content_hashes(old_table, hash_old); });
  Status new_hashed = fill_content_hashes(new_table, hash_new);
  Status old_hashed = old_side.join();
  if (!old_hashed.is_ok()) return old_hashed.error();
  if (!new_hashed.is_ok()) return new_hashed.error();

  TensorContentsDiff diff;
  for (std::size_t i = 0; i < new_keys.size(); ++i) {
    if (!old_index.count(new_keys[i])) diff.added.push_back(&new_table.tensors[i]);
  }
  for (std::size_t i = 0; i < old_keys.size(); ++i) {
    const TensorEntry& old_tensor = old_table.tensors[i];
    auto match = new_index.find(old_keys[i]);
    if (match == new_index.end()) {
      diff.removed.push_back(&old_tensor);
      continue;
    }
    const TensorEntry& new_tensor = new_table.tensors[match->second];
    TensorChange change{&old_tensor, &new_tensor, {}};
    if (old_tensor.dtype != new_tensor.dtype) change.what.push_back("dtype");
    if (old_tensor.shape != new_tensor.shape) change.what.push_back("shape");
    // Values compare only between tensors of one layout: otherwise their bytes differ anyway.
    if (change.what.empty()) {
      if (!old_tensor.content_hash || !new_tensor.content_hash) {
        diff.uncompared.push_back({&old_tensor, &new_tensor, uncompared_reason(old_tensor, new_tensor)});
        continue;
      }
      if (*old_tensor.content_hash != *new_tensor.content_hash) change.what.push_back("values");
    }
    if (change.what.empty()) {
      ++diff.unchanged_count;
    } else {
      diff.changed.push_back(std::move(change));
    }
  }
  return diff;
}

}  // namespace tarnwick
