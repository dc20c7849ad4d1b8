// inspect, explain and diff of tensor checkpoints (safetensors and GGUF).
#pragma once

#include <string>

#include "main/io.h"
#include "main/status.h"

namespace tarnwick {

// inspect [--json] [--limit N] <checkpoint>...
Status tensor_file_inspect(const Args& args, Io& io);
Status tensor_file_explain(const std::string& path, Io& io);
Status tensor_file_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io);

}  // namespace tarnwick
