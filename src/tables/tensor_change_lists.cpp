#include "tables/tensor_change_lists.h"

#include <map>
#include <set>
#include <string_view>

#include "base/change_lines.h"
#include "base/text.h"
#include "tables/tensor_contents_diff.h"
#include "tables/tensor_contents_report.h"

namespace tarnwick {

namespace {

void print_heading(std::ostream& out, const char* heading, std::size_t count) {
  out << heading << ": ";
  if (count == 0) {
    out << "none\n";
  } else {
    out << count << "\n";
  }
}

void print_named(std::ostream& out, const char* heading, const std::vector<std::string>& names,
                 const TensorsByName& tensors) {
  print_heading(out, heading, names.size());
  for (std::size_t i = 0; i < names.size() && i < kExplainedTensors; ++i) {
    out << "  " << escape_control(names[i]);
    if (auto found = tensors.find(names[i]); found != tensors.end()) out << " " << tensor_shape_and_dtype(*found->second);
    out << "\n";
  }
  print_rest_count(out, names.size(), kExplainedTensors);
}

// The tensors on both sides whose dtype, shape or bytes differ, in old file order.
std::vector<TensorChange> changed_tensors(const TensorFileSummary& old_model, const TensorsByName& new_tensors,
                                          const TensorFileChanges& changes) {
  const std::set<std::string> dtype(changes.dtype_changed.begin(), changes.dtype_changed.end());
  const std::set<std::string> shape(changes.shape_changed.begin(), changes.shape_changed.end());
  const std::set<std::string> values(changes.values_changed.begin(), changes.values_changed.end());
  std::vector<TensorChange> changed;
  std::set<std::string_view> seen;
  for (const TensorEntry& tensor : old_model.tensors) {
    auto counterpart = new_tensors.find(tensor.name);
    if (counterpart == new_tensors.end() || !seen.insert(tensor.name).second) continue;
    TensorChange change{&tensor, counterpart->second, {}};
    if (dtype.count(tensor.name)) change.what.push_back("dtype");
    if (shape.count(tensor.name)) change.what.push_back("shape");
    if (values.count(tensor.name)) change.what.push_back("values");
    if (!change.what.empty()) changed.push_back(std::move(change));
  }
  return changed;
}

}  // namespace

void print_tensor_change_lists(std::ostream& out, const TensorFileSummary& old_model,
                               const TensorFileSummary& new_model, const TensorFileChanges& changes) {
  const TensorsByName new_tensors = tensors_by_name(new_model);
  print_named(out, "Tensors added", changes.names.added, new_tensors);
  print_named(out, "Tensors removed", changes.names.removed, tensors_by_name(old_model));
  std::vector<TensorChange> changed = changed_tensors(old_model, new_tensors, changes);
  print_heading(out, "Tensors changed", changed.size());
  for (std::size_t i = 0; i < changed.size() && i < kExplainedTensors; ++i) {
    out << "  " << escape_control(changed[i].old_tensor->name) << ": " << tensor_change_text(changed[i]) << "\n";
  }
  print_rest_count(out, changed.size(), kExplainedTensors);
}

}  // namespace tarnwick
