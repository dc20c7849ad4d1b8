// Summary statistics of a run of values, accumulated in float64 and mergeable, so that the
// chunks of one tensor can be summed on several threads and joined in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace tarnwick {

// The figures of a run of finite values, their sums taken about a reference value close to their
// mean (so that the sum of squares loses no precision to cancellation). A kernel that knows how
// its values are built may fill these without seeing each value.
struct ShiftedSums {
  std::uint64_t count = 0;
  double shift = 0;
  double sum = 0;      // of (x - shift)
  double squares = 0;  // of (x - shift)^2
  double low = std::numeric_limits<double>::infinity();
  double high = -std::numeric_limits<double>::infinity();
  std::uint64_t zeros = 0;
};

// min, max, mean, std and l2 are over the finite values; NaN and infinities are only counted.
struct ValueStats {
  std::uint64_t count = 0;
  std::uint64_t finite = 0;
  std::uint64_t zeros = 0;
  std::uint64_t nan = 0;
  std::uint64_t inf = 0;
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double mean = 0;
  double m2 = 0;  // sum of squared deviations from the mean

  void add(const double* values, std::size_t n);
  void add(const float* values, std::size_t n);
  void add(const ShiftedSums& sums);
  void merge(const ValueStats& other);
  double std_dev() const;  // population (divides by the finite count)
  double l2() const;
};

// How two runs of values of one shape differ, element by element. Pairs where either value is
// not finite are counted apart and left out of the sums.
struct ValueDelta {
  std::uint64_t pairs = 0;
  std::uint64_t nonfinite_pairs = 0;
  double max_abs = 0;
  double sum_abs = 0;
  double sum_sq_diff = 0;
  double sum_sq_old = 0;
  double sum_sq_new = 0;
  double dot = 0;

  void add(const double* old_values, const double* new_values, std::size_t n);
  void merge(const ValueDelta& other);
  double mean_abs() const;
  double rel_l2() const;  // ||new - old|| / ||old||; infinite when old is all zeros and new is not
  double cosine() const;  // NaN when either side is all zeros
};

}  // namespace tarnwick
