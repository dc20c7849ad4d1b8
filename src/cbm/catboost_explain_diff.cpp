#include "cbm/catboost_commands.h"

#include <ostream>

#include "base/change_wording.h"
#include "base/format.h"
#include "cbm/cbm_summary.h"

namespace tarnwick {

void explain_catboost_change(std::ostream& out, const CbmSummary& old_model, const CbmSummary& new_model) {
  FeatureNameChanges names = feature_name_changes(old_model.feature_names, new_model.feature_names);
  bool names_changed = !names.added.empty() || !names.removed.empty();

  out << "  Trees:             " << format_optional_count(old_model.iterations) << " -> "
      << format_optional_count(new_model.iterations) << " ("
      << (old_model.iterations && new_model.iterations
              ? format_percent_change(*old_model.iterations, *new_model.iterations)
              : "unknown")
      << ")\n";
  out << "  Depth:             " << format_optional_count(old_model.depth) << " -> "
      << format_optional_count(new_model.depth) << " (" << same_or_changed(old_model.depth, new_model.depth) << ")\n";
  out << "  Features (recovered): " << old_model.feature_names.size() << " -> " << new_model.feature_names.size()
      << " (" << name_set_change(old_model.feature_names, new_model.feature_names, "names not recovered") << ")\n";
  print_name_set_lists(out, names);

  out << "\nTraining config:\n";
  print_triple(out, "  Loss:              ", old_model.loss_function, new_model.loss_function);
  print_triple(out, "  Eval metric:       ", old_model.eval_metric, new_model.eval_metric);
  print_triple(out, "  Learning rate:     ", old_model.learning_rate, new_model.learning_rate);
  print_triple(out, "  Grow policy:       ", old_model.grow_policy, new_model.grow_policy);

  out << "\n";
  print_file_size_line(out, old_model.file_size_bytes, new_model.file_size_bytes);
  print_leaf_slot_growth(out, cbm_leaf_slots(old_model), cbm_leaf_slots(new_model));
  out << "\n"
      << (old_model.learned_state_fingerprint == new_model.learned_state_fingerprint
              ? "Learned state: unchanged\n"
              : "Learned state: CHANGED (split borders / leaf values differ)\n");

  std::string phrase;
  if (names_changed) {
    phrase = "feature set changed";
  } else if (!same_catboost_training_config(old_model, new_model)) {
    phrase = "training config changed";
  } else if (old_model.iterations == new_model.iterations && old_model.depth == new_model.depth) {
    phrase = "same spec and features, retrained";
  } else {
    phrase = "same spec, retrained with different tree count/depth";
  }
  print_summary_frame_end(out, "  " + phrase + ".\n",
                          "Note: heuristic summary; run `diff --deep` for exact split/leaf changes.\n");
}

}  // namespace tarnwick
