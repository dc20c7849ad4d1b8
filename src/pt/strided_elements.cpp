#include "pt/strided_elements.h"

#include <string>

#include "base/checked_math.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

// The highest element index the view reaches, relative to its first element.
std::optional<std::uint64_t> last_element(const StridedView& view) {
  std::uint64_t last = 0;
  for (std::size_t i = 0; i < view.shape.size(); ++i) {
    if (view.stride[i] < 0) return std::nullopt;
    std::optional<std::uint64_t> reach = checked_multiply(view.shape[i] - 1, static_cast<std::uint64_t>(view.stride[i]));
    std::optional<std::uint64_t> sum = reach ? checked_add(last, *reach) : std::nullopt;
    if (!sum) return std::nullopt;
    last = *sum;
  }
  return last;
}

// Walks the elements in row-major order, copying each innermost run into a buffer that is
// handed to the hash whenever it fills.
void gather(std::string_view span, const StridedView& view, Xxh3Stream& hash) {
  const std::size_t rank = view.shape.size();
  const std::uint64_t size = view.element_size;
  const std::uint64_t inner = rank == 0 ? 1 : view.shape[rank - 1];
  const std::uint64_t inner_stride = rank == 0 ? 1 : static_cast<std::uint64_t>(view.stride[rank - 1]);
  std::vector<std::uint64_t> index(rank, 0);
  std::string out;
  out.reserve(kFlushBytes);
  std::uint64_t base = 0;  // element offset of the current innermost run
  while (true) {
    if (inner_stride == 1) {
      out.append(span.substr(base * size, inner * size));
    } else {
      for (std::uint64_t i = 0; i < inner; ++i) out.append(span.substr((base + i * inner_stride) * size, size));
    }
    if (out.size() >= kFlushBytes) {
      hash.update(out);
      out.clear();
    }
    std::size_t dim = rank == 0 ? 0 : rank - 1;  // the odometer over the outer dimensions
    while (true) {
      if (dim == 0) {
        hash.update(out);
        return;
      }
      --dim;
      base += static_cast<std::uint64_t>(view.stride[dim]);
      if (++index[dim] < view.shape[dim]) break;
      base -= view.shape[dim] * static_cast<std::uint64_t>(view.stride[dim]);
      index[dim] = 0;
    }
  }
}

}  // namespace

Result<std::optional<std::uint64_t>> hash_strided_view(const PositionedFile& file, const StridedView& view,
                                                       std::uint64_t max_logical_bytes) {
  std::uint64_t numel = 1;
  for (std::uint64_t dim : view.shape) {
    if (dim == 0) return std::optional<std::uint64_t>(xxh3_64({}));
    std::optional<std::uint64_t> next = checked_multiply(numel, dim);
    if (!next) return std::optional<std::uint64_t>();
    numel = *next;
  }
  std::optional<std::uint64_t> logical = checked_multiply(numel, view.element_size);
  if (!logical || *logical > max_logical_bytes || view.element_size == 0) return std::optional<std::uint64_t>();
  std::optional<std::uint64_t> last = last_element(view);
  std::optional<std::uint64_t> end = last ? checked_add(view.first_element, *last + 1) : std::nullopt;
  std::optional<std::uint64_t> end_byte = end ? checked_multiply(*end, view.element_size) : std::nullopt;
  if (!end_byte || *end_byte > view.storage_length) return std::optional<std::uint64_t>();
  std::uint64_t first_byte = view.first_element * view.element_size;
  Result<std::string> span = file.read_at(view.storage_start + first_byte, *end_byte - first_byte);
  if (!span.is_ok()) return span.error();
  Xxh3Stream hash;
  gather(span.value(), view, hash);
  return std::optional<std::uint64_t>(hash.digest());
}

}  // namespace tarnwick
