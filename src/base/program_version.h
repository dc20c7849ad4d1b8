// The program's release, as the build states it.
#pragma once

#include <string_view>

namespace tarnwick {

// The project version of the build, such as "1.1.0".
std::string_view program_version();

}  // namespace tarnwick
