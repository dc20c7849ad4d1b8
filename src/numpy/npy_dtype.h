// What a .npy header's dtype string means for the tensor table: the canonical dtype name, the
// bytes per element, and whether the bytes must be swapped to read little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

struct NpyDtype {
  std::string name;                       // canonical ("float32"), "object", or "unknown(<descr>)"
  std::optional<std::uint64_t> itemsize;  // absent for objects and structured dtypes
  bool big_endian = false;                // multi-byte elements stored most significant byte first
};

// `descr` as the header writes it: "<f4", "|b1", ">i8", "|O", "<U10", or a structured list.
NpyDtype npy_dtype(std::string_view descr);

}  // namespace tarnwick
