// `profile`: the cost of an ONNX graph with shapes propagated through it.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status profile_command(const Args& args, Io& io);

}  // namespace tarnwick
