// `contents`: what a model file holds, exactly; `diff --contents`: what changed inside.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status contents_command(const Args& args, Io& io);
// `diff` with `--contents` among its arguments.
Status contents_diff_command(const Args& args, Io& io);

}  // namespace tarnwick
