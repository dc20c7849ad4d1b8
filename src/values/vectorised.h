// Hot loops built for AVX-512, AVX2 and the baseline, the one the processor runs chosen when
// the program starts (an ifunc). Under ThreadSanitizer the choosing code would run before the
// sanitizer's runtime is ready and crash, so that build keeps the baseline only.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define TARNWICK_VECTORISED
#else
#define TARNWICK_VECTORISED __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
