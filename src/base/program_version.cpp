#include "base/program_version.h"

namespace tarnwick {

// The build passes the project version of CMakeLists.txt to this file alone.
#ifndef TARNWICK_VERSION
#error "TARNWICK_VERSION must be defined by the build"
#endif

std::string_view program_version() { return TARNWICK_VERSION; }

}  // namespace tarnwick
