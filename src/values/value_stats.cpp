#include "values/value_stats.h"

#include <algorithm>
#include <cmath>

namespace tarnwick {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool is_finite(double value) { return value - value == 0; }  // NaN and infinities give NaN

}  // namespace

// Two passes over a chunk that sits in cache: sums and extremes, then squared deviations from
// the chunk's own mean, joined to the running figures by Chan's formula.
__attribute__((target_clones("avx2", "default"))) void ValueStats::add(const double* values, std::size_t n) {
  std::uint64_t finite_count = 0, zero_count = 0, nan_count = 0;
  double sum = 0, low = kInfinity, high = -kInfinity;
#pragma omp simd reduction(+ : finite_count, zero_count, nan_count, sum) reduction(min : low) reduction(max : high)
  for (std::size_t i = 0; i < n; ++i) {
    const double v = values[i];
    const bool counted = is_finite(v);
    finite_count += counted ? 1 : 0;
    zero_count += v == 0 ? 1 : 0;
    nan_count += v != v ? 1 : 0;
    sum += counted ? v : 0.0;
    low = counted && v < low ? v : low;
    high = counted && v > high ? v : high;
  }
  if (finite_count == 0) {
    count += n;
    zeros += zero_count;
    nan += nan_count;
    inf += n - nan_count;
    return;
  }
  const double chunk_mean = sum / static_cast<double>(finite_count);
  double chunk_m2 = 0;
#pragma omp simd reduction(+ : chunk_m2)
  for (std::size_t i = 0; i < n; ++i) {
    const double v = values[i];
    const double deviation = is_finite(v) ? v - chunk_mean : 0.0;
    chunk_m2 += deviation * deviation;
  }
  ValueStats chunk;
  chunk.count = n;
  chunk.finite = finite_count;
  chunk.zeros = zero_count;
  chunk.nan = nan_count;
  chunk.inf = n - finite_count - nan_count;
  chunk.min = low;
  chunk.max = high;
  chunk.mean = chunk_mean;
  chunk.m2 = chunk_m2;
  merge(chunk);
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

__attribute__((target_clones("avx2", "default"))) void ValueDelta::add(const double* old_values,
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
