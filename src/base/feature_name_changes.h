// Added and removed feature names between two models, as text and as JSON.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

struct FeatureNameChanges {
  std::vector<std::string> added;    // in the new list only, ascending
  std::vector<std::string> removed;  // in the old list only, ascending
};

FeatureNameChanges feature_name_changes(const std::vector<std::string>& old_names,
                                        const std::vector<std::string>& new_names);
// "Feature name changes:" with "  Added:" / "  Removed:" lists of at most 12 names each.
void print_feature_name_changes(std::ostream& out, const std::vector<std::string>& old_names,
                                const std::vector<std::string>& new_names);

}  // namespace tarnwick
