// Deep CatBoost reports that need Python with the catboost package.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "base/status.h"

namespace tarnwick {

// The script's feature-processing report, or a fallback built from the recovered names.
void print_deep_feature_processing(std::ostream& out, const std::string& model_path,
                                   const std::vector<std::string>& recovered_names);

// Prints the deep diff script's report, or fails listing every candidate that was tried.
Status run_deep_catboost_diff(std::ostream& out, const std::string& old_path, const std::string& new_path);

}  // namespace tarnwick
