// The tensor table of a NumPy file: a .npy array (one tensor, named "array") or an .npz archive
// (one tensor per member numpy.load opens as an array, named as numpy keys it: "w.npy" is "w").
#pragma once

#include <string>

#include "base/status.h"
#include "tables/tensor_table.h"

namespace tarnwick {

// Metadata per tensor name: the header's dict ("descr", "fortran_order", "shape") and its
// format "version". An array whose bytes are not little-endian in C order (Fortran order, big
// endian, or a compressed member) is fingerprinted over its elements as if they were, so equal
// arrays compare equal; an object array holds a pickle and is listed as not compared.
Result<TensorTable> read_numpy_table(const std::string& path);

}  // namespace tarnwick
