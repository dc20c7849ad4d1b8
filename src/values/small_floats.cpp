#include "values/small_floats.h"

#include <array>
#include <bit>
#include <cmath>
#include <limits>

namespace tarnwick {

namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// sign, exponent and mantissa of a small float: bias, bit widths, and how the top exponent and
// negative zero are spent.
struct Float8Layout {
  int exponent_bits;
  int mantissa_bits;
  int bias;
  bool ieee_specials;       // top exponent: infinity (mantissa 0) or NaN
  bool nan_is_all_ones;     // only S.1111.111 is NaN (e4m3fn)
  bool nan_is_negative_zero;  // 0x80 is the only NaN (the fnuz formats)
};

float decode(std::uint8_t byte, const Float8Layout& layout) {
  const int mantissa_mask = (1 << layout.mantissa_bits) - 1;
  const int exponent_mask = (1 << layout.exponent_bits) - 1;
  const bool negative = (byte & 0x80) != 0;
  const int exponent = (byte >> layout.mantissa_bits) & exponent_mask;
  const int mantissa = byte & mantissa_mask;
  if (layout.nan_is_negative_zero && byte == 0x80) return kNan;
  if (layout.ieee_specials && exponent == exponent_mask) return mantissa == 0 ? (negative ? -kInfinity : kInfinity) : kNan;
  if (layout.nan_is_all_ones && exponent == exponent_mask && mantissa == mantissa_mask) return kNan;
  float magnitude = exponent == 0
                        ? std::ldexp(static_cast<float>(mantissa), 1 - layout.bias - layout.mantissa_bits)
                        : std::ldexp(static_cast<float>(mantissa + (1 << layout.mantissa_bits)),
                                     exponent - layout.bias - layout.mantissa_bits);
  return negative ? -magnitude : magnitude;
}

using Table = std::array<float, 256>;

Table build(const Float8Layout& layout) {
  Table table{};
  for (int byte = 0; byte < 256; ++byte) table[static_cast<std::size_t>(byte)] = decode(static_cast<std::uint8_t>(byte), layout);
  return table;
}

// An unsigned power of two: 2^(byte - 127), 0xFF is NaN.
Table build_e8m0() {
  Table table{};
  for (int byte = 0; byte < 255; ++byte) table[static_cast<std::size_t>(byte)] = std::ldexp(1.0f, byte - 127);
  table[255] = kNan;
  return table;
}

}  // namespace

const float* float8_table(Float8Kind kind) {
  static const Table kE4M3FN = build({4, 3, 7, false, true, false});
  static const Table kE5M2 = build({5, 2, 15, true, false, false});
  static const Table kE4M3FNUZ = build({4, 3, 8, false, false, true});
  static const Table kE5M2FNUZ = build({5, 2, 16, false, false, true});
  static const Table kE8M0 = build_e8m0();
  switch (kind) {
    case Float8Kind::E4M3FN: return kE4M3FN.data();
    case Float8Kind::E5M2: return kE5M2.data();
    case Float8Kind::E4M3FNUZ: return kE4M3FNUZ.data();
    case Float8Kind::E5M2FNUZ: return kE5M2FNUZ.data();
    case Float8Kind::E8M0: break;
  }
  return kE8M0.data();
}

}  // namespace tarnwick
