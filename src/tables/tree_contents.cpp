#include "tables/tree_contents.h"

namespace tarnwick {

// Placeholders until the tree readers land.
Status print_tree_contents(const std::string& path, bool, std::size_t, Io&) {
  return fail("contents of tree models is not available yet: " + path);
}

Status print_tree_contents_diff(const std::string& old_path, const std::string&, bool, std::size_t, Io&) {
  return fail("contents of tree models is not available yet: " + old_path);
}

}  // namespace tarnwick
