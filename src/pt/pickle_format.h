// Files whose loaders unpickle them (`.pkl`, joblib files, numpy arrays, tar archives) as the
// commands see them: only `scan` reads them.
#pragma once

#include "descriptor/format_descriptor.h"

namespace tarnwick {

extern const FormatDescriptor kPickleFormat;

}  // namespace tarnwick
