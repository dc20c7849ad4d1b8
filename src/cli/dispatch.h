// The command table: picks the handler by the first word and returns its outcome.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

using Handler = Status (*)(const Args& args, Io& io);

Status dispatch_command(const Args& args, Io& io);
// Process entry in-process: writes "error: {}\n" to `err` on failure; returns the exit status.
int run_tarnwick(const Args& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace tarnwick
