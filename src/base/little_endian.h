// Unsigned little-endian integers: read from bytes the caller has checked are there, or
// appended to a buffer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwick {

inline std::uint64_t little_endian(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t k = 0; k < width; ++k) {
    value |= static_cast<std::uint64_t>(static_cast<std::uint8_t>(bytes[at + k])) << (8 * k);
  }
  return value;
}

inline void append_little_endian(std::string& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace tarnwick
