// Tells an XGBoost model from other JSON and binary files by its first bytes.
#pragma once

#include <string_view>

namespace tarnwick {

// A JSON object whose first key is "learner", or a UBJSON object whose first key is "learner"
// (its length written with any integer marker, after the object's count when it states one).
// XGBoost writes that key first in both encodings.
bool looks_like_xgboost_model(std::string_view head);

}  // namespace tarnwick
