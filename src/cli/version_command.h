// `version` and `--version`: the program's release, as the build states it.
#pragma once

#include "base/io.h"
#include "base/program_version.h"
#include "base/status.h"

namespace tarnwick {

// Prints "tarnwick <version>" on one line.
Status version_command(const Args& args, Io& io);

}  // namespace tarnwick
