// `diff --contents` of two tensor tables: tensors matched by name, compared by dtype, shape and
// a fingerprint of their bytes. Works across formats: the same tensors saved as safetensors
// and as a PyTorch checkpoint compare equal.
#pragma once

#include <cstdint>
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

struct TensorContentsDiff {
  std::vector<const TensorEntry*> added;    // new file order
  std::vector<const TensorEntry*> removed;  // old file order
  std::vector<TensorChange> changed;        // old file order
  std::uint64_t unchanged_count = 0;
  // Same dtype and shape, but a fingerprint is missing on one side (external ONNX data, say).
  std::uint64_t uncompared_count = 0;
};

// Hashes only the tensors present on both sides with the same dtype and shape.
Result<TensorContentsDiff> diff_tensor_tables(TensorTable& old_table, TensorTable& new_table);

// "dtype float16 -> float32, shape [2] -> [3]", "values changed".
std::string tensor_change_text(const TensorChange& change);

OrderedJson contents_diff_json(const TensorTable& old_table, const TensorTable& new_table,
                               const TensorContentsDiff& diff);
Status print_contents_diff(std::ostream& out, const TensorTable& old_table, const TensorTable& new_table,
                           const TensorContentsDiff& diff, std::uint64_t limit);

}  // namespace tarnwick
