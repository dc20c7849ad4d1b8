// The PyTorch inspector (`pytorch`, `pt`) and the PyTorch diff.
#pragma once

#include <string>

#include "main/io.h"
#include "main/status.h"

namespace tarnwick {

Status pytorch_command(const Args& args, Io& io);
Status pytorch_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io);

}  // namespace tarnwick
