// Statistics taken straight from q4_k blocks against the same blocks dequantized value by value:
// extremes and counts the same, sums to rounding; blocks whose values are not exact products
// are declined and left to the dequantizer.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "values/ggml_blocks.h"
#include "values/value_codec.h"
#include "values/value_stats.h"

namespace tarnwick::testing {
namespace {

constexpr std::size_t kBlockBytes = 144, kBlockValues = 256, kBlocks = 32;

struct Case {
  const char* name;
  std::uint16_t d, dmin;  // half bits
  int scale_limit;        // scales and mins drawn from [0, scale_limit]
  bool taken;             // whether the blocks' own path takes them
};

std::vector<unsigned char> blocks_of(const Case& c, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255), scale(0, c.scale_limit);
  std::vector<unsigned char> bytes(kBlocks * kBlockBytes);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    unsigned char* x = bytes.data() + b * kBlockBytes;
    x[0] = static_cast<unsigned char>(c.d), x[1] = static_cast<unsigned char>(c.d >> 8);
    x[2] = static_cast<unsigned char>(c.dmin), x[3] = static_cast<unsigned char>(c.dmin >> 8);
    int scales[8], mins[8];
    for (int j = 0; j < 8; ++j) scales[j] = scale(generator), mins[j] = scale(generator);
    for (int j = 0; j < 4; ++j) {
      x[4 + j] = static_cast<unsigned char>(scales[j] | (scales[j + 4] >> 4) << 6);
      x[8 + j] = static_cast<unsigned char>(mins[j] | (mins[j + 4] >> 4) << 6);
      x[12 + j] = static_cast<unsigned char>((scales[j + 4] & 0xF) | (mins[j + 4] & 0xF) << 4);
    }
    for (std::size_t i = 16; i < kBlockBytes; ++i) x[i] = static_cast<unsigned char>(byte(generator));
  }
  return bytes;
}

// The figures of the dequantized values, two-pass in long double.
ValueStats reference_stats(const std::vector<float>& values) {
  ValueStats stats;
  long double sum = 0;
  for (float value : values) {
    ++stats.count, ++stats.finite;
    stats.zeros += value == 0 ? 1 : 0;
    stats.min = std::min<double>(stats.min, value);
    stats.max = std::max<double>(stats.max, value);
    sum += value;
  }
  const long double mean = sum / values.size();
  long double m2 = 0;
  for (float value : values) m2 += (value - mean) * (value - mean);
  stats.mean = static_cast<double>(mean);
  stats.m2 = static_cast<double>(m2);
  return stats;
}

TEST(GgmlBlockSums, Q4KFromItsIntegersAgainstItsValues) {
  const Case cases[] = {
      {"scales near each other", 0x1D3B, 0x1A77, 63, true},
      {"negative d and dmin", 0x9D3B, 0x9A77, 63, true},
      {"dmin zero, small mins: zeros where q is 0", 0x1D3B, 0x0000, 2, true},
      {"d zero: every sub-block one value", 0x0000, 0x1A77, 63, true},
      {"both zero: all zeros", 0x0000, 0x8000, 63, true},
      {"whole quotients dmin*min / d*scale", 0x3C00, 0x3C00, 3, true},
      {"subnormal scales", 0x0003, 0x0005, 63, true},
      {"scales too far apart for float32", 0x63FF, 0x0001, 63, false},
      {"d NaN", 0x7E00, 0x1A77, 63, false},
      {"dmin infinite", 0x1D3B, 0x7C00, 63, false},
  };
  const ValueCodec codec = *ValueCodec::for_dtype("q4_k");
  const GgmlBlockLayout layout = *ggml_block_layout("q4_k");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> bytes = blocks_of(c, 42);
    ShiftedSums sums;
    sums.shift = NAN;
    const bool taken = codec.block_sums(bytes.data(), kBlocks, sums);
    ASSERT_EQ(taken, c.taken);
    if (!taken) continue;
    ValueStats fast;
    fast.add(sums);
    std::vector<float> values(kBlocks * kBlockValues);
    layout.dequantize(bytes.data(), kBlocks, values.data());
    const ValueStats expected = reference_stats(values);
    EXPECT_EQ(fast.count, expected.count);
    EXPECT_EQ(fast.finite, expected.finite);
    EXPECT_EQ(fast.zeros, expected.zeros);
    EXPECT_EQ(fast.min, expected.min);
    EXPECT_EQ(fast.max, expected.max);
    const double scale = std::max(std::fabs(expected.min), std::fabs(expected.max));
    EXPECT_NEAR(fast.mean, expected.mean, 1e-12 * scale);
    EXPECT_NEAR(fast.m2, expected.m2, 1e-12 * std::max(expected.m2, 1e-300));
  }
}

}  // namespace
}  // namespace tarnwick::testing
