// `profile`: the profile of whatever kind the file is (an ONNX graph's cost, a language-model
// checkpoint's serving memory).
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status profile_dispatch(const Args& args, Io& io);

}  // namespace tarnwick
