#include "lightgbm/lightgbm_commands.h"

#include <ostream>

#include "base/change_wording.h"
#include "base/format.h"
#include "base/text.h"
#include "lightgbm/lightgbm_summary.h"

namespace tarnwick {

void explain_lightgbm_change(std::ostream& out, const LightgbmSummary& old_model, const LightgbmSummary& new_model) {
  const std::vector<std::string> old_names = old_model.feature_names.strings();
  const std::vector<std::string> new_names = new_model.feature_names.strings();
  FeatureNameChanges names = feature_name_changes(old_names, new_names);
  bool names_changed = !names.added.empty() || !names.removed.empty();

  out << "  Trees:             " << old_model.num_trees << " -> " << new_model.num_trees << " ("
      << format_percent_change(old_model.num_trees, new_model.num_trees) << ")\n";
  out << "  Leaves / tree:     " << format_optional_count(old_model.num_leaves) << " -> "
      << format_optional_count(new_model.num_leaves) << "\n";
  out << "  Features:          " << format_optional_count(old_model.num_features) << " -> "
      << format_optional_count(new_model.num_features) << " ("
      << name_set_change(old_names, new_names, "names not in header") << ")\n";
  print_name_set_lists(out, names);

  out << "\nTraining config:\n";
  print_triple(out, "  Objective:         ", old_model.objective, new_model.objective);
  print_triple(out, "  Boosting:          ", old_model.boosting, new_model.boosting);
  print_triple(out, "  Metric:            ", old_model.metric, new_model.metric);
  print_triple(out, "  Learning rate:     ", old_model.learning_rate, new_model.learning_rate);
  print_triple(out, "  Max depth:         ", optional_text_or_unknown(depth_text(old_model.max_depth)),
               optional_text_or_unknown(depth_text(new_model.max_depth)), old_model.max_depth, new_model.max_depth);

  out << "\n";
  print_file_size_line(out, old_model.bytes, new_model.bytes);
  print_leaf_slot_growth(out, lightgbm_leaf_slots(old_model), lightgbm_leaf_slots(new_model));
  out << "\n"
      << (old_model.learned_state_fingerprint == new_model.learned_state_fingerprint
              ? "Learned state: unchanged (identical leaf values)\n"
              : "Learned state: CHANGED (a real retrain - leaf values differ)\n");

  std::string phrase;
  if (names_changed) {
    phrase = "feature set changed";
  } else if (!same_lightgbm_training_config(old_model, new_model)) {
    phrase = "training config changed";
  } else if (old_model.num_trees == new_model.num_trees && old_model.num_leaves == new_model.num_leaves) {
    phrase = "same spec and features, retrained";
  } else {
    phrase = "same spec, retrained with more/fewer trees";
  }
  std::string features_word =
      feature_set_word(names, old_model.feature_names.empty() && new_model.feature_names.empty());
  print_summary_frame_end(out,
                          "  " + phrase + "; trees " + format_percent_change(old_model.num_trees, new_model.num_trees) +
                              ", features " + features_word + ".\n",
                          "Note: parsed natively from the LightGBM text model.\n");
}

}  // namespace tarnwick
