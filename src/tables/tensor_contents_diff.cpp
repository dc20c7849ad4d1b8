#include "tables/tensor_contents_diff.h"

#include <algorithm>
#include <map>
#include <utility>

#include "base/file_read.h"
#include "base/text.h"

#include "base/parallel.h"
#include "tables/content_hashing.h"

namespace tarnwick {

namespace {

// A name's k-th occurrence on one side pairs with its k-th on the other (ONNX subgraphs may
// repeat a name).
using Key = std::pair<std::string, std::size_t>;

// The name a tensor is matched by: an old name through the rename map, a new name as it is.
const std::string& matched_name(const TensorEntry& tensor, const std::map<std::string, std::string>& renames) {
  auto renamed = renames.find(tensor.name);
  return renamed == renames.end() ? tensor.name : renamed->second;
}

std::vector<Key> keys_in_order(const TensorTable& table, const std::map<std::string, std::string>& renames = {}) {
  std::vector<Key> keys;
  std::map<std::string, std::size_t> seen;
  for (const TensorEntry& tensor : table.tensors) {
    const std::string& name = matched_name(tensor, renames);
    keys.emplace_back(name, seen[name]++);
  }
  return keys;
}

std::map<Key, std::size_t> index_of(const std::vector<Key>& keys) {
  std::map<Key, std::size_t> index;
  for (std::size_t i = 0; i < keys.size(); ++i) index[keys[i]] = i;
  return index;
}

// Two tables whose files order dims differently (GGUF against the others) compare shapes with
// the outermost dimension first.
struct Sides {
  const TensorTable& old_table;
  const TensorTable& new_table;

  bool same_shape(const TensorEntry& a, const TensorEntry& b) const {
    if (old_table.dims_innermost_first == new_table.dims_innermost_first) return a.shape == b.shape;
    return logical_shape(old_table, a) == logical_shape(new_table, b);
  }
  bool same_layout(const TensorEntry& a, const TensorEntry& b) const { return a.dtype == b.dtype && same_shape(a, b); }
};

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

// Pairs each removed tensor with the first added one of the same fingerprint, dtype and shape.
void pair_by_content(TensorContentsDiff& diff, const Sides& sides) {
  std::vector<const TensorEntry*> removed, added = diff.added;
  for (const TensorEntry* old_tensor : diff.removed) {
    auto match = std::find_if(added.begin(), added.end(), [&](const TensorEntry* new_tensor) {
      return old_tensor->content_hash && new_tensor->content_hash &&
             *old_tensor->content_hash == *new_tensor->content_hash && sides.same_layout(*old_tensor, *new_tensor);
    });
    if (match == added.end()) {
      removed.push_back(old_tensor);
      continue;
    }
    diff.renamed.push_back({old_tensor, *match});
    added.erase(match);
  }
  diff.removed = std::move(removed);
  diff.added = std::move(added);
}

}  // namespace

std::vector<std::uint64_t> logical_shape(const TensorTable& table, const TensorEntry& tensor) {
  if (!table.dims_innermost_first) return tensor.shape;
  return {tensor.shape.rbegin(), tensor.shape.rend()};
}

Result<TensorContentsDiff> diff_tensor_tables(TensorTable& old_table, TensorTable& new_table,
                                              const ContentsDiffOptions& options) {
  std::vector<Key> old_keys = keys_in_order(old_table, options.renames);
  std::vector<Key> new_keys = keys_in_order(new_table);
  std::map<Key, std::size_t> old_index = index_of(old_keys);
  std::map<Key, std::size_t> new_index = index_of(new_keys);
  const Sides sides{old_table, new_table};

  std::vector<bool> hash_old(old_table.tensors.size(), false), hash_new(new_table.tensors.size(), false);
  for (std::size_t i = 0; i < old_keys.size(); ++i) {
    auto match = new_index.find(old_keys[i]);
    if (match != new_index.end() && sides.same_layout(old_table.tensors[i], new_table.tensors[match->second])) {
      hash_old[i] = true;
      hash_new[match->second] = true;
    } else if (match == new_index.end() && options.match_by_content) {
      hash_old[i] = true;
    }
  }
  if (options.match_by_content) {
    for (std::size_t i = 0; i < new_keys.size(); ++i) {
      if (!old_index.count(new_keys[i])) hash_new[i] = true;
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
    if (!sides.same_shape(old_tensor, new_tensor)) change.what.push_back("shape");
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
  if (options.match_by_content) pair_by_content(diff, sides);
  return diff;
}

Result<std::map<std::string, std::string>> read_rename_map(const std::string& path) {
  Result<FileBytes> file = read_whole_file(path);
  if (!file.is_ok()) return fail("--map: " + file.message());
  std::map<std::string, std::string> renames;
  std::size_t line_number = 0;
  std::string_view text = file.value().view();
  while (!text.empty()) {
    std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++line_number;
    std::vector<std::string_view> words = split_whitespace(line);
    if (words.empty() || words.front().starts_with("#")) continue;
    if (words.size() != 2) {
      return fail("--map " + path + " line " + std::to_string(line_number) + ": expected an old name and a new name");
    }
    if (!renames.emplace(std::string(words[0]), std::string(words[1])).second) {
      return fail("--map " + path + " line " + std::to_string(line_number) + ": " + std::string(words[0]) +
                  " is mapped twice");
    }
  }
  return renames;
}

}  // namespace tarnwick
