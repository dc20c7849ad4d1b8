#include "values/value_stats.h"

#include "values/vectorised.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace tarnwick {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool is_finite(double value) { return value - value == 0; }  // NaN and infinities give NaN

using Doubles = double __attribute__((vector_size(64)));
using Lanes = long long __attribute__((vector_size(64)));
constexpr std::size_t kWidth = 8;

template <class T>
__attribute__((always_inline)) inline Doubles load_lanes(const T* values) {
  if constexpr (std::is_same_v<T, float>) {
    Doubles wide;
    for (std::size_t lane = 0; lane < kWidth; ++lane) wide[lane] = static_cast<double>(values[lane]);
    return wide;
  } else {
    Doubles wide;
    std::memcpy(&wide, values, sizeof wide);
    return wide;
  }
}

using WideFloats = float __attribute__((vector_size(64)));
using WideInts = int __attribute__((vector_size(64)));

// One pass with no test per value: a NaN or an infinity anywhere makes the sums non-finite,
// and the caller then takes the careful path. Every accumulator has a twin, so that no chain
// of dependent additions sets the pace; float values keep their extremes and zeros in float
// lanes, twice as wide.
template <class T>
__attribute__((always_inline)) inline ShiftedSums shifted_sums(const T* values, std::size_t n, double shift) {
  constexpr std::size_t kStep = 4 * kWidth;
  using Extremes = std::conditional_t<std::is_same_v<T, float>, WideFloats, Doubles>;
  using Counts = std::conditional_t<std::is_same_v<T, float>, WideInts, Lanes>;
  constexpr std::size_t kExtremeWidth = sizeof(Extremes) / sizeof(T);
  Doubles sum[4] = {}, squares[4] = {};
  Extremes low[2], high[2];
  std::memcpy(&low[0], values, sizeof(Extremes));  // n >= kStep
  low[1] = high[0] = high[1] = low[0];
  Counts zeros[2] = {};
  const Doubles center = Doubles{} + shift;
  std::size_t i = 0;
  for (; i + kStep <= n; i += kStep) {
    for (std::size_t part = 0; part < 4; ++part) {
      const Doubles d = load_lanes(values + i + part * kWidth) - center;
      sum[part] += d;
      squares[part] += d * d;
    }
    for (std::size_t part = 0; part < kStep / kExtremeWidth; ++part) {
      Extremes v;
      std::memcpy(&v, values + i + part * kExtremeWidth, sizeof v);
      low[part % 2] = v < low[part % 2] ? v : low[part % 2];
      high[part % 2] = v > high[part % 2] ? v : high[part % 2];
      zeros[part % 2] -= (v == 0);
    }
  }
  ShiftedSums sums;
  sums.count = n;
  sums.shift = shift;
  sums.low = static_cast<double>(low[0][0]);
  sums.high = static_cast<double>(high[0][0]);
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    sums.sum += (sum[0][lane] + sum[1][lane]) + (sum[2][lane] + sum[3][lane]);
    sums.squares += (squares[0][lane] + squares[1][lane]) + (squares[2][lane] + squares[3][lane]);
  }
  for (std::size_t lane = 0; lane < kExtremeWidth; ++lane) {
    for (std::size_t twin = 0; twin < 2; ++twin) {
      const double lowest = static_cast<double>(low[twin][lane]), highest = static_cast<double>(high[twin][lane]);
      sums.low = lowest < sums.low ? lowest : sums.low;
      sums.high = highest > sums.high ? highest : sums.high;
      sums.zeros += static_cast<std::uint64_t>(zeros[twin][lane]);
    }
  }
  for (; i < n; ++i) {
    const double v = static_cast<double>(values[i]);
    const double d = v - shift;
    sums.sum += d;
    sums.squares += d * d;
    sums.low = v < sums.low ? v : sums.low;
    sums.high = v > sums.high ? v : sums.high;
    sums.zeros += v == 0 ? 1 : 0;
  }
  return sums;
}

// Value by value, for a chunk holding NaN or infinities (or values whose squares overflow).
template <class T>
ValueStats careful_stats(const T* values, std::size_t n) {
  ValueStats chunk;
  chunk.count = n;
  double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double v = static_cast<double>(values[i]);
    chunk.zeros += v == 0 ? 1 : 0;
    if (v != v) {
      ++chunk.nan;
    } else if (!is_finite(v)) {
      ++chunk.inf;
    } else {
      ++chunk.finite;
      sum += v;
      chunk.min = v < chunk.min ? v : chunk.min;
      chunk.max = v > chunk.max ? v : chunk.max;
    }
  }
  if (chunk.finite == 0) return chunk;
  chunk.mean = sum / static_cast<double>(chunk.finite);
  for (std::size_t i = 0; i < n; ++i) {
    const double v = static_cast<double>(values[i]);
    if (is_finite(v)) chunk.m2 += (v - chunk.mean) * (v - chunk.mean);
  }
  return chunk;
}

ValueStats stats_of(const ShiftedSums& sums) {
  ValueStats chunk;
  if (sums.count == 0) return chunk;
  const double count = static_cast<double>(sums.count);
  chunk.count = chunk.finite = sums.count;
  chunk.zeros = sums.zeros;
  chunk.min = sums.low;
  chunk.max = sums.high;
  chunk.mean = sums.shift + sums.sum / count;
  chunk.m2 = std::max(0.0, sums.squares - sums.sum * sums.sum / count);
  return chunk;
}

// Statistics of a chunk: the fast pass when every value is finite, else the careful one.
template <class T>
__attribute__((always_inline)) inline ValueStats chunk_stats(const T* values, std::size_t n, double shift) {
  if (n >= 4 * kWidth) {
    ShiftedSums sums = shifted_sums(values, n, shift);
    if (is_finite(sums.sum) && is_finite(sums.squares)) return stats_of(sums);
  }
  return careful_stats(values, n);
}

// The shift: the running mean, or a value of the chunk before there is one.
template <class T>
double shift_for(const ValueStats& stats, const T* values, std::size_t n) {
  if (stats.finite != 0) return stats.mean;
  for (std::size_t i = 0; i < n; ++i) {
    if (is_finite(static_cast<double>(values[i]))) return static_cast<double>(values[i]);
  }
  return 0;
}

}  // namespace

TARNWICK_VECTORISED void ValueStats::add(const double* values,
                                                                                         std::size_t n) {
  merge(chunk_stats(values, n, shift_for(*this, values, n)));
}

TARNWICK_VECTORISED void ValueStats::add(const float* values,
                                                                                         std::size_t n) {
  merge(chunk_stats(values, n, shift_for(*this, values, n)));
}

void ValueStats::add(const ShiftedSums& sums) { merge(stats_of(sums)); }

void ValueStats::merge(const ValueStats& other) {
  if (other.finite != 0) {
    if (finite == 0) {
      mean = other.mean;
      m2 = other.m2;
    } else {
      const double total = static_cast<double>(finite + other.finite);
      const double delta = other.mean - mean;
      mean += delta * static_cast<double>(other.finite) / total;
      m2 += other.m2 + delta * delta * static_cast<double>(finite) * static_cast<double>(other.finite) / total;
    }
    min = other.min < min ? other.min : min;
    max = other.max > max ? other.max : max;
  }
  count += other.count;
  finite += other.finite;
  zeros += other.zeros;
  nan += other.nan;
  inf += other.inf;
}

double ValueStats::std_dev() const { return finite == 0 ? NAN : std::sqrt(m2 / static_cast<double>(finite)); }

double ValueStats::l2() const { return std::sqrt(m2 + static_cast<double>(finite) * mean * mean); }

namespace {

// The sums of a run of pairs in one pass with no test per pair; a NaN or an infinity on either
// side makes them non-finite, and the caller then takes the careful path.
__attribute__((always_inline)) inline ValueDelta paired_sums(const double* old_values, const double* new_values,
                                                             std::size_t n) {
  Doubles high{}, abs_sum{}, diff_sq{}, old_sq{}, new_sq{}, product{};
  std::size_t i = 0;
  for (; i + kWidth <= n; i += kWidth) {
    const Doubles a = load_lanes(old_values + i), b = load_lanes(new_values + i);
    const Doubles d = b - a;
    const Doubles magnitude = d < 0 ? -d : d;
    high = magnitude > high ? magnitude : high;
    abs_sum += magnitude;
    diff_sq += d * d;
    old_sq += a * a;
    new_sq += b * b;
    product += a * b;
  }
  ValueDelta delta;
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    delta.max_abs = high[lane] > delta.max_abs ? high[lane] : delta.max_abs;
    delta.sum_abs += abs_sum[lane];
    delta.sum_sq_diff += diff_sq[lane];
    delta.sum_sq_old += old_sq[lane];
    delta.sum_sq_new += new_sq[lane];
    delta.dot += product[lane];
  }
  for (; i < n; ++i) {
    const double a = old_values[i], b = new_values[i], d = b - a;
    delta.max_abs = std::fabs(d) > delta.max_abs ? std::fabs(d) : delta.max_abs;
    delta.sum_abs += std::fabs(d);
    delta.sum_sq_diff += d * d;
    delta.sum_sq_old += a * a;
    delta.sum_sq_new += b * b;
    delta.dot += a * b;
  }
  delta.pairs = n;
  return delta;
}

// Pair by pair, leaving out the pairs where either value is not finite.
ValueDelta careful_pairs(const double* old_values, const double* new_values, std::size_t n) {
  ValueDelta delta;
  for (std::size_t i = 0; i < n; ++i) {
    const double a = old_values[i], b = new_values[i];
    if (!is_finite(a) || !is_finite(b)) {
      ++delta.nonfinite_pairs;
      continue;
    }
    const double d = b - a;
    ++delta.pairs;
    delta.max_abs = std::fabs(d) > delta.max_abs ? std::fabs(d) : delta.max_abs;
    delta.sum_abs += std::fabs(d);
    delta.sum_sq_diff += d * d;
    delta.sum_sq_old += a * a;
    delta.sum_sq_new += b * b;
    delta.dot += a * b;
  }
  return delta;
}

}  // namespace

TARNWICK_VECTORISED void ValueDelta::add(const double* old_values,
                                                                                         const double* new_values,
                                                                                         std::size_t n) {
  ValueDelta chunk = paired_sums(old_values, new_values, n);
  const double all = chunk.max_abs + chunk.sum_abs + chunk.sum_sq_diff + chunk.sum_sq_old + chunk.sum_sq_new + chunk.dot;
  if (!is_finite(all)) chunk = careful_pairs(old_values, new_values, n);
  merge(chunk);
}

void ValueDelta::merge(const ValueDelta& other) {
  pairs += other.pairs;
  nonfinite_pairs += other.nonfinite_pairs;
  max_abs = other.max_abs > max_abs ? other.max_abs : max_abs;
  sum_abs += other.sum_abs;
  sum_sq_diff += other.sum_sq_diff;
  sum_sq_old += other.sum_sq_old;
  sum_sq_new += other.sum_sq_new;
  dot += other.dot;
}

double ValueDelta::mean_abs() const { return pairs == 0 ? NAN : sum_abs / static_cast<double>(pairs); }

double ValueDelta::rel_l2() const {
  if (sum_sq_old == 0) return sum_sq_diff == 0 ? 0.0 : kInfinity;
  return std::sqrt(sum_sq_diff) / std::sqrt(sum_sq_old);
}

double ValueDelta::cosine() const {
  if (sum_sq_old == 0 || sum_sq_new == 0) return NAN;
  // Rounding can carry the quotient of parallel vectors just past 1.
  return std::clamp(dot / (std::sqrt(sum_sq_old) * std::sqrt(sum_sq_new)), -1.0, 1.0);
}

}  // namespace tarnwick
