// `check`: judges an artifact pair against growth limits and change rules; fails a pipeline.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status check_command(const Args& args, Io& io);

}  // namespace tarnwick
