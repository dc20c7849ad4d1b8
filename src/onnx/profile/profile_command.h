// `profile`: the cost of an ONNX graph with shapes propagated through it.
#pragma once

#include "main/io.h"
#include "main/status.h"

namespace tarnwick {

Status profile_command(const Args& args, Io& io);

}  // namespace tarnwick
