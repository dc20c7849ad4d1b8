// What the profile knows about one tensor: element type, static shape, and for small integer
// tensors their values (the shape arithmetic of exported graphs runs on those).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tarnwick {

inline constexpr std::size_t kMaxTrackedValues = 64;

using Dims = std::vector<std::int64_t>;

// For arithmetic on dims and sizes taken from a file, which may sit near the 64-bit limits.
__extension__ typedef __int128 WideInt;
__extension__ typedef unsigned __int128 WideUnsigned;

struct KnownValue {
  std::optional<std::int32_t> elem_type;
  std::optional<Dims> shape;                      // every dim static and >= 0
  std::optional<std::vector<std::int64_t>> ints;  // row-major, for integer tensors of known shape
  std::optional<std::vector<double>> reals;       // floating tensors of known shape (scales)
  // A sequence of tensors has no shape of its own: the shape its elements share, and its length.
  bool is_sequence = false;
  std::optional<Dims> element_shape;
  std::optional<std::int64_t> sequence_length;
};

// Element types by their ONNX codes.
enum OnnxElem : std::int32_t {
  kFloat = 1,
  kUint8 = 2,
  kInt8 = 3,
  kInt32 = 6,
  kInt64 = 7,
  kBool = 9,
  kFloat16 = 10,
  kDouble = 11,
};

// Product of the dims, nullopt on overflow past 2^63.
std::optional<std::int64_t> dims_product(const Dims& dims);
// numpy broadcasting aligned from the right; nullopt on a mismatch.
std::optional<Dims> broadcast(const Dims& a, const Dims& b);
// A negative axis counts from the end; nullopt when outside [-rank, rank).
std::optional<std::size_t> normalize_axis(std::int64_t axis, std::size_t rank);

KnownValue shaped(std::optional<std::int32_t> elem_type, Dims shape);
KnownValue int_tensor(Dims shape, std::vector<std::int64_t> values);
// A 1-D int64 tensor holding `values`.
KnownValue int_vector(std::vector<std::int64_t> values);
bool is_integer_type(std::optional<std::int32_t> elem_type);
bool is_real_type(std::optional<std::int32_t> elem_type);

// Row-major position in `from` of the element at `flat` in the broadcast result `to`.
std::size_t broadcast_source(std::size_t flat, const Dims& to, const Dims& from);
// Row-major strides of `dims`.
std::vector<std::int64_t> strides_of(const Dims& dims);
// The element count of `shape` when it is small enough for its values to be carried.
std::optional<std::size_t> trackable_count(const Dims& shape);

}  // namespace tarnwick
