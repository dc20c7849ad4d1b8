// The two fixed texts printed without a handler.
#pragma once

#include <string_view>

namespace tarnwick {

extern const std::string_view kHelpText;
extern const std::string_view kTourText;

}  // namespace tarnwick
