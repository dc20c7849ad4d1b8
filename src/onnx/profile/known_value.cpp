#include "onnx/profile/known_value.h"

#include <algorithm>

namespace tarnwick {

std::optional<std::int64_t> dims_product(const Dims& dims) {
  std::int64_t count = 1;
  for (std::int64_t dim : dims) {
    if (dim < 0 || __builtin_mul_overflow(count, dim, &count)) return std::nullopt;
  }
  return count;
}

std::optional<Dims> broadcast(const Dims& a, const Dims& b) {
  std::size_t rank = std::max(a.size(), b.size());
  Dims result(rank);
  for (std::size_t k = 0; k < rank; ++k) {
    std::int64_t da = k < rank - a.size() ? 1 : a[k - (rank - a.size())];
    std::int64_t db = k < rank - b.size() ? 1 : b[k - (rank - b.size())];
    if (da == db || db == 1) {
      result[k] = da;
    } else if (da == 1) {
      result[k] = db;
    } else {
      return std::nullopt;
    }
  }
  return result;
}

std::optional<std::size_t> normalize_axis(std::int64_t axis, std::size_t rank) {
  auto signed_rank = static_cast<std::int64_t>(rank);
  if (axis < -signed_rank || axis >= signed_rank) return std::nullopt;
  return static_cast<std::size_t>(axis < 0 ? axis + signed_rank : axis);
}

KnownValue shaped(std::optional<std::int32_t> elem_type, Dims shape) {
  KnownValue value;
  value.elem_type = elem_type;
  value.shape = std::move(shape);
  return value;
}

KnownValue int_tensor(Dims shape, std::vector<std::int64_t> values) {
  KnownValue value = shaped(kInt64, std::move(shape));
  value.ints = std::move(values);
  return value;
}

KnownValue int_vector(std::vector<std::int64_t> values) {
  Dims shape{static_cast<std::int64_t>(values.size())};
  return int_tensor(std::move(shape), std::move(values));
}

bool is_integer_type(std::optional<std::int32_t> elem_type) {
  if (!elem_type) return false;
  switch (*elem_type) {
    case 2: case 3: case 4: case 5: case 6: case 7: case 9: case 12: case 13: return true;
    default: return false;
  }
}

bool is_real_type(std::optional<std::int32_t> elem_type) {
  return elem_type && (*elem_type == kFloat || *elem_type == kDouble || *elem_type == kFloat16 || *elem_type == 16);
}

std::size_t broadcast_source(std::size_t flat, const Dims& to, const Dims& from) {
  std::size_t source = 0, stride = 1;
  for (std::size_t k = 0; k < to.size(); ++k) {
    std::size_t axis = to.size() - 1 - k;
    std::size_t index = flat % static_cast<std::size_t>(to[axis]);
    flat /= static_cast<std::size_t>(to[axis]);
    if (k < from.size()) {
      std::size_t from_axis = from.size() - 1 - k;
      std::size_t dim = static_cast<std::size_t>(from[from_axis]);
      source += (dim == 1 ? 0 : index) * stride;
      stride *= dim;
    }
  }
  return source;
}

std::vector<std::int64_t> strides_of(const Dims& dims) {
  std::vector<std::int64_t> strides(dims.size(), 1);
  for (std::size_t k = dims.size(); k > 1; --k) strides[k - 2] = strides[k - 1] * dims[k - 1];
  return strides;
}

std::optional<std::size_t> trackable_count(const Dims& shape) {
  std::optional<std::int64_t> count = dims_product(shape);
  if (!count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return std::nullopt;
  return static_cast<std::size_t>(*count);
}

}  // namespace tarnwick
