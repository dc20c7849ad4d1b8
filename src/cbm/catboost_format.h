// CatBoost `.cbm` models as the commands see them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kCatBoostFormat;

}  // namespace tarnwick
