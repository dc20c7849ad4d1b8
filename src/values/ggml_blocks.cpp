#include "values/ggml_blocks.h"

#include "values/vectorised.h"

#include <array>
#include <cstring>

#include "values/small_floats.h"

namespace tarnwick {

namespace {

constexpr int kSuperBlock = 256;


float half_at(const unsigned char* bytes) {
  return half_to_float(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

std::uint32_t u32_at(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// q4_0: half d; u8 qs[16].
TARNWICK_VECTORISED void q4_0(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 18, y += 32) {
    const float d = half_at(x);
    for (int j = 0; j < 16; ++j) {
      y[j] = static_cast<float>((x[2 + j] & 0x0F) - 8) * d;
      y[j + 16] = static_cast<float>((x[2 + j] >> 4) - 8) * d;
    }
  }
}

// q4_1: half d; half m; u8 qs[16].
TARNWICK_VECTORISED void q4_1(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 20, y += 32) {
    const float d = half_at(x), m = half_at(x + 2);
    for (int j = 0; j < 16; ++j) {
      y[j] = static_cast<float>(x[4 + j] & 0x0F) * d + m;
      y[j + 16] = static_cast<float>(x[4 + j] >> 4) * d + m;
    }
  }
}

// q5_0: half d; u8 qh[4]; u8 qs[16].
TARNWICK_VECTORISED void q5_0(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 22, y += 32) {
    const float d = half_at(x);
    const std::uint32_t h = u32_at(x + 2);
    for (int j = 0; j < 16; ++j) {
      const int lo = (x[6 + j] & 0x0F) | static_cast<int>(((h >> j) & 1) << 4);
      const int hi = (x[6 + j] >> 4) | static_cast<int>(((h >> (j + 16)) & 1) << 4);
      y[j] = static_cast<float>(lo - 16) * d;
      y[j + 16] = static_cast<float>(hi - 16) * d;
    }
  }
}

// q5_1: half d; half m; u8 qh[4]; u8 qs[16].
TARNWICK_VECTORISED void q5_1(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 24, y += 32) {
    const float d = half_at(x), m = half_at(x + 2);
    const std::uint32_t h = u32_at(x + 4);
    for (int j = 0; j < 16; ++j) {
      const int lo = (x[8 + j] & 0x0F) | static_cast<int>(((h >> j) & 1) << 4);
      const int hi = (x[8 + j] >> 4) | static_cast<int>(((h >> (j + 16)) & 1) << 4);
      y[j] = static_cast<float>(lo) * d + m;
      y[j + 16] = static_cast<float>(hi) * d + m;
    }
  }
}

// q8_0: half d; i8 qs[32].
TARNWICK_VECTORISED void q8_0(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 34, y += 32) {
    const float d = half_at(x);
    for (int j = 0; j < 32; ++j) y[j] = static_cast<float>(static_cast<std::int8_t>(x[2 + j])) * d;
  }
}

// q2_k: u8 scales[16]; u8 qs[64]; half d; half dmin.
TARNWICK_VECTORISED void q2_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 84) {
    const unsigned char* scales = x;
    const unsigned char* q = x + 16;
    const float d = half_at(x + 80), min = half_at(x + 82);
    int is = 0;
    for (int n = 0; n < kSuperBlock; n += 128, q += 32) {
      for (int shift = 0; shift < 8; shift += 2) {
        for (int half = 0; half < 2; ++half) {
          const int sc = scales[is++];
          const float dl = d * static_cast<float>(sc & 0xF), ml = min * static_cast<float>(sc >> 4);
          for (int l = 0; l < 16; ++l) *y++ = dl * static_cast<float>((q[l + 16 * half] >> shift) & 3) - ml;
        }
      }
    }
  }
}

// q3_k: u8 hmask[32]; u8 qs[64]; u8 scales[12] (sixteen 6-bit scales); half d.
TARNWICK_VECTORISED void q3_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  constexpr std::uint32_t kLow2 = 0x03030303, kLow4 = 0x0f0f0f0f;
  for (std::uint64_t b = 0; b < blocks; ++b, x += 110) {
    const unsigned char* hm = x;
    const unsigned char* q = x + 32;
    const float d_all = half_at(x + 108);
    std::uint32_t aux[4] = {u32_at(x + 96), u32_at(x + 100), u32_at(x + 104), 0};
    const std::uint32_t tmp = aux[2];
    aux[2] = ((aux[0] >> 4) & kLow4) | (((tmp >> 4) & kLow2) << 4);
    aux[3] = ((aux[1] >> 4) & kLow4) | (((tmp >> 6) & kLow2) << 4);
    aux[0] = (aux[0] & kLow4) | (((tmp >> 0) & kLow2) << 4);
    aux[1] = (aux[1] & kLow4) | (((tmp >> 2) & kLow2) << 4);
    std::array<std::int8_t, 16> scales{};
    for (int i = 0; i < 16; ++i) scales[static_cast<std::size_t>(i)] = static_cast<std::int8_t>(aux[i / 4] >> (8 * (i % 4)));
    int is = 0;
    unsigned m = 1;
    for (int n = 0; n < kSuperBlock; n += 128, q += 32) {
      for (int shift = 0; shift < 8; shift += 2, m <<= 1) {
        for (int half = 0; half < 2; ++half) {
          const float dl = d_all * static_cast<float>(scales[static_cast<std::size_t>(is++)] - 32);
          for (int l = 16 * half; l < 16 * half + 16; ++l) {
            const int value = ((q[l] >> shift) & 3) - ((hm[l] & m) ? 0 : 4);
            *y++ = dl * static_cast<float>(value);
          }
        }
      }
    }
  }
}

// The 6-bit scale and min of sub-block j of a q4_k/q5_k block.
void scale_min_k4(int j, const unsigned char* q, int& scale, int& min) {
  if (j < 4) {
    scale = q[j] & 63;
    min = q[j + 4] & 63;
  } else {
    scale = (q[j + 4] & 0xF) | ((q[j - 4] >> 6) << 4);
    min = (q[j + 4] >> 4) | ((q[j] >> 6) << 4);
  }
}

// q4_k: half d; half dmin; u8 scales[12]; u8 qs[128].
TARNWICK_VECTORISED void q4_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 144) {
    const float d = half_at(x), min = half_at(x + 2);
    const unsigned char* scales = x + 4;
    const unsigned char* q = x + 16;
    for (int is = 0; is < 8; is += 2, q += 32) {
      int sc = 0, m = 0;
      scale_min_k4(is, scales, sc, m);
      const float d1 = d * static_cast<float>(sc), m1 = min * static_cast<float>(m);
      scale_min_k4(is + 1, scales, sc, m);
      const float d2 = d * static_cast<float>(sc), m2 = min * static_cast<float>(m);
      for (int l = 0; l < 32; ++l) *y++ = d1 * static_cast<float>(q[l] & 0xF) - m1;
      for (int l = 0; l < 32; ++l) *y++ = d2 * static_cast<float>(q[l] >> 4) - m2;
    }
  }
}

// q5_k: half d; half dmin; u8 scales[12]; u8 qh[32]; u8 qs[128].
TARNWICK_VECTORISED void q5_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 176) {
    const float d = half_at(x), min = half_at(x + 2);
    const unsigned char* scales = x + 4;
    const unsigned char* qh = x + 16;
    const unsigned char* ql = x + 48;
    unsigned u1 = 1, u2 = 2;
    for (int is = 0; is < 8; is += 2, ql += 32, u1 <<= 2, u2 <<= 2) {
      int sc = 0, m = 0;
      scale_min_k4(is, scales, sc, m);
      const float d1 = d * static_cast<float>(sc), m1 = min * static_cast<float>(m);
      scale_min_k4(is + 1, scales, sc, m);
      const float d2 = d * static_cast<float>(sc), m2 = min * static_cast<float>(m);
      for (int l = 0; l < 32; ++l) *y++ = d1 * static_cast<float>((ql[l] & 0xF) + ((qh[l] & u1) ? 16 : 0)) - m1;
      for (int l = 0; l < 32; ++l) *y++ = d2 * static_cast<float>((ql[l] >> 4) + ((qh[l] & u2) ? 16 : 0)) - m2;
    }
  }
}

// q6_k: u8 ql[128]; u8 qh[64]; i8 scales[16]; half d.
TARNWICK_VECTORISED void q6_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 210) {
    const float d = half_at(x + 208);
    const unsigned char* ql = x;
    const unsigned char* qh = x + 128;
    const std::int8_t* sc = reinterpret_cast<const std::int8_t*>(x + 192);
    for (int n = 0; n < kSuperBlock; n += 128, y += 128, ql += 64, qh += 32, sc += 8) {
      for (int l = 0; l < 32; ++l) {
        const int is = l / 16;
        const int q1 = ((ql[l] & 0xF) | (((qh[l] >> 0) & 3) << 4)) - 32;
        const int q2 = ((ql[l + 32] & 0xF) | (((qh[l] >> 2) & 3) << 4)) - 32;
        const int q3 = ((ql[l] >> 4) | (((qh[l] >> 4) & 3) << 4)) - 32;
        const int q4 = ((ql[l + 32] >> 4) | (((qh[l] >> 6) & 3) << 4)) - 32;
        y[l] = d * static_cast<float>(sc[is]) * static_cast<float>(q1);
        y[l + 32] = d * static_cast<float>(sc[is + 2]) * static_cast<float>(q2);
        y[l + 64] = d * static_cast<float>(sc[is + 4]) * static_cast<float>(q3);
        y[l + 96] = d * static_cast<float>(sc[is + 6]) * static_cast<float>(q4);
      }
    }
  }
}

// q8_k: float d; i8 qs[256]; i16 bsums[16].
TARNWICK_VECTORISED void q8_k(const unsigned char* x, std::uint64_t blocks, float* y) {
  for (std::uint64_t b = 0; b < blocks; ++b, x += 292, y += kSuperBlock) {
    float d = 0;
    std::memcpy(&d, x, 4);
    for (int j = 0; j < kSuperBlock; ++j) y[j] = d * static_cast<float>(static_cast<std::int8_t>(x[4 + j]));
  }
}

struct NamedLayout {
  std::string_view dtype;
  GgmlBlockLayout layout;
};

const std::array<NamedLayout, 11> kLayouts{{
    {"q4_0", {32, 18, q4_0}},   {"q4_1", {32, 20, q4_1}},   {"q5_0", {32, 22, q5_0}},
    {"q5_1", {32, 24, q5_1}},   {"q8_0", {32, 34, q8_0}},   {"q2_k", {256, 84, q2_k}},
    {"q3_k", {256, 110, q3_k}}, {"q4_k", {256, 144, q4_k, q4_k_sums}}, {"q5_k", {256, 176, q5_k, q5_k_sums}},
    {"q6_k", {256, 210, q6_k, q6_k_sums}}, {"q8_k", {256, 292, q8_k}},
}};

}  // namespace

std::optional<GgmlBlockLayout> ggml_block_layout(std::string_view dtype) {
  for (const NamedLayout& named : kLayouts) {
    if (named.dtype == dtype) return named.layout;
  }
  return std::nullopt;
}

}  // namespace tarnwick
