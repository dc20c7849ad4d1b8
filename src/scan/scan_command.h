// `tarnwick scan [--json] <file>...`: a safety gate for model files.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status scan_command(const Args& args, Io& io);

}  // namespace tarnwick
