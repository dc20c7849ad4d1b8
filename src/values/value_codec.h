// How the stored bytes of a dtype become values: plain little-endian elements (floats of every
// width, integers, bool) or ggml blocks, decoded into doubles a run at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "values/ggml_blocks.h"
#include "values/small_floats.h"
#include "values/value_stats.h"

namespace tarnwick {

class ValueCodec {
 public:
  // Nothing for a dtype whose values cannot be decoded (complex, strings, the torch quantized
  // types, ggml types without a layout here).
  static std::optional<ValueCodec> for_dtype(std::string_view dtype);

  // Elements and bytes of the smallest decodable unit: one element, or one ggml block.
  std::uint64_t unit_elements() const { return unit_elements_; }
  std::uint64_t unit_bytes() const { return unit_bytes_; }

  // A run of decoded values: float32 where that holds every value of the dtype exactly, else
  // float64; a pointer into `bytes` itself when they are aligned values of that width.
  struct Run {
    const float* floats = nullptr;
    const double* doubles = nullptr;
  };
  // Decodes `units` whole units from `bytes` (units x unit_elements values), into one of the
  // buffers when they must be converted; each holds as many values.
  Run decode_run(const unsigned char* bytes, std::uint64_t units, float* float_buffer, double* double_buffer) const;
  // Adds `units` whole units to `sums` without decoding each value, for the block types that
  // allow it; false when they do not (then `sums` is to be discarded and the units decoded).
  bool block_sums(const unsigned char* bytes, std::uint64_t units, ShiftedSums& sums) const;
  // The same values, always as doubles in `out`; `scratch` holds as many floats.
  void decode(const unsigned char* bytes, std::uint64_t units, double* out, float* scratch) const;

 private:
  enum class Kind { Float64, Float32, Float16, Bfloat16, Float8, Int64, Int32, Int16, Int8, Uint64, Uint32, Uint16, Uint8, Bool, Blocks };
  ValueCodec(Kind kind, std::uint64_t element_bytes) : kind_(kind), unit_elements_(1), unit_bytes_(element_bytes) {}

  Kind kind_;
  std::uint64_t unit_elements_;
  std::uint64_t unit_bytes_;
  const float* float8_ = nullptr;
  GgmlBlockLayout blocks_;
};

// Why `dtype` has no values to read: "dtype complex64 has no ordered values", ...
std::string undecodable_reason(std::string_view dtype);

}  // namespace tarnwick
