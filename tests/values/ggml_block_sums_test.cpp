// Statistics taken straight from q4_k and q5_k blocks, by each kernel, against the same blocks
// dequantized value by value: extremes and counts the same, sums to rounding; blocks whose
// values are not exact products are declined and left to the dequantizer. The blocks are also
// taken in two runs, the second starting from the extremes of the first, as the value passes
// hand them on. q6_k blocks the same way (q5_k and q6_k are summed with AVX-512 only).
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "values/ggml_block_sums.h"
#include "values/ggml_blocks.h"
#include "values/value_stats.h"

namespace tarnwick::testing {
namespace {

constexpr std::size_t kBlockValues = 256, kBlocks = 64;

struct Case {
  const char* name;
  std::uint16_t d, dmin;  // half bits
  int scale_limit;        // scales and mins drawn from [0, scale_limit]
  bool taken;             // whether the blocks' own path takes them
  bool taken_q5;          // the same for q5_k, whose q reach 31
  bool varied = false;    // d and dmin drawn per block, of both signs, near the given ones
};

// q4_k (144 bytes) or q5_k (176, qh before qs): the scales as the case says, the rest random.
std::vector<unsigned char> blocks_of(const Case& c, std::size_t block_bytes, unsigned seed) {
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255), scale(0, c.scale_limit), nearby(-600, 600), sign(0, 1);
  std::vector<unsigned char> bytes(kBlocks * block_bytes);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    unsigned char* x = bytes.data() + b * block_bytes;
    std::uint16_t d = c.d, dmin = c.dmin;
    if (c.varied) {
      d = static_cast<std::uint16_t>((d + nearby(generator)) ^ (sign(generator) << 15));
      dmin = static_cast<std::uint16_t>((dmin + nearby(generator)) ^ (sign(generator) << 15));
    }
    x[0] = static_cast<unsigned char>(d), x[1] = static_cast<unsigned char>(d >> 8);
    x[2] = static_cast<unsigned char>(dmin), x[3] = static_cast<unsigned char>(dmin >> 8);
    int scales[8], mins[8];
    for (int j = 0; j < 8; ++j) scales[j] = scale(generator), mins[j] = scale(generator);
    for (int j = 0; j < 4; ++j) {
      x[4 + j] = static_cast<unsigned char>(scales[j] | (scales[j + 4] >> 4) << 6);
      x[8 + j] = static_cast<unsigned char>(mins[j] | (mins[j + 4] >> 4) << 6);
      x[12 + j] = static_cast<unsigned char>((scales[j + 4] & 0xF) | (mins[j + 4] & 0xF) << 4);
    }
    for (std::size_t i = 16; i < block_bytes; ++i) x[i] = static_cast<unsigned char>(byte(generator));
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

void expect_same_figures(const ShiftedSums& sums, const ValueStats& expected) {
  ValueStats fast;
  fast.add(sums);
  EXPECT_EQ(fast.count, expected.count);
  EXPECT_EQ(fast.finite, expected.finite);
  EXPECT_EQ(fast.zeros, expected.zeros);
  EXPECT_EQ(fast.min, expected.min);
  EXPECT_EQ(fast.max, expected.max);
  const double scale = std::max(std::fabs(expected.min), std::fabs(expected.max));
  EXPECT_NEAR(fast.mean, expected.mean, 1e-12 * scale);
  EXPECT_NEAR(fast.m2, expected.m2, 1e-12 * std::max(expected.m2, 1e-300));
}

TEST(GgmlBlockSums, Q4KAndQ5KFromTheirIntegersAgainstTheirValues) {
  const Case cases[] = {
      {"scales near each other", 0x1D3B, 0x1A77, 63, true, true},
      {"negative d and dmin", 0x9D3B, 0x9A77, 63, true, true},
      {"scales of both signs, block by block", 0x1D3B, 0x1A77, 63, true, true, true},
      {"dmin zero, small mins: zeros where q is 0", 0x1D3B, 0x0000, 2, true, true},
      {"d zero: every sub-block one value", 0x0000, 0x1A77, 63, true, true},
      {"both zero: all zeros", 0x0000, 0x8000, 63, true, true},
      {"whole quotients dmin*min / d*scale", 0x3C00, 0x3C00, 3, true, true},
      {"whole quotients, negative scales", 0xBC00, 0xB800, 5, true, true},
      {"subnormal scales", 0x0003, 0x0005, 63, true, true},
      {"largest q5_k products still exact", 0x4000, 0x0C00, 63, true, true},
      {"largest q4_k products still exact, too large for q5_k", 0x4400, 0x0C00, 63, true, false},
      {"scales too far apart for float32", 0x63FF, 0x0001, 63, false, false},
      {"d NaN", 0x7E00, 0x1A77, 63, false, false},
      {"dmin infinite", 0x1D3B, 0x7C00, 63, false, false},
  };
  struct Kernel {
    const char* name;
    const char* dtype;
    std::size_t block_bytes;
    GgmlBlockSums sums;
    bool available;
  };
  const bool wide = avx512_block_sums_supported();
  const Kernel kernels[] = {
      {"q4_k, chosen for this processor", "q4_k", 144, *ggml_block_layout("q4_k")->sums, true},
      {"q4_k, portable", "q4_k", 144, q4_k_sums_portable, true},
      {"q4_k, AVX-512", "q4_k", 144, q4_k_sums_avx512, wide},
      {"q5_k, AVX-512", "q5_k", 176, q5_k_sums_avx512, wide},
  };
  for (const Kernel& kernel : kernels) {
    SCOPED_TRACE(kernel.name);
    if (!kernel.available) continue;
    const GgmlBlockLayout layout = *ggml_block_layout(kernel.dtype);
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const std::vector<unsigned char> bytes = blocks_of(c, kernel.block_bytes, 42);
      ShiftedSums whole;
      whole.shift = NAN;
      const bool taken = kernel.sums(bytes.data(), kBlocks, whole);
      ASSERT_EQ(taken, kernel.block_bytes == 144 ? c.taken : c.taken_q5);
      if (!taken) continue;
      std::vector<float> values(kBlocks * kBlockValues);
      layout.dequantize(bytes.data(), kBlocks, values.data());
      const ValueStats expected = reference_stats(values);
      expect_same_figures(whole, expected);

      constexpr std::size_t kFirst = kBlocks / 4;
      ShiftedSums first;
      first.shift = NAN;
      ASSERT_TRUE(kernel.sums(bytes.data(), kFirst, first));
      ShiftedSums second;
      second.shift = first.sum / static_cast<double>(first.count) + first.shift;
      second.low = first.low, second.high = first.high;
      ASSERT_TRUE(kernel.sums(bytes.data() + kFirst * kernel.block_bytes, kBlocks - kFirst, second));
      ValueStats joined;
      joined.add(first);
      joined.add(second);
      EXPECT_EQ(joined.min, expected.min);
      EXPECT_EQ(joined.max, expected.max);
      EXPECT_EQ(joined.zeros, expected.zeros);
      EXPECT_NEAR(joined.mean, expected.mean, 1e-12 * std::max(std::fabs(expected.min), std::fabs(expected.max)));
    }
  }
}

// q6_k: u8 ql[128]; u8 qh[64]; i8 scales[16]; half d. Scales drawn from [-limit, limit].
std::vector<unsigned char> q6_k_blocks_of(std::uint16_t d, int scale_limit, unsigned seed) {
  constexpr std::size_t kBytes = 210;
  std::mt19937 generator(seed);
  std::uniform_int_distribution<int> byte(0, 255), scale(-scale_limit, scale_limit);
  std::vector<unsigned char> bytes(kBlocks * kBytes);
  for (std::size_t b = 0; b < kBlocks; ++b) {
    unsigned char* x = bytes.data() + b * kBytes;
    for (std::size_t i = 0; i < 192; ++i) x[i] = static_cast<unsigned char>(byte(generator));
    for (std::size_t i = 192; i < 208; ++i) x[i] = static_cast<unsigned char>(std::max(-128, scale(generator)));
    x[208] = static_cast<unsigned char>(d), x[209] = static_cast<unsigned char>(d >> 8);
  }
  return bytes;
}

TEST(GgmlBlockSums, Q6KFromItsIntegersAgainstItsValues) {
  struct Q6Case {
    const char* name;
    std::uint16_t d;
    int scale_limit;
    bool taken;
  };
  const Q6Case cases[] = {
      {"scales of both signs", 0x1D3B, 128, true},
      {"negative d", 0x9D3B, 127, true},
      {"small scales: zeros where the scale is 0", 0x2C01, 1, true},
      {"d zero", 0x8000, 127, true},
      {"largest mantissa", 0x07FF, 128, true},
      {"subnormal d", 0x0001, 128, true},
      {"d NaN", 0x7E01, 127, false},
      {"d infinite", 0xFC00, 127, false},
  };
  if (!avx512_block_sums_supported()) GTEST_SKIP() << "q6_k blocks are summed only with AVX-512";
  const GgmlBlockLayout layout = *ggml_block_layout("q6_k");
  for (const Q6Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<unsigned char> bytes = q6_k_blocks_of(c.d, c.scale_limit, 7);
    ShiftedSums whole;
    whole.shift = NAN;
    const bool taken = layout.sums(bytes.data(), kBlocks, whole);
    ASSERT_EQ(taken, c.taken);
    if (!taken) continue;
    std::vector<float> values(kBlocks * kBlockValues);
    layout.dequantize(bytes.data(), kBlocks, values.data());
    expect_same_figures(whole, reference_stats(values));
  }
}

}  // namespace
}  // namespace tarnwick::testing
