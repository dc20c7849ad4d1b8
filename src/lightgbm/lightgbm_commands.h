// The LightGBM inspector (`lightgbm`, `lgbm`) and the LightGBM diff.
#pragma once

#include <string>

#include "main/io.h"
#include "main/status.h"

namespace tarnwick {

Status lightgbm_command(const Args& args, Io& io);
Status diff_lightgbm(const std::string& old_path, const std::string& new_path, bool json, Io& io);

}  // namespace tarnwick
