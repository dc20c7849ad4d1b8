// Equality of reals as the reports mean it: a value equals itself, not-a-number included, so a
// model compared with itself never shows a change.
#pragma once

#include <cmath>
#include <optional>

namespace tarnwick {

inline bool same_real(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// Both absent, or both present and the same real.
inline bool same_optional_real(const std::optional<double>& a, const std::optional<double>& b) {
  if (!a || !b) return !a && !b;
  return same_real(*a, *b);
}

}  // namespace tarnwick
