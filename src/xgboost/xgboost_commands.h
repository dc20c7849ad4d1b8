// The XGBoost inspector and the XGBoost diff, check and explain-diff sections.
#pragma once

#include <ostream>
#include <string>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

struct XgboostModel;

Status xgboost_command(const Args& args, Io& io);
Status diff_xgboost(const std::string& old_path, const std::string& new_path, bool json, Io& io);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_xgboost_change(std::ostream& out, const XgboostModel& old_model, const XgboostModel& new_model);

}  // namespace tarnwick
