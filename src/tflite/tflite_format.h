// TFLite models (FlatBuffers, schema version 3) as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

extern const FormatDescriptor kTfliteFormat;
// Its part of the tensor checkpoint reports.
extern const TensorFileFormat kTfliteModel;

}  // namespace tarnwick
