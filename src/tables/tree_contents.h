// The tree form of `contents` and `diff --contents` (CatBoost and LightGBM models).
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

#include "base/io.h"
#include "base/status.h"
#include "tables/tree_table.h"

namespace tarnwick {

Status print_tree_contents(const TreeTable& table, bool json, std::size_t limit, Io& io);
Status print_tree_contents_diff(const TreeTable& old_table, const TreeTable& new_table, bool json, std::size_t limit,
                                Io& io);

// The text reports themselves, for a table already read.
void print_tree_contents_text(std::ostream& out, const TreeTable& table, std::size_t limit);
void print_tree_contents_diff_text(std::ostream& out, const TreeTable& old_table, const TreeTable& new_table,
                                   std::size_t limit);

}  // namespace tarnwick
