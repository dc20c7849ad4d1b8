// `version` and `--version`: the program's release, as the build states it.
#pragma once

#include <string_view>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

// The project version of the build, such as "1.1.0".
std::string_view program_version();

// Prints "tarnwick <version>" on one line.
Status version_command(const Args& args, Io& io);

}  // namespace tarnwick
