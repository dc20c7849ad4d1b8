// Dense float32 tensors and the naive, timed operations of the tensor lab.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"

namespace tarnwick {

using Shape = std::vector<std::uint64_t>;

// The lab computes on small tensors; a result or a synthesised tensor larger than this is
// refused rather than allocated.
inline constexpr std::uint64_t kMaxTensorValues = std::uint64_t{1} << 24;

// "[2, 3]"; "[]" for a scalar shape.
std::string shape_text(const Shape& shape);
// Product of the dimensions (1 for an empty shape), wrapping like every count here.
std::uint64_t shape_product(const Shape& shape);
// The same, or nothing when it does not fit in 64 bits.
std::optional<std::uint64_t> checked_shape_product(const Shape& shape);

// The largest shape a plan may name: its float32 bytes still fit in 64 bits.
inline constexpr std::uint64_t kMaxShapeValues = std::uint64_t{1} << 62;

struct Tensor {
  Shape shape;
  std::vector<float> data;
  // Zeros not yet allocated: a plan that gives only shapes is analysed without its values, and
  // only the commands that compute allocate them (within their budget).
  bool deferred_zeros = false;

  // "shape {} expects {} values, got {}" when the data does not fill the shape.
  static Result<Tensor> create(Shape shape, std::vector<float> data);
  static Tensor zeros(const Shape& shape);
  static Tensor deferred(const Shape& shape) { return Tensor{shape, {}, true}; }
  std::uint64_t bytes() const {
    return 4 * (deferred_zeros ? shape_product(shape) : static_cast<std::uint64_t>(data.size()));
  }
  // This tensor with its values allocated.
  Tensor materialized() const { return deferred_zeros ? zeros(shape) : *this; }
};

struct OpResult {
  Tensor output;
  std::chrono::nanoseconds elapsed{0};
};

Result<OpResult> matmul(const Tensor& a, const Tensor& b);
Result<OpResult> add(const Tensor& a, const Tensor& b);
Result<OpResult> transpose2d(const Tensor& a);
OpResult scale(const Tensor& a, float factor);
OpResult relu(const Tensor& a);
OpResult gelu(const Tensor& a);
Result<OpResult> softmax(const Tensor& a);

// Milliseconds as seconds x 1000 + nanoseconds / 1000000.
double elapsed_ms(std::chrono::nanoseconds elapsed);
// "  {name} values:" with one "    [...]" line per row for rank 2, else one line; 4 decimals.
std::string format_values(const std::string& name, const Tensor& tensor);
// "[v0, v1, ...]" with four decimals each.
std::string flat_values(const std::vector<float>& values);

}  // namespace tarnwick
