// `tarnwick scan [options] <file|directory|->...`: a safety gate for model files.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

// Exit status 0 when every file is within the policy, 1 when a finding fails it or a file is
// unscannable, 2 for a usage error or a path that could not be read (or a SARIF file that
// could not be written).
Status scan_command(const Args& args, Io& io);

}  // namespace tarnwick
