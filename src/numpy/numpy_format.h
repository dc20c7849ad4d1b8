// NumPy arrays (.npy) and archives of them (.npz) as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

extern const FormatDescriptor kNumpyFormat;
// Its part of the tensor checkpoint reports.
extern const TensorFileFormat kNumpyArrays;

}  // namespace tarnwick
