// XGBoost JSON and UBJSON models as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kXgboostFormat;

}  // namespace tarnwick
