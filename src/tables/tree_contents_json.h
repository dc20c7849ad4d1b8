// The JSON form of a tree table ("tree_contents").
#pragma once

#include "base/json_output.h"
#include "tables/tree_table.h"

namespace tarnwick {

Json tree_contents_json(const TreeTable& table);

}  // namespace tarnwick
