// The Python scripts the program hands to an interpreter with -c (src/python/scripts/*.py).
#pragma once

#include <string_view>

namespace tarnwick {

extern const std::string_view catboost_feature_processing_script;
extern const std::string_view catboost_deep_diff_script;
extern const std::string_view convert_model_script;

}  // namespace tarnwick
