// Statistics of ggml blocks taken straight from their quantized integers, for block types whose
// every value is d * scale * q - dmin * min with small integers: when those products are exact
// in float32, the value ggml's dequantizer gives is that exact number, so a block's sum and sum of
// squares follow from integer sums of its q, and its extremes and zeros from its values in
// float lanes (the portable kernel) or from its scales and q (the AVX-512 ones), without a
// float64 operation per value.
#pragma once

#include <cstdint>

#include "values/value_stats.h"

namespace tarnwick {

// Adds `count` consecutive blocks to `sums` (a shift of NaN is replaced by the first block's
// mean; `low` and `high` may already hold extremes seen before, which a block must beat to move
// them). False when some block's values are not all exact products (a non-finite scale, or
// scales too far apart for float32), and then `sums` is to be discarded: the caller decodes
// those blocks instead.
using GgmlBlockSums = bool (*)(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);

// The kernel the processor runs best: AVX-512 where it has it, else the portable one. Both
// give the same figures (the sums to float64 rounding).
bool q4_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);

// Both kernels by name, for tests. The AVX-512 one may run only where
// avx512_block_sums_supported(), which is false in builds without it (ThreadSanitizer's).
bool q4_k_sums_portable(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);
bool q4_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);
bool avx512_block_sums_supported();

// q5_k and q6_k: the AVX-512 kernels where the processor has them; elsewhere false, and the
// blocks are decoded.
bool q5_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);
bool q5_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);
bool q6_k_sums(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);
bool q6_k_sums_avx512(const unsigned char* blocks, std::uint64_t count, ShiftedSums& sums);

}  // namespace tarnwick
