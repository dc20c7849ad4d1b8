// The tree form of `contents` and `diff --contents` (CatBoost and LightGBM models).
#pragma once

#include <cstddef>
#include <string>

#include "main/io.h"
#include "main/status.h"

namespace tarnwick {

Status print_tree_contents(const std::string& path, bool json, std::size_t limit, Io& io);
Status print_tree_contents_diff(const std::string& old_path, const std::string& new_path, bool json,
                                std::size_t limit, Io& io);

}  // namespace tarnwick
