// The trees of a LightGBM text model, read from its Tree= blocks.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

Result<TreeTable> read_lightgbm_trees(const std::string& path);
// The same from the model's text already in memory; `path` names the file in messages.
Result<TreeTable> parse_lightgbm_trees(const std::string& path, std::string_view text);

}  // namespace tarnwick
