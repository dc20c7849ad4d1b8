// The header of a NumPy .npy file (also each member of an .npz): magic, version, and the dict
// literal that states dtype, memory order and shape.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tarnwick {

inline constexpr std::string_view kNpyMagic = "\x93NUMPY";

struct NpyHeader {
  int major_version = 1;
  int minor_version = 0;
  std::string descr;  // the dtype as written: "<f4", "|O", or a structured list's text
  bool fortran_order = false;
  std::vector<std::uint64_t> shape;
  bool has_object = false;       // an object dtype, alone or as a field: the data is a pickle
  std::uint64_t data_offset = 0;  // where the array's bytes (or its pickle) start
};

bool is_npy(std::string_view bytes);

// Fails with what does not hold: the magic, the version (1, 2 or 3), the header's length or
// its dict ("descr", "fortran_order" and "shape", as numpy requires them).
Result<NpyHeader> read_npy_header(std::string_view bytes);

}  // namespace tarnwick
