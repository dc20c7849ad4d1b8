// Tensor-lab model plans (JSON) as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kTensorPlanFormat;

}  // namespace tarnwick
