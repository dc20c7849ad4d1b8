// Commands routed by the artifact kind of their paths: inspect, diff, explain.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status inspect_command(const Args& args, Io& io);
Status diff_command(const Args& args, Io& io);
Status explain_command(const Args& args, Io& io);

}  // namespace tarnwick
