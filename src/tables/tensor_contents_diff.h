// `diff --contents` of two tensor tables: tensors matched by name, compared by dtype, shape and
// a fingerprint of their bytes. Works across formats: the same tensors saved as safetensors
// and as a PyTorch checkpoint compare equal.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "base/json_output.h"
#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

struct TensorChange {
  const TensorEntry* old_tensor = nullptr;
  const TensorEntry* new_tensor = nullptr;
  std::vector<std::string> what;  // "dtype", "shape", "values"
};

// Same name, dtype and shape on both sides, but the values of one side could not be read.
struct UncomparedTensor {
  const TensorEntry* old_tensor = nullptr;
  const TensorEntry* new_tensor = nullptr;
  std::string reason;  // "new: external data file \"w.bin\" not found"
};

// A tensor of the old file paired with one of another name in the new file.
struct RenamedTensor {
  const TensorEntry* old_tensor = nullptr;
  const TensorEntry* new_tensor = nullptr;
};

struct TensorContentsDiff {
  std::vector<const TensorEntry*> added;    // new file order
  std::vector<const TensorEntry*> removed;  // old file order
  std::vector<TensorChange> changed;        // old file order
  std::uint64_t unchanged_count = 0;  // compared and equal; never the uncompared ones
  std::vector<UncomparedTensor> uncompared;  // old file order
  // Old tensors left unmatched by name that pair up with an added tensor of equal fingerprint
  // (with `match_by_content`); they count as neither removed, added nor unchanged.
  std::vector<RenamedTensor> renamed;  // old file order
};

struct ContentsDiffOptions {
  // Old name -> the new name it is matched against (`--map`); other names match themselves.
  std::map<std::string, std::string> renames;
  bool match_by_content = false;
};

// The shape with the outermost dimension first, whatever the file's own order.
std::vector<std::uint64_t> logical_shape(const TensorTable& table, const TensorEntry& tensor);

// Hashes only the tensors present on both sides with the same dtype and shape (and, to match by
// content, the removed and added ones).
Result<TensorContentsDiff> diff_tensor_tables(TensorTable& old_table, TensorTable& new_table,
                                              const ContentsDiffOptions& options = {});

// Reads a `--map` file: one "old-name new-name" pair a line, blank lines and lines starting
// with '#' skipped.
Result<std::map<std::string, std::string>> read_rename_map(const std::string& path);

// The name of a matched pair: "w", or "old.w -> new.w" when the names differ.
std::string pair_name(const TensorEntry& old_tensor, const TensorEntry& new_tensor);

// "dtype float16 -> float32, shape [2] -> [3]", "values changed".
std::string tensor_change_text(const TensorChange& change);

// With `show_renames`, the document and report list the renamed tensors.
OrderedJson contents_diff_json(const TensorTable& old_table, const TensorTable& new_table,
                               const TensorContentsDiff& diff, bool show_renames = false);
Status print_contents_diff(std::ostream& out, const TensorTable& old_table, const TensorTable& new_table,
                           const TensorContentsDiff& diff, std::uint64_t limit, bool show_renames = false);

}  // namespace tarnwick
