// Whether a LightGBM text model is whole, as LightGBM writes it: a file cut short must not read
// as a model with fewer trees.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

// Fails when the text lacks "end of trees", when a parameters section has no end, or when the
// closing pandas_categorical line is not the JSON it should be. (tree_sizes is not held
// against the blocks: models trimmed by hand keep the old header and are still read.)
Status check_model_text_complete(const std::string& path, std::string_view text);

}  // namespace tarnwick
