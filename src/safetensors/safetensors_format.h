// safetensors checkpoints (a file, a sharded index, or a directory) as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

extern const FormatDescriptor kSafetensorsFormat;
// Its part of the tensor checkpoint reports.
extern const TensorFileFormat kSafetensorsCheckpoint;

}  // namespace tarnwick
