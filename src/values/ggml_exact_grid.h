// The arithmetic the block statistics kernels share: a block's two half scales put on one
// integer grid, so that each of its values is a whole number of grid steps, and the exact
// figures of a block added to running sums.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>

#include "values/value_stats.h"

namespace tarnwick::exact_grid {

#define TARNWICK_GRID_INLINE __attribute__((always_inline)) inline

// Values below 2^24 grid steps are exact in float32.
constexpr std::int64_t kExactUnits = std::int64_t{1} << 24;
constexpr int kNoExponent = 1 << 20;

// A half's value as mantissa * 2^exponent with the mantissa odd; zero has kNoExponent.
struct HalfParts {
  std::int64_t mantissa = 0;
  int exponent = kNoExponent;
};

TARNWICK_GRID_INLINE bool half_parts(const unsigned char* bytes, HalfParts& parts) {
  const unsigned bits = static_cast<unsigned>(bytes[0] | (bytes[1] << 8));
  const int biased = static_cast<int>((bits >> 10) & 31);
  unsigned mantissa = bits & 1023;
  if (biased == 31) return false;
  int exponent = -24;
  if (biased != 0) {
    mantissa |= 1024;
    exponent = biased - 25;
  }
  if (mantissa == 0) {
    parts = HalfParts{};
    return true;
  }
  const int trailing = std::countr_zero(mantissa);
  const auto odd = static_cast<std::int64_t>(mantissa >> trailing);
  parts.mantissa = (bits & 0x8000) != 0 ? -odd : odd;
  parts.exponent = exponent + trailing;
  return true;
}

TARNWICK_GRID_INLINE double power_of_two(int exponent) {
  return std::bit_cast<double>(static_cast<std::uint64_t>(exponent + 1023) << 52);
}

// The block's two scales as integers a and b on one grid of step 2^e, so that a value
// d * s * q - dmin * m is (a * s * q - b * m) steps. Fails unless every such value, with
// s * q up to `a_reach` and m up to `b_reach`, stays below 2^24 steps: then each is exact in
// float32, whatever order ggml rounded it in.
struct Grid {
  std::int64_t a = 0, b = 0;
  double step = 1;
  double inverse_step = 1;
};

TARNWICK_GRID_INLINE bool common_grid(const HalfParts& d, const HalfParts& dmin, std::int64_t a_reach,
                                      std::int64_t b_reach, Grid& grid) {
  int exponent = d.exponent < dmin.exponent ? d.exponent : dmin.exponent;
  if (exponent == kNoExponent) exponent = 0;
  auto widen = [exponent](const HalfParts& parts, std::int64_t& out) {
    if (parts.mantissa == 0) {
      out = 0;
      return true;
    }
    const int shift = parts.exponent - exponent;
    if (shift > 24) return false;
    out = parts.mantissa * (std::int64_t{1} << shift);
    return true;
  };
  if (!widen(d, grid.a) || !widen(dmin, grid.b)) return false;
  if (std::llabs(grid.a) * a_reach + std::llabs(grid.b) * b_reach >= kExactUnits) return false;
  grid.step = power_of_two(exponent);
  grid.inverse_step = power_of_two(-exponent);
  return true;
}

// A block of `n` values whose sum is `units` grid steps and whose squared deviations from its
// mean sum to `spread` / n steps squared (both exact), added to the chunk's sums.
TARNWICK_GRID_INLINE void add_block(ShiftedSums& sums, int n, std::int64_t units, std::uint64_t spread, double step) {
  const double count = n;
  const double mean = static_cast<double>(units) * step / count;
  const double m2 = static_cast<double>(spread) * step * step / count;
  if (sums.shift != sums.shift) sums.shift = mean;
  const double delta = mean - sums.shift;
  sums.sum += count * delta;
  sums.squares += m2 + count * delta * delta;
  sums.count += static_cast<std::uint64_t>(n);
}

// A block's exact figures, kept so that a kernel can add a run of blocks to its sums after
// forming them all: the float64 steps of one block then do not wait on the integer steps of the
// next, nor hold them up.
struct BlockFigures {
  std::int64_t units = 0;
  std::uint64_t spread = 0;
  double step = 1;
};

// Blocks a kernel forms before adding them.
constexpr std::uint64_t kBlockRun = 32;

TARNWICK_GRID_INLINE void add_blocks(ShiftedSums& sums, int n, const BlockFigures* figures, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) add_block(sums, n, figures[i].units, figures[i].spread, figures[i].step);
}

}  // namespace tarnwick::exact_grid
