// Exact decoding of the narrow float formats: IEEE float16, bfloat16 and the float8 variants.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace tarnwick {

// Inline: the block dequantizers call it for every scale.
inline float half_to_float(std::uint16_t bits) {
  const std::uint32_t sign = static_cast<std::uint32_t>(bits & 0x8000) << 16;
  const int exponent = (bits >> 10) & 0x1F;
  const std::uint32_t mantissa = bits & 0x3FF;
  if (exponent == 0x1F) return std::bit_cast<float>(sign | 0x7F800000u | (mantissa << 13));
  if (exponent == 0) {
    float magnitude = std::ldexp(static_cast<float>(mantissa), -24);
    return sign != 0 ? -magnitude : magnitude;
  }
  return std::bit_cast<float>(sign | (static_cast<std::uint32_t>(exponent - 15 + 127) << 23) | (mantissa << 13));
}

inline float bfloat16_to_float(std::uint16_t bits) { return std::bit_cast<float>(static_cast<std::uint32_t>(bits) << 16); }

enum class Float8Kind { E4M3FN, E5M2, E4M3FNUZ, E5M2FNUZ, E8M0 };

// The value of every byte of one float8 format, by table (NaN where the format says so).
const float* float8_table(Float8Kind kind);

}  // namespace tarnwick
