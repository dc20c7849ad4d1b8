// q4_k and q5_k block statistics with AVX-512 intrinsics (F, BW, DQ, VL), for the processors
// that have them; for q4_k the figures are those of the portable kernel, formed another way. On
// the block's grid (ggml_exact_grid.h) sub-block j's values are A q - B steps, A = a * scale_j,
// B = b * min_j, with q from 0 to 15 (q4_k) or 31 (q5_k: a fifth bit from qh), so
//   the sum of its 32 values      U_j = A * sum(q) - 32 B
//   the sum of their squares      Q_j = A * (A * sum(q^2) - 2 B * sum(q)) + 32 B^2
// exactly, from byte sums of q and of q^2 (the squares by table; for q5_k's q = v + 16 h,
// q^2 = v^2 + 32 v h + 256 h). Extremes and zeros come from the scales first: a sub-block's
// values lie between -B (q = 0) and top A - B (q = top), so its q are looked at only when those
// bounds pass the extremes seen so far; and a value is zero only where A q = B, so only a
// sub-block where B / A is a whole number from 0 to top has its q compared with it.
#include "values/ggml_block_sums.h"

#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__)

#include <immintrin.h>

#include <bit>

#include "values/avx512_target.h"
#include "values/ggml_exact_grid.h"

namespace tarnwick {

namespace {

using namespace exact_grid;

// half d; half dmin; u8 scales[12]; then q4_k: u8 qs[128]; q5_k: u8 qh[32]; u8 qs[128].
struct Q4K {
  static constexpr int kTop = 15;
  static constexpr std::uint64_t kBytes = 144, kQs = 16;
};
struct Q5K {
  static constexpr int kTop = 31;
  static constexpr std::uint64_t kBytes = 176, kQs = 48, kQh = 16;
};

// The eight 6-bit scales, then the eight 6-bit mins, one to a byte, from the 12 packed bytes
// (the 4 bytes read after them are not used).
TARNWICK_WIDE_INLINE __m128i scales_and_mins(const unsigned char* packed) {
  const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(packed));
  // Bytes 0-3 and 8-11 of the result keep the low six bits of words 0 and 1; bytes 4-7 and
  // 12-15 join a nibble of word 2 with the top two bits of words 0 and 1.
  const __m128i low = _mm_and_si128(_mm_srlv_epi32(_mm_shuffle_epi32(words, _MM_SHUFFLE(2, 1, 2, 0)), _mm_setr_epi32(0, 0, 0, 4)),
                                    _mm_setr_epi32(0x3f3f3f3f, 0x0f0f0f0f, 0x3f3f3f3f, 0x0f0f0f0f));
  const __m128i top = _mm_and_si128(_mm_srli_epi32(_mm_shuffle_epi32(words, _MM_SHUFFLE(1, 1, 0, 0)), 6),
                                    _mm_setr_epi32(0, 0x03030303, 0, 0x03030303));
  return _mm_or_si128(low, _mm_slli_epi32(top, 4));
}

// Sums of q and of q^2 over each sub-block, in 64-bit lanes j = 0..7. A 64-byte half of qs
// holds sub-blocks 2k (low nibbles of bytes 0-31), 2k + 1 (their high nibbles), 2k + 2 and
// 2k + 3 (bytes 32-63); q5_k's sub-block j takes bit j of qh[l] as the fifth bit of its q[l].
// psadbw sums each 8 bytes, and the partial sums are then folded pairwise.
template <class K>
TARNWICK_WIDE_INLINE void q_sums(const unsigned char* x, __m512i& sum, __m512i& squares) {
  const __m512i low4 = _mm512_set1_epi8(0x0F), one = _mm512_set1_epi8(1), zero = _mm512_setzero_si512();
  const __m512i square_of = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 4, 9, 16, 25, 36, 49, 64, 81, 100, 121, -112,
                                                                 -87, -60, -31));  // 144, 169, 196, 225
  __m512i fifth_bits = zero;
  if constexpr (K::kTop == 31) {
    fifth_bits = _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + K::kQh)));
  }
  __m512i folded[4];  // per 128-bit lane: [sum q, sum q^2] of 16 bytes of one sub-block
  for (int half = 0; half < 2; ++half) {
    const __m512i bytes = _mm512_loadu_si512(x + K::kQs + 64 * half);
    for (int nibble = 0; nibble < 2; ++nibble) {
      const __m512i q = _mm512_and_si512(nibble == 0 ? bytes : _mm512_srli_epi16(bytes, 4), low4);
      __m512i s1 = _mm512_sad_epu8(q, zero), s2 = _mm512_sad_epu8(_mm512_shuffle_epi8(square_of, q), zero);
      if constexpr (K::kTop == 31) {
        // Bit j of each byte, j the sub-block of its half of the vector (shifting 16-bit words
        // brings no bit of one byte down to bit 0 of another).
        const int j = 4 * half + nibble;
        const __m512i shift = _mm512_inserti64x4(_mm512_set1_epi16(static_cast<short>(j)), _mm256_set1_epi16(static_cast<short>(j + 2)), 1);
        const __mmask64 fifth = _mm512_test_epi8_mask(_mm512_srlv_epi16(fifth_bits, shift), one);
        const __m512i h = _mm512_sad_epu8(_mm512_maskz_mov_epi8(fifth, one), zero);
        const __m512i vh = _mm512_sad_epu8(_mm512_maskz_mov_epi8(fifth, q), zero);
        s1 = _mm512_add_epi64(s1, _mm512_slli_epi64(h, 4));
        s2 = _mm512_add_epi64(s2, _mm512_add_epi64(_mm512_slli_epi64(vh, 5), _mm512_slli_epi64(h, 8)));
      }
      folded[2 * half + nibble] = _mm512_add_epi64(_mm512_unpacklo_epi64(s1, s2), _mm512_unpackhi_epi64(s1, s2));
    }
  }
  // 128-bit lanes 0+1 and 2+3 of each pair: [0, 2, 1, 3] and [4, 6, 5, 7] by sub-block.
  const __m512i low_pair = _mm512_add_epi64(_mm512_shuffle_i64x2(folded[0], folded[1], 0x88),
                                            _mm512_shuffle_i64x2(folded[0], folded[1], 0xDD));
  const __m512i high_pair = _mm512_add_epi64(_mm512_shuffle_i64x2(folded[2], folded[3], 0x88),
                                             _mm512_shuffle_i64x2(folded[2], folded[3], 0xDD));
  // Interleaved, the order is [0, 4, 2, 6, 1, 5, 3, 7]; the same permutation puts it back.
  const __m512i order = _mm512_setr_epi64(0, 4, 2, 6, 1, 5, 3, 7);
  sum = _mm512_permutexvar_epi64(order, _mm512_unpacklo_epi64(low_pair, high_pair));
  squares = _mm512_permutexvar_epi64(order, _mm512_unpackhi_epi64(low_pair, high_pair));
}

// The 32 q of sub-block j as bytes.
template <class K>
TARNWICK_WIDE_INLINE __m256i sub_block_q(const unsigned char* x, int j) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + K::kQs + 32 * (j / 2)));
  const __m256i q = _mm256_and_si256(_mm256_srl_epi16(bytes, _mm_cvtsi32_si128(4 * (j % 2))), _mm256_set1_epi8(0x0F));
  if constexpr (K::kTop == 15) {
    return q;
  } else {
    const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + K::kQh));
    const __m256i fifth = _mm256_and_si256(_mm256_srl_epi16(bits, _mm_cvtsi32_si128(j)), _mm256_set1_epi8(1));
    return _mm256_or_si256(q, _mm256_slli_epi16(fifth, 4));
  }
}

// Folds the extremes of the sub-blocks in `which` into `sums` from their smallest and largest q.
template <class K>
TARNWICK_WIDE void exact_extremes(const unsigned char* x, __m256i a_lanes, __m256i b_lanes, unsigned which,
                                  double step, ShiftedSums& sums) {
  alignas(32) int a[8], b[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), a_lanes);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), b_lanes);
  for (; which != 0; which &= which - 1) {
    const int j = std::countr_zero(which);
    const __m256i q = sub_block_q<K>(x, j);
    __m128i low = _mm_min_epu8(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    __m128i high = _mm_max_epu8(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    low = _mm_min_epu8(low, _mm_srli_si128(low, 8));
    high = _mm_max_epu8(high, _mm_srli_si128(high, 8));
    // phminposuw finds the least of eight words; the largest q is top less the least of top - q.
    const int q_low = _mm_cvtsi128_si32(_mm_minpos_epu16(_mm_cvtepu8_epi16(low))) & 0xFFFF;
    const int q_high =
        K::kTop - (_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_sub_epi16(_mm_set1_epi16(K::kTop), _mm_cvtepu8_epi16(high)))) & 0xFFFF);
    const std::int64_t at_low = std::int64_t{a[j]} * q_low - b[j], at_high = std::int64_t{a[j]} * q_high - b[j];
    const double lowest = static_cast<double>(at_low < at_high ? at_low : at_high) * step;
    const double highest = static_cast<double>(at_low < at_high ? at_high : at_low) * step;
    sums.low = lowest < sums.low ? lowest : sums.low;
    sums.high = highest > sums.high ? highest : sums.high;
  }
}

// Counts the q of the sub-blocks in `which` equal to their `targets`.
template <class K>
TARNWICK_WIDE std::uint64_t matching_q(const unsigned char* x, __m256i target_lanes, unsigned which) {
  alignas(32) int targets[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(targets), target_lanes);
  std::uint64_t count = 0;
  for (; which != 0; which &= which - 1) {
    const int j = std::countr_zero(which);
    const __mmask32 equal = _mm256_cmpeq_epi8_mask(sub_block_q<K>(x, j), _mm256_set1_epi8(static_cast<char>(targets[j])));
    count += static_cast<std::uint64_t>(std::popcount(static_cast<std::uint32_t>(equal)));
  }
  return count;
}

// The block's sums go to `figures`; its extremes and zeros straight to `sums`.
template <class K>
TARNWICK_WIDE_INLINE bool k_block(const unsigned char* x, ShiftedSums& sums, BlockFigures& figures) {
  HalfParts d, dmin;
  if (!half_parts(x, d) || !half_parts(x + 2, dmin)) return false;
  Grid grid;
  if (!common_grid(d, dmin, 63 * K::kTop, 63, grid)) return false;
  const __m128i packed = scales_and_mins(x + 4);
  // |A| * top + |B| < 2^24: every product below fits 32 bits, and each Q_j below 2^53.
  const __m256i a = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(packed), _mm256_set1_epi32(static_cast<int>(grid.a)));
  const __m256i b = _mm256_mullo_epi32(_mm256_cvtepu8_epi32(_mm_srli_si128(packed, 8)), _mm256_set1_epi32(static_cast<int>(grid.b)));

  __m512i sum_q, sum_q2;
  q_sums<K>(x, sum_q, sum_q2);
  const __m512i a64 = _mm512_cvtepi32_epi64(a), b64 = _mm512_cvtepi32_epi64(b);
  const __m512i b_q = _mm512_mul_epi32(b64, sum_q);
  const __m512i units = _mm512_sub_epi64(_mm512_mul_epi32(a64, sum_q), _mm512_slli_epi64(b64, 5));
  const __m512i squares =
      _mm512_add_epi64(_mm512_mullo_epi64(a64, _mm512_sub_epi64(_mm512_mul_epi32(a64, sum_q2), _mm512_add_epi64(b_q, b_q))),
                       _mm512_slli_epi64(_mm512_mul_epi32(b64, b64), 5));
  const __m512i paired = _mm512_add_epi64(_mm512_unpacklo_epi64(units, squares), _mm512_unpackhi_epi64(units, squares));
  const __m256i four = _mm256_add_epi64(_mm512_castsi512_si256(paired), _mm512_extracti64x4_epi64(paired, 1));
  const __m128i two = _mm_add_epi64(_mm256_castsi256_si128(four), _mm256_extracti128_si256(four, 1));
  const std::int64_t total = _mm_cvtsi128_si64(two);
  const auto total_squares = static_cast<std::uint64_t>(_mm_extract_epi64(two, 1));
  const auto wrapped = static_cast<std::uint64_t>(total);
  figures = {total, 256 * total_squares - wrapped * wrapped, grid.step};

  // Extremes: the bounds in steps against those seen so far, scaled to steps (exact: powers of two).
  const __m256i at_zero = _mm256_sub_epi32(_mm256_setzero_si256(), b);
  const __m256i at_top = _mm256_sub_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(K::kTop)), b);
  const __m512d lowest = _mm512_cvtepi32_pd(_mm256_min_epi32(at_zero, at_top));
  const __m512d highest = _mm512_cvtepi32_pd(_mm256_max_epi32(at_zero, at_top));
  const __mmask8 beyond = _mm512_cmp_pd_mask(lowest, _mm512_set1_pd(sums.low * grid.inverse_step), _CMP_LT_OQ) |
                          _mm512_cmp_pd_mask(highest, _mm512_set1_pd(sums.high * grid.inverse_step), _CMP_GT_OQ);
  if (beyond != 0) exact_extremes<K>(x, a, b, beyond, grid.step, sums);

  // Zeros: every value of a sub-block with A = B = 0; else those q equal to a whole B / A in
  // 0..top (|B| < 2^24, so the float quotient of an exact division is exact, and A * t cannot
  // overflow where |t| <= |B / A|; 0 / 0 gives NaN, which converts to no such t).
  const __m256i zero = _mm256_setzero_si256();
  const __mmask8 all_zero = _mm256_cmpeq_epi32_mask(a, zero) & _mm256_cmpeq_epi32_mask(b, zero);
  const __m256i quotient = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(b), _mm256_cvtepi32_ps(a)));
  const __mmask8 whole = _mm256_cmple_epu32_mask(quotient, _mm256_set1_epi32(K::kTop)) &
                         _mm256_cmpeq_epi32_mask(_mm256_mullo_epi32(a, quotient), b) & static_cast<__mmask8>(~all_zero);
  sums.zeros += 32 * static_cast<std::uint64_t>(std::popcount(static_cast<unsigned>(all_zero)));
  if (whole != 0) sums.zeros += matching_q<K>(x, quotient, whole);
  return true;
}

template <class K>
TARNWICK_WIDE_INLINE bool k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  ShiftedSums running = sums;  // in registers, not behind the reference
  BlockFigures figures[kBlockRun];
  while (count > 0) {
    const std::uint64_t run = count < kBlockRun ? count : kBlockRun;
    for (std::uint64_t b = 0; b < run; ++b) {
      if (!k_block<K>(blocks + K::kBytes * b, running, figures[b])) return false;
    }
    add_blocks(running, 256, figures, run);
    blocks += K::kBytes * run, count -= run;
  }
  sums = running;
  return true;
}

}  // namespace

bool avx512_block_sums_supported() {
  static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                                __builtin_cpu_supports("popcnt");
  return supported;
}

TARNWICK_WIDE bool q4_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  return k_sums<Q4K>(blocks, count, sums);
}

TARNWICK_WIDE bool q5_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  return k_sums<Q5K>(blocks, count, sums);
}

}  // namespace tarnwick

#else

namespace tarnwick {

bool avx512_block_sums_supported() { return false; }

bool q4_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums) {
  return q4_k_sums_portable(blocks, count, sums);
}

bool q5_k_sums_avx512(const unsigned char*, std::uint64_t, ShiftedSums&) { return false; }

}  // namespace tarnwick

#endif
