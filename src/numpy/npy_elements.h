// Array bytes rearranged into the form tensor fingerprints are taken over: little-endian
// elements in C (row-major) order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick {

// Reverses the bytes of each element (of each half, for complex numbers).
void swap_to_little_endian(std::string& bytes, std::uint64_t itemsize, bool complex);

// Elements stored with the first index fastest, returned with the last index fastest.
std::string fortran_to_c_order(const std::string& bytes, const std::vector<std::uint64_t>& shape,
                               std::uint64_t itemsize);

}  // namespace tarnwick
