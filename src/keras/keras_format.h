// Keras `.keras` archives as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

extern const FormatDescriptor kKerasFormat;
// Its part of the tensor checkpoint reports.
extern const TensorFileFormat kKerasModel;

}  // namespace tarnwick
