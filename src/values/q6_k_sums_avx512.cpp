// q6_k block statistics with AVX-512 intrinsics (F, BW, DQ, VL). Every q6_k value is
// d * scale_j * q with q = u - 32 (u six bits) and scale_j a signed byte: |scale_j * q| <= 2^12
// and d's odd mantissa has at most 11 bits, so with d = a * 2^e the value is a * scale_j * q
// steps of 2^e, exact in float32 whatever order ggml multiplied in. From there, as for q4_k:
//   the sum of the block's values      a * sum_j scale_j * sum(q)
//   the sum of their squares           a^2 * sum_j scale_j^2 * sum(q^2)
// by pmaddubsw and pmaddwd; zeros are the values with q = 0 or scale_j = 0 (or all, when d = 0),
// and a sub-block's q are looked at for extremes only when its bounds, scale_j * a * -32 and
// scale_j * a * 31, pass the extremes seen so far.
#include "values/ggml_block_sums.h"

#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)

#include <immintrin.h>

#include <bit>

#include "values/avx512_target.h"
#include "values/ggml_exact_grid.h"

namespace tarnwick {

namespace {

using namespace exact_grid;

// The u (q + 32) of one 128-value half of a block, in value order: values 0-63 and 64-127.
// ql holds the low four bits (values l and l + 32 in the low nibbles of bytes l and l + 32,
// values l + 64 and l + 96 in their high nibbles), qh the top two bits of all four, two bits each.
TARNWICK_WIDE_INLINE void half_of_u(const unsigned char* ql, const unsigned char* qh, __m512i& first, __m512i& second) {
  const __m512i low4 = _mm512_set1_epi8(0x0F), low2 = _mm512_set1_epi8(0x03);
  const __m512i bytes = _mm512_loadu_si512(ql);
  const __m512i high = _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(qh)));
  // Shifting 16-bit words moves no bit of one byte into the low two of its neighbour.
  const __m512i shift_first = _mm512_inserti64x4(_mm512_setzero_si512(), _mm256_set1_epi16(2), 1);
  const __m512i shift_second = _mm512_inserti64x4(_mm512_set1_epi16(4), _mm256_set1_epi16(6), 1);
  const __m512i top_first = _mm512_and_si512(_mm512_srlv_epi16(high, shift_first), low2);
  const __m512i top_second = _mm512_and_si512(_mm512_srlv_epi16(high, shift_second), low2);
  first = _mm512_or_si512(_mm512_and_si512(bytes, low4), _mm512_slli_epi16(top_first, 4));
  second = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi16(bytes, 4), low4), _mm512_slli_epi16(top_second, 4));
}

// Folds the extremes of the sub-blocks in `which` (16 values each, scale a * scale_j) into `sums`.
TARNWICK_WIDE void exact_extremes(const __m512i (&u)[4], __m512i a_lanes, unsigned which, double step, ShiftedSums& sums) {
  alignas(64) unsigned char values[256];
  alignas(64) int a[16];
  for (int part = 0; part < 4; ++part) _mm512_store_si512(values + 64 * part, u[part]);
  _mm512_store_si512(a, a_lanes);
  for (; which != 0; which &= which - 1) {
    const int j = std::countr_zero(which);
    int low = 63, high = 0;
    for (int i = 0; i < 16; ++i) {
      const int value = values[16 * j + i];
      low = value < low ? value : low;
      high = value > high ? value : high;
    }
    const std::int64_t at_low = std::int64_t{a[j]} * (low - 32), at_high = std::int64_t{a[j]} * (high - 32);
    const double lowest = static_cast<double>(at_low < at_high ? at_low : at_high) * step;
    const double highest = static_cast<double>(at_low < at_high ? at_high : at_low) * step;
    sums.low = lowest < sums.low ? lowest : sums.low;
    sums.high = highest > sums.high ? highest : sums.high;
  }
}

// The block's sums go to `figures`; its extremes and zeros straight to `sums`.
TARNWICK_WIDE_INLINE bool q6_k_block(const unsigned char* x, ShiftedSums& sums, BlockFigures& figures) {
  HalfParts d;
  if (!half_parts(x + 208, d)) return false;
  const std::int64_t a = d.mantissa;
  const double step = d.exponent == kNoExponent ? 1.0 : power_of_two(d.exponent);
  const double inverse_step = d.exponent == kNoExponent ? 1.0 : power_of_two(-d.exponent);
  const unsigned char* scales = x + 192;

  // Lane k of a 128-bit lane's bytes (or words) picks sub-block k (or k + 4) of the half.
  const __m512i pick_first = _mm512_set_epi64(0x0303030303030303, 0x0303030303030303, 0x0202020202020202,
                                              0x0202020202020202, 0x0101010101010101, 0x0101010101010101, 0, 0);
  const __m512i pick_second = _mm512_add_epi8(pick_first, _mm512_set1_epi8(4));
  const __m512i word_first = _mm512_set_epi64(0x0706070607060706, 0x0706070607060706, 0x0504050405040504,
                                              0x0504050405040504, 0x0302030203020302, 0x0302030203020302,
                                              0x0100010001000100, 0x0100010001000100);
  const __m512i word_second = _mm512_add_epi8(word_first, _mm512_set1_epi8(8));
  const __m512i ones = _mm512_set1_epi16(1), thirty_two = _mm512_set1_epi8(32), zero = _mm512_setzero_si512();

  __m512i u[4];
  __m512i by_scale = zero, by_square = zero;
  std::uint64_t zeros = 0;
  for (int half = 0; half < 2; ++half) {
    half_of_u(x + 64 * half, x + 128 + 32 * half, u[2 * half], u[2 * half + 1]);
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(scales + 8 * half));
    const __m512i scale_bytes = _mm512_broadcastq_epi64(eight);
    const __m128i wide = _mm_cvtepi8_epi16(eight);
    const __m512i square_words = _mm512_broadcast_i32x4(_mm_mullo_epi16(wide, wide));
    for (int part = 0; part < 2; ++part) {
      const __m512i values = u[2 * half + part];
      const __m512i scale = _mm512_shuffle_epi8(scale_bytes, part == 0 ? pick_first : pick_second);
      const __m512i square = _mm512_shuffle_epi8(square_words, part == 0 ? word_first : word_second);
      // u * scale in pairs (|.| <= 2 * 63 * 128); |q|^2 in pairs (<= 2048) times scale^2 (<= 2^14).
      by_scale = _mm512_add_epi32(by_scale, _mm512_madd_epi16(_mm512_maddubs_epi16(values, scale), ones));
      const __m512i magnitude = _mm512_abs_epi8(_mm512_sub_epi8(values, thirty_two));
      by_square = _mm512_add_epi32(by_square, _mm512_madd_epi16(_mm512_maddubs_epi16(magnitude, magnitude), square));
      const __mmask64 zero_values = _mm512_cmpeq_epi8_mask(values, thirty_two) | _mm512_cmpeq_epi8_mask(scale, zero);
      zeros += static_cast<std::uint64_t>(std::popcount(static_cast<std::uint64_t>(zero_values)));
    }
  }
  // sum(scale * q) = sum(scale * u) - 32 * 16 * sum(scale); the squares' lanes stay below 2^28
  // but their total may reach 2^32, so it is taken in 64 bits.
  const __m512i scale_lanes = _mm512_cvtepi8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(scales)));
  const std::int64_t by_q = _mm512_reduce_add_epi32(by_scale) - 512 * static_cast<std::int64_t>(_mm512_reduce_add_epi32(scale_lanes));
  const auto squares = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(
      _mm512_add_epi64(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(by_square)),
                       _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(by_square, 1)))));
  const std::int64_t units = a * by_q;
  const auto wrapped = static_cast<std::uint64_t>(units), a_squared = static_cast<std::uint64_t>(a * a);
  figures = {units, 256 * (a_squared * squares) - wrapped * wrapped, step};
  sums.zeros += a == 0 ? 256 : zeros;

  const __m512i a_lanes = _mm512_mullo_epi32(scale_lanes, _mm512_set1_epi32(static_cast<int>(a)));
  const __m512i at_low = _mm512_mullo_epi32(a_lanes, _mm512_set1_epi32(-32));
  const __m512i at_high = _mm512_mullo_epi32(a_lanes, _mm512_set1_epi32(31));
  const __m512i lowest = _mm512_min_epi32(at_low, at_high), highest = _mm512_max_epi32(at_low, at_high);
  const __m512d low_seen = _mm512_set1_pd(sums.low * inverse_step), high_seen = _mm512_set1_pd(sums.high * inverse_step);
  const unsigned beyond =
      static_cast<unsigned>(_mm512_cmp_pd_mask(_mm512_cvtepi32_pd(_mm512_castsi512_si256(lowest)), low_seen, _CMP_LT_OQ) |
                            _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(_mm512_castsi512_si256(highest)), high_seen, _CMP_GT_OQ)) |
      static_cast<unsigned>(
          _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(lowest, 1)), low_seen, _CMP_LT_OQ) |
          _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(highest, 1)), high_seen, _CMP_GT_OQ))
          << 8;
  if (beyond != 0) exact_extremes(u, a_lanes, beyond, step, sums);
  return true;
}

}  // namespace

TARNWICK_WIDE bool q6_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  ShiftedSums running = sums;
  BlockFigures figures[kBlockRun];
  while (count > 0) {
    const std::uint64_t run = count < kBlockRun ? count : kBlockRun;
    for (std::uint64_t b = 0; b < run; ++b) {
      if (!q6_k_block(blocks + 210 * b, running, figures[b])) return false;
    }
    add_blocks(running, 256, figures, run);
    blocks += 210 * run, count -= run;
  }
  sums = running;
  return true;
}

}  // namespace tarnwick

#else

namespace tarnwick {

bool q6_k_sums_avx512(const unsigned char*, std::uint64_t, ShiftedSums&) { return false; }

}  // namespace tarnwick

#endif
