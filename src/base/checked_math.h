// Guarded arithmetic on counts taken from files: overflow gives an absent value.
#pragma once

#include <cstdint>
#include <optional>

namespace tarnwick {

inline std::optional<std::uint64_t> checked_multiply(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
  return product;
}

inline std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
  return sum;
}

}  // namespace tarnwick
