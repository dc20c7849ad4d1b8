// Exact decoding of the narrow float formats: IEEE float16, bfloat16 and the float8 variants.
#pragma once

#include <cstdint>

namespace tarnwick {

float half_to_float(std::uint16_t bits);
float bfloat16_to_float(std::uint16_t bits);

enum class Float8Kind { E4M3FN, E5M2, E4M3FNUZ, E5M2FNUZ, E8M0 };

// The value of every byte of one float8 format, by table (NaN where the format says so).
const float* float8_table(Float8Kind kind);

}  // namespace tarnwick
