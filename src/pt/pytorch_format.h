// PyTorch checkpoints (zip archives and legacy pickles) as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kPyTorchFormat;

}  // namespace tarnwick
