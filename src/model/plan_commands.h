// The tensor-lab commands that load a plan and print a report.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status run_command(const Args& args, Io& io);
Status bench_command(const Args& args, Io& io);
Status validate_command(const Args& args, Io& io);
Status trace_command(const Args& args, Io& io);
Status compare_command(const Args& args, Io& io);
Status why_command(const Args& args, Io& io);
Status tensor_inspect_command(const Args& args, Io& io);

}  // namespace tarnwick
