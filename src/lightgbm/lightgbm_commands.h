// The LightGBM inspector (`lightgbm`, `lgbm`) and the LightGBM diff.
#pragma once

#include <ostream>
#include <string>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

struct LightgbmSummary;

Status lightgbm_command(const Args& args, Io& io);
Status diff_lightgbm(const std::string& old_path, const std::string& new_path, bool json, Io& io);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_lightgbm_change(std::ostream& out, const LightgbmSummary& old_model, const LightgbmSummary& new_model);

}  // namespace tarnwick
