// The trees of a CatBoost binary model, decoded from its FlatBuffers core (TModelCore).
#pragma once

#include <string>
#include <string_view>

#include "base/decode_budget.h"
#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

Result<TreeTable> read_cbm_trees(const std::string& path);
// The same from the file's bytes already in memory; `path` names the file in messages.
Result<TreeTable> decode_cbm_trees(const std::string& path, std::string_view bytes);
// The same, drawing every decoded element from `budget`.
Result<TreeTable> decode_cbm_trees(const std::string& path, std::string_view bytes, DecodeBudget& budget);

}  // namespace tarnwick
