#include "numpy/npy_elements.h"

#include <algorithm>

namespace tarnwick {

void swap_to_little_endian(std::string& bytes, std::uint64_t itemsize, bool complex) {
  std::uint64_t unit = complex ? itemsize / 2 : itemsize;
  if (unit <= 1) return;
  for (std::uint64_t at = 0; at + unit <= bytes.size(); at += unit) {
    std::reverse(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.begin() + static_cast<std::ptrdiff_t>(at + unit));
  }
}

std::string fortran_to_c_order(const std::string& bytes, const std::vector<std::uint64_t>& shape,
                               std::uint64_t itemsize) {
  std::string ordered(bytes.size(), '\0');
  if (bytes.empty()) return ordered;
  // Fortran strides, in elements: the first dim is contiguous.
  std::vector<std::uint64_t> strides(shape.size(), 1);
  for (std::size_t d = 1; d < shape.size(); ++d) strides[d] = strides[d - 1] * shape[d - 1];
  std::vector<std::uint64_t> index(shape.size(), 0);
  std::uint64_t source = 0;
  for (std::uint64_t out = 0; out < bytes.size(); out += itemsize) {
    std::copy_n(bytes.data() + source * itemsize, itemsize, ordered.data() + out);
    // The next C-order index: the last dim counts fastest.
    for (std::size_t d = shape.size(); d-- > 0;) {
      if (++index[d] < shape[d]) {
        source += strides[d];
        break;
      }
      source -= strides[d] * (shape[d] - 1);
      index[d] = 0;
    }
  }
  return ordered;
}

}  // namespace tarnwick
