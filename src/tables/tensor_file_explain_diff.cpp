#include "tables/tensor_file_commands.h"

#include <set>

#include "base/change_wording.h"
#include "base/format.h"
#include "base/text.h"
#include "tables/tensor_change_lists.h"
#include "tables/tensor_file_changes.h"

namespace tarnwick {

namespace {

void print_figure_change(std::ostream& out, const char* label, const std::optional<ArchitectureFigure>& old_figure,
                         const std::optional<ArchitectureFigure>& new_figure) {
  if (!old_figure && !new_figure) return;
  auto text = [](const std::optional<ArchitectureFigure>& figure) {
    return figure ? std::to_string(figure->value) : std::string("unknown");
  };
  bool same = old_figure && new_figure && old_figure->value == new_figure->value;
  out << "  " << pad_right(std::string(label) + ":", 19) << text(old_figure) << " -> " << text(new_figure) << " ("
      << (same ? "same" : "changed") << ")\n";
}

std::string tensor_count_text(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " tensor" : " tensors");
}

std::string verdict(const TensorFileChanges& changes) {
  if (!changes.names.added.empty() || !changes.names.removed.empty()) return "tensor set changed (layers added/removed)";
  if (!changes.shape_changed.empty()) return "same tensors, shapes changed (resized)";
  if (!changes.dtype_changed.empty()) return "same architecture, quantized differently (dtype mix changed)";
  if (!changes.values_changed.empty()) return "same architecture, retrained/finetuned";
  if (!same_metadata(changes)) return "same weights, metadata changed";
  return "no change: same tensors, same bytes, same metadata";
}

std::string metadata_line(const TensorFileChanges& changes) {
  if (same_metadata(changes)) return "Metadata: unchanged\n";
  std::vector<std::string> keys = changes.metadata_changed;
  keys.insert(keys.end(), changes.metadata_added.begin(), changes.metadata_added.end());
  keys.insert(keys.end(), changes.metadata_removed.begin(), changes.metadata_removed.end());
  std::string listed;
  for (std::size_t i = 0; i < keys.size() && i < 5; ++i) listed += (i ? ", " : "") + escape_control(keys[i]);
  if (keys.size() > 5) listed += ", ... " + std::to_string(keys.size() - 5) + " more";
  return "Metadata: CHANGED (" + std::to_string(keys.size()) + (keys.size() == 1 ? " key: " : " keys: ") + listed + ")\n";
}

std::string learned_state_line(const TensorFileChanges& changes, bool same_fingerprint) {
  if (same_fingerprint) return "Learned state: unchanged (every tensor's bytes identical)\n";
  std::vector<std::string> parts;
  std::size_t added = changes.names.added.size(), removed = changes.names.removed.size();
  if (added + removed > 0) parts.push_back("tensors: " + std::to_string(added) + " added, " + std::to_string(removed) + " removed");
  std::set<std::string> reshaped(changes.dtype_changed.begin(), changes.dtype_changed.end());
  reshaped.insert(changes.shape_changed.begin(), changes.shape_changed.end());
  std::size_t retyped = reshaped.size();
  if (retyped > 0) parts.push_back(tensor_count_text(retyped) + " with a new dtype or shape");
  std::size_t compared = changes.values_changed.size() + changes.unchanged;
  if (compared > 0) {
    parts.push_back("bytes changed in " + std::to_string(changes.values_changed.size()) + " of " +
                    tensor_count_text(compared) + " of unchanged dtype and shape");
  }
  std::string line = "Learned state: CHANGED (";
  for (std::size_t i = 0; i < parts.size(); ++i) line += (i ? "; " : "") + parts[i];
  return line + ")\n";
}

}  // namespace

void explain_tensor_file_change(std::ostream& out, const TensorFileSummary& old_model,
                                const TensorFileSummary& new_model) {
  TensorFileChanges changes = compare_tensor_files(old_model, new_model);
  std::vector<std::string> old_names = tensor_names(old_model), new_names = tensor_names(new_model);
  std::string parameters = format_percent_change(old_model.parameter_count, new_model.parameter_count);

  out << "  Tensors:           " << old_model.tensors.size() << " -> " << new_model.tensors.size() << " ("
      << format_percent_change(old_model.tensors.size(), new_model.tensors.size()) << ")\n";
  out << "  Parameters:        " << format_count_short(old_model.parameter_count) << " -> "
      << format_count_short(new_model.parameter_count) << " (" << parameters << ")\n";
  out << "  Dominant dtype:    " << optional_text_or_unknown(old_model.dominant_dtype) << " -> "
      << optional_text_or_unknown(new_model.dominant_dtype) << " ("
      << same_or_changed(old_model.dominant_dtype, new_model.dominant_dtype) << ")\n";
  out << "  Tensor names:      " << old_names.size() << " -> " << new_names.size() << " ("
      << name_set_change(old_names, new_names, "no tensors") << ")\n";
  out << "  Dtypes changed:    " << tensor_count_text(changes.dtype_changed.size()) << "\n";
  out << "  Shapes changed:    " << tensor_count_text(changes.shape_changed.size()) << "\n";
  print_figure_change(out, "Layers", old_model.architecture.layers, new_model.architecture.layers);
  print_figure_change(out, "Hidden size", old_model.architecture.hidden_size, new_model.architecture.hidden_size);
  print_figure_change(out, "Vocabulary", old_model.architecture.vocabulary, new_model.architecture.vocabulary);
  print_figure_change(out, "Experts", old_model.architecture.experts, new_model.architecture.experts);

  out << "\n";
  print_file_size_line(out, old_model.file_size_bytes, new_model.file_size_bytes);
  out << "\n" << metadata_line(changes) << "\n";
  out << learned_state_line(changes, old_model.learned_state_fingerprint == new_model.learned_state_fingerprint);
  out << "\n";
  print_tensor_change_lists(out, old_model, new_model, changes);
  print_summary_frame_end(out, "  " + verdict(changes) + "; params " + parameters + ".\n",
                          "Note: exact read of the checkpoint; every tensor byte is fingerprinted (XXH3-64).\n");
}

}  // namespace tarnwick
