// Unsigned little-endian integers read from bytes the caller has checked are there.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwick {

inline std::uint64_t little_endian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t k = 0; k < width; ++k) {
    value |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(bytes[at + k])) << (8 * k);
  }
  return value;
}

}  // namespace tarnwick
