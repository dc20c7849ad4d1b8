#include "values/value_stats.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace tarnwick {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool is_finite(double value) { return value - value == 0; }  // NaN and infinities give NaN

// Sums of a chunk's values shifted by a reference value close to their mean (so that the sum of
// squares loses no precision to cancellation), with the extremes and the zeros.
struct ShiftedSums {
  double shift = 0;
  double sum = 0;     // of (x - shift)
  double squares = 0; // of (x - shift)^2
  double low = 0, high = 0;
  std::uint64_t zeros = 0;
};

using Doubles = double __attribute__((vector_size(64)));
using Floats = float __attribute__((vector_size(32)));
using Lanes = long long __attribute__((vector_size(64)));
constexpr std::size_t kWidth = 8;

template <class T>
__attribute__((always_inline)) inline Doubles load_lanes(const T* values) {
  if constexpr (std::is_same_v<T, float>) {
    Floats narrow;
    std::memcpy(&narrow, values, sizeof narrow);
    return __builtin_convertvector(narrow, Doubles);
  } else {
    Doubles wide;
    std::memcpy(&wide, values, sizeof wide);
    return wide;
  }
}

// One pass with no test per value: a NaN or an infinity anywhere makes the sums non-finite,
// and the caller then takes the careful path for the chunk.
template <class T>
__attribute__((always_inline)) inline ShiftedSums shifted_sums(const T* values, std::size_t n, double shift) {
  Doubles sum0{}, sum1{}, squares0{}, squares1{};
  Doubles low = load_lanes(values), high = low;  // n >= 2 * kWidth
  Lanes zeros{};
  const Doubles center = Doubles{} + shift;
  std::size_t i = 0;
  for (; i + 2 * kWidth <= n; i += 2 * kWidth) {
    const Doubles a = load_lanes(values + i), b = load_lanes(values + i + kWidth);
    const Doubles da = a - center, db = b - center;
    sum0 += da;
    sum1 += db;
    squares0 += da * da;
    squares1 += db * db;
    low = a < low ? a : low;
    low = b < low ? b : low;
    high = a > high ? a : high;
    high = b > high ? b : high;
    zeros -= (a == 0);
    zeros -= (b == 0);
  }
  ShiftedSums sums;
  sums.shift = shift;
  sums.low = low[0];
  sums.high = high[0];
  for (std::size_t lane = 0; lane < kWidth; ++lane) {
    sums.sum += sum0[lane] + sum1[lane];
    sums.squares += squares0[lane] + squares1[lane];
    sums.low = low[lane] < sums.low ? low[lane] : sums.low;
    sums.high = high[lane] > sums.high ? high[lane] : sums.high;
    sums.zeros += static_cast<std::uint64_t>(zeros[lane]);
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

// Statistics of a chunk: the fast pass when every value is finite, else the careful one.
template <class T>
__attribute__((always_inline)) inline ValueStats chunk_stats(const T* values, std::size_t n, double shift) {
  if (n >= 2 * kWidth) {
    ShiftedSums sums = shifted_sums(values, n, shift);
    if (is_finite(sums.sum) && is_finite(sums.squares)) {
      ValueStats chunk;
      const double count = static_cast<double>(n);
      chunk.count = chunk.finite = n;
      chunk.zeros = sums.zeros;
      chunk.min = sums.low;
      chunk.max = sums.high;
      chunk.mean = shift + sums.sum / count;
      chunk.m2 = std::max(0.0, sums.squares - sums.sum * sums.sum / count);
      return chunk;
    }
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

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void ValueStats::add(const double* values,
                                                                                         std::size_t n) {
  merge(chunk_stats(values, n, shift_for(*this, values, n)));
}

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void ValueStats::add(const float* values,
                                                                                         std::size_t n) {
  merge(chunk_stats(values, n, shift_for(*this, values, n)));
}

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

__attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) void ValueDelta::add(const double* old_values,
                                                                       const double* new_values, std::size_t n) {
  std::uint64_t counted = 0;
  double high = max_abs, abs_sum = 0, diff_sq = 0, old_sq = 0, new_sq = 0, product = 0;
#pragma omp simd reduction(+ : counted, abs_sum, diff_sq, old_sq, new_sq, product) reduction(max : high)
  for (std::size_t i = 0; i < n; ++i) {
    const bool finite = is_finite(old_values[i]) && is_finite(new_values[i]);
    const double a = finite ? old_values[i] : 0.0;
    const double b = finite ? new_values[i] : 0.0;
    const double d = b - a;
    const double magnitude = std::fabs(d);
    counted += finite ? 1 : 0;
    high = magnitude > high ? magnitude : high;
    abs_sum += magnitude;
    diff_sq += d * d;
    old_sq += a * a;
    new_sq += b * b;
    product += a * b;
  }
  pairs += counted;
  nonfinite_pairs += n - counted;
  max_abs = high;
  sum_abs += abs_sum;
  sum_sq_diff += diff_sq;
  sum_sq_old += old_sq;
  sum_sq_new += new_sq;
  dot += product;
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
