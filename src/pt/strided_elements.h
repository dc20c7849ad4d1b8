// A tensor saved as a strided view of its storage (`x.t()`, `x[:, ::2]`), hashed over its
// logical elements in row-major order: the same XXH3-64 its contiguous copy's bytes give.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/positioned_file.h"
#include "base/status.h"

namespace tarnwick {

struct StridedView {
  std::uint64_t storage_start = 0;   // where the storage's bytes start in the file
  std::uint64_t storage_length = 0;  // its bytes
  std::uint64_t element_size = 0;
  std::uint64_t first_element = 0;   // the view's offset into the storage, in elements
  std::vector<std::uint64_t> shape;
  std::vector<std::int64_t> stride;  // in elements
};

// Nothing when an element lies outside the storage, or when the elements take more than
// `max_logical_bytes` (an expanded view of a small storage can name far more elements than the
// file holds bytes).
Result<std::optional<std::uint64_t>> hash_strided_view(const PositionedFile& file, const StridedView& view,
                                                       std::uint64_t max_logical_bytes);

}  // namespace tarnwick
