// The instruction sets of the AVX-512 block kernels, named once for their functions.
#pragma once

#define TARNWICK_WIDE __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,popcnt")))
#define TARNWICK_WIDE_INLINE TARNWICK_WIDE __attribute__((always_inline)) inline
