#include "base/feature_name_changes.h"

#include <algorithm>
#include <set>

#include "base/text.h"

namespace tarnwick {

namespace {

std::vector<std::string> names_missing_from(const std::vector<std::string>& names,
                                            const std::vector<std::string>& other) {
  std::set<std::string> present(other.begin(), other.end());
  std::set<std::string> missing;
  for (const std::string& name : names) {
    if (!present.count(name)) missing.insert(name);
  }
  return {missing.begin(), missing.end()};
}

void print_name_block(std::ostream& out, const char* heading, const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 12;
  if (names.empty()) return;
  out << heading;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) out << "    " << escape_control(names[i]) << "\n";
  if (names.size() > kShown) out << "    ... " << names.size() - kShown << " more\n";
}

}  // namespace

FeatureNameChanges feature_name_changes(const std::vector<std::string>& old_names,
                                        const std::vector<std::string>& new_names) {
  return {names_missing_from(new_names, old_names), names_missing_from(old_names, new_names)};
}

void print_feature_name_changes(std::ostream& out, const std::vector<std::string>& old_names,
                                const std::vector<std::string>& new_names) {
  FeatureNameChanges changes = feature_name_changes(old_names, new_names);
  out << "Feature name changes:\n";
  if (changes.added.empty() && changes.removed.empty()) {
    out << "  none detected\n";
    return;
  }
  print_name_block(out, "  Added:\n", changes.added);
  print_name_block(out, "  Removed:\n", changes.removed);
}

}  // namespace tarnwick
