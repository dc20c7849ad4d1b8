#include "pt/pytorch_commands.h"

#include "base/change_wording.h"
#include "base/figure_notes.h"
#include "base/format.h"
#include "base/text.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

void explain_pytorch_change(std::ostream& out, const PyTorchSummary& old_model, const PyTorchSummary& new_model) {
  FeatureNameChanges names = feature_name_changes(old_model.param_names, new_model.param_names);
  std::string parameters =
      format_percent_change(old_model.estimated_parameter_count, new_model.estimated_parameter_count);

  out << "  Tensors:           " << old_model.tensor_count << " -> " << new_model.tensor_count << " ("
      << format_percent_change(old_model.tensor_count, new_model.tensor_count) << ")\n";
  out << "  Parameters (est):  " << format_count_short(old_model.estimated_parameter_count) << " -> "
      << format_count_short(new_model.estimated_parameter_count) << " (" << parameters << ")\n";
  out << "  Dominant dtype:    " << optional_text_or_unknown(old_model.dominant_dtype) << " -> "
      << optional_text_or_unknown(new_model.dominant_dtype) << " ("
      << same_or_changed(old_model.dominant_dtype, new_model.dominant_dtype) << ")\n";
  out << "  Param names:       " << old_model.param_names.size() << " -> " << new_model.param_names.size() << " ("
      << name_set_change(old_model.param_names, new_model.param_names, "names not recovered") << ")\n";
  print_name_set_lists(out, names);

  out << "\n";
  print_file_size_line(out, old_model.bytes, new_model.bytes);
  out << "\n"
      << (old_model.learned_state_fingerprint == new_model.learned_state_fingerprint
              ? "Learned state: unchanged (sampled weight bytes identical)\n"
              : "Learned state: CHANGED (sampled weight bytes differ - a real retrain/finetune)\n");

  std::string phrase;
  if (old_model.param_names.empty() && new_model.param_names.empty()) {
    phrase = "weights compared (parameter names not recovered)";
  } else if (!names.added.empty() || !names.removed.empty()) {
    phrase = "parameter set changed (layers added/removed)";
  } else if (old_model.estimated_parameter_count == new_model.estimated_parameter_count) {
    phrase = "same architecture, retrained/finetuned";
  } else {
    phrase = "same layers, parameter count changed (resized)";
  }
  print_summary_frame_end(out, "  " + phrase + "; params " + parameters + ".\n",
                          "Note: static read of the torch.save zip (no torch); shapes are not decoded and the weight "
                          "fingerprint is sampled.\n");
  for (const std::string& note : pair_notes(old_model.estimate_notes, new_model.estimate_notes)) {
    out << "Note: " << escape_control(note) << "\n";
  }
}

}  // namespace tarnwick
