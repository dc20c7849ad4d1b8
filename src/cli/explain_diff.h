// `explain-diff`: what changed between two artifacts of one kind, in plain words.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status explain_diff_command(const Args& args, Io& io);

}  // namespace tarnwick
