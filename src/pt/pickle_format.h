// Plain pickles (`.pkl`, joblib and the like) as the commands see them: only `scan` reads them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kPickleFormat;

}  // namespace tarnwick
