#include "values/ggml_block_sums.h"

#include "values/vectorised.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "values/ggml_exact_grid.h"
#include "values/small_floats.h"

namespace tarnwick {

static_assert(std::endian::native == std::endian::little, "q is read four bytes to a lane");

namespace {

using namespace exact_grid;

#define TARNWICK_INLINE __attribute__((always_inline)) inline

constexpr int kLanes = 16;
using Floats = float __attribute__((vector_size(4 * kLanes)));
using Ints = int __attribute__((vector_size(4 * kLanes)));

// Extremes and zeros of a chunk's values, kept lane by lane until its end.
struct ChunkLanes {
  Floats low = Floats{} + std::numeric_limits<float>::infinity();
  Floats high = Floats{} - std::numeric_limits<float>::infinity();
  Ints zeros = {};

  // Four runs at a time, reduced among themselves first, so that no long chain of dependent
  // operations sets the pace.
  TARNWICK_INLINE void add(const Floats (&values)[4]) {
    const Floats low01 = values[0] < values[1] ? values[0] : values[1];
    const Floats low23 = values[2] < values[3] ? values[2] : values[3];
    const Floats high01 = values[0] > values[1] ? values[0] : values[1];
    const Floats high23 = values[2] > values[3] ? values[2] : values[3];
    const Floats lowest = low01 < low23 ? low01 : low23, highest = high01 > high23 ? high01 : high23;
    low = lowest < low ? lowest : low;
    high = highest > high ? highest : high;
    zeros -= ((values[0] == 0) + (values[1] == 0)) + ((values[2] == 0) + (values[3] == 0));
  }

  void finish(ShiftedSums& sums) const {
    for (int lane = 0; lane < kLanes; ++lane) {
      const double lowest = static_cast<double>(low[lane]), highest = static_cast<double>(high[lane]);
      sums.low = lowest < sums.low ? lowest : sums.low;
      sums.high = highest > sums.high ? highest : sums.high;
      sums.zeros += static_cast<std::uint64_t>(zeros[lane]);
    }
  }
};

// The sum of lanes holding integers whose total stays below 2^31, halving the lanes each step.
TARNWICK_INLINE std::int64_t lane_total(Floats lanes) {
  using Ints8 = int __attribute__((vector_size(32)));
  using Ints4 = int __attribute__((vector_size(16)));
  const Ints whole = __builtin_convertvector(lanes, Ints);
  const Ints8 eight = __builtin_shufflevector(whole, whole, 0, 1, 2, 3, 4, 5, 6, 7) +
                      __builtin_shufflevector(whole, whole, 8, 9, 10, 11, 12, 13, 14, 15);
  const Ints4 four = __builtin_shufflevector(eight, eight, 0, 1, 2, 3) + __builtin_shufflevector(eight, eight, 4, 5, 6, 7);
  return (four[0] + four[1]) + (four[2] + four[3]);
}

// The eight 6-bit scales and then the eight 6-bit mins of a q4_k/q5_k block, one to a lane.
TARNWICK_INLINE void scales_and_mins_k4(const unsigned char* q, Ints& out) {
  std::uint32_t words[3];
  std::memcpy(words, q, sizeof words);
  constexpr std::uint32_t kLow6 = 0x3f3f3f3f, kLow4 = 0x0f0f0f0f, kLow2 = 0x03030303;
  const Ints packed = {static_cast<int>(words[0] & kLow6),
                       static_cast<int>((words[2] & kLow4) | (((words[0] >> 6) & kLow2) << 4)),
                       static_cast<int>(words[1] & kLow6),
                       static_cast<int>(((words[2] >> 4) & kLow4) | (((words[1] >> 6) & kLow2) << 4))};
  const Ints spread = __builtin_shufflevector(packed, packed, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3);
  const Ints shifts = {0, 8, 16, 24, 0, 8, 16, 24, 0, 8, 16, 24, 0, 8, 16, 24};
  out = (spread >> shifts) & 0xFF;
}

// q4_k: half d; half dmin; u8 scales[12]; u8 qs[128]. Sub-block j (32 values) is
// d * scale_j * q - dmin * min_j, its q the low nibbles of 32 bytes for even j, the high for odd.
TARNWICK_INLINE bool q4_k_block(const unsigned char* x, ChunkLanes& lanes, ShiftedSums& sums) {
  HalfParts d, dmin;
  if (!half_parts(x, d) || !half_parts(x + 2, dmin)) return false;
  Grid grid;
  if (!common_grid(d, dmin, 63 * 15, 63, grid)) return false;
  const float d_value = half_to_float(static_cast<std::uint16_t>(x[0] | (x[1] << 8)));
  const float min_value = half_to_float(static_cast<std::uint16_t>(x[2] | (x[3] << 8)));
  Ints scales_mins_whole;
  scales_and_mins_k4(x + 4, scales_mins_whole);
  const Floats scales_mins = __builtin_convertvector(scales_mins_whole, Floats);
  // The 128 bytes of q as 16 lanes of four bytes, twice: lanes 0-7 of the first load hold the
  // bytes of sub-blocks 0 and 1 (low and high nibbles), lanes 8-15 those of 2 and 3, and so on.
  // Order does not matter to sums and extremes, so each lane takes its sub-block's scales.
  // Lane sums of scale * q, scale^2 * q^2, scale * min * q, min and min^2 are integers below
  // 2^24: exact.
  Floats by_scale = {}, by_scale_squared = {}, by_scale_min = {}, by_min = {}, by_min_squared = {};
  auto group = [&](Ints words, Floats scale, Floats min, int nibble) {
    const Floats d1 = d_value * scale, m1 = min_value * min;
    Floats q[4], values[4];
    for (int byte = 0; byte < 4; ++byte) {
      q[byte] = __builtin_convertvector((words >> (8 * byte + 4 * nibble)) & 0xF, Floats);
      values[byte] = d1 * q[byte] - m1;
    }
    lanes.add(values);
    const Floats q_sum = (q[0] + q[1]) + (q[2] + q[3]);
    const Floats q_squares = (q[0] * q[0] + q[1] * q[1]) + (q[2] * q[2] + q[3] * q[3]);
    by_scale += scale * q_sum;
    by_scale_squared += scale * scale * q_squares;
    by_scale_min += scale * min * q_sum;
    by_min += min;
    by_min_squared += min * min;
  };
  Ints words;
  std::memcpy(&words, x + 16, sizeof words);
  group(words, __builtin_shufflevector(scales_mins, scales_mins, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2),
        __builtin_shufflevector(scales_mins, scales_mins, 8, 8, 8, 8, 8, 8, 8, 8, 10, 10, 10, 10, 10, 10, 10, 10), 0);
  group(words, __builtin_shufflevector(scales_mins, scales_mins, 1, 1, 1, 1, 1, 1, 1, 1, 3, 3, 3, 3, 3, 3, 3, 3),
        __builtin_shufflevector(scales_mins, scales_mins, 9, 9, 9, 9, 9, 9, 9, 9, 11, 11, 11, 11, 11, 11, 11, 11), 1);
  std::memcpy(&words, x + 80, sizeof words);
  group(words, __builtin_shufflevector(scales_mins, scales_mins, 4, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 6, 6, 6, 6, 6),
        __builtin_shufflevector(scales_mins, scales_mins, 12, 12, 12, 12, 12, 12, 12, 12, 14, 14, 14, 14, 14, 14, 14, 14), 0);
  group(words, __builtin_shufflevector(scales_mins, scales_mins, 5, 5, 5, 5, 5, 5, 5, 5, 7, 7, 7, 7, 7, 7, 7, 7),
        __builtin_shufflevector(scales_mins, scales_mins, 13, 13, 13, 13, 13, 13, 13, 13, 15, 15, 15, 15, 15, 15, 15, 15), 1);
  // In steps, value = a * scale * q - b * min (each lane's min standing for its four values);
  // the sums of squares stay below 2^56, so wrapping 64-bit arithmetic gives them exactly.
  const std::int64_t units = grid.a * lane_total(by_scale) - 4 * grid.b * lane_total(by_min);
  const auto a = static_cast<std::uint64_t>(grid.a), b = static_cast<std::uint64_t>(grid.b);
  const std::uint64_t squares = a * a * static_cast<std::uint64_t>(lane_total(by_scale_squared)) -
                                2 * a * b * static_cast<std::uint64_t>(lane_total(by_scale_min)) +
                                4 * b * b * static_cast<std::uint64_t>(lane_total(by_min_squared));
  const auto total = static_cast<std::uint64_t>(units);
  add_block(sums, 256, units, 256 * squares - total * total, grid.step);
  return true;
}

}  // namespace

TARNWICK_VECTORISED bool q4_k_sums_portable(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  ChunkLanes lanes;
  for (std::uint64_t b = 0; b < count; ++b, blocks += 144) {
    if (!q4_k_block(blocks, lanes, sums)) return false;
  }
  lanes.finish(sums);
  return true;
}

bool q4_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  static const GgmlBlockSums chosen = avx512_block_sums_supported() ? q4_k_sums_avx512 : q4_k_sums_portable;
  return chosen(blocks, count, sums);
}

bool q5_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  return avx512_block_sums_supported() && q5_k_sums_avx512(blocks, count, sums);
}

bool q6_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  return avx512_block_sums_supported() && q6_k_sums_avx512(blocks, count, sums);
}

}  // namespace tarnwick
