// The built-in formats: the one list that names every format folder's descriptor.
#pragma once

#include <span>

#include "descriptor/format_descriptor.h"

namespace tarnwick {

std::span<const FormatDescriptor* const> built_in_formats();

}  // namespace tarnwick
