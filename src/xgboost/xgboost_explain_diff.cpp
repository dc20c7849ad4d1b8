#include <ostream>

#include "base/change_wording.h"
#include "base/format.h"
#include "xgboost/xgboost_commands.h"
#include "xgboost/xgboost_summary.h"

namespace tarnwick {

void explain_xgboost_change(std::ostream& out, const XgboostModel& old_model, const XgboostModel& new_model) {
  XgboostFigures old_figures = xgboost_figures(old_model);
  XgboostFigures new_figures = xgboost_figures(new_model);
  FeatureNameChanges names = feature_name_changes(old_model.feature_names, new_model.feature_names);
  bool names_changed = !names.added.empty() || !names.removed.empty();

  out << "  Trees:             " << old_figures.trees << " -> " << new_figures.trees << " ("
      << format_percent_change(old_figures.trees, new_figures.trees) << ")\n";
  out << "  Leaves:            " << old_figures.leaves << " -> " << new_figures.leaves << " ("
      << format_percent_change(old_figures.leaves, new_figures.leaves) << ")\n";
  out << "  Max depth:         " << format_optional_count(old_figures.max_depth) << " -> "
      << format_optional_count(new_figures.max_depth) << "\n";
  out << "  Features:          " << format_optional_count(old_model.num_feature) << " -> "
      << format_optional_count(new_model.num_feature) << " ("
      << name_set_change(old_model.feature_names, new_model.feature_names, "names not in model") << ")\n";
  print_name_set_lists(out, names);

  out << "\nTraining config:\n";
  print_triple(out, "  Objective:         ", old_model.objective, new_model.objective);
  print_triple(out, "  Booster:           ", old_model.booster, new_model.booster);
  print_triple(out, "  Base score:        ", old_model.base_score, new_model.base_score);
  print_triple(out, "  Classes:           ", format_optional_count(old_model.num_class),
               format_optional_count(new_model.num_class), old_model.num_class, new_model.num_class);

  out << "\n";
  print_file_size_line(out, old_model.bytes, new_model.bytes);
  out << "\n"
      << (old_figures.learned_state_fingerprint == new_figures.learned_state_fingerprint
              ? "Learned state: unchanged (identical splits and leaf values)\n"
              : "Learned state: CHANGED (a real retrain - trees differ)\n");

  std::string phrase;
  if (names_changed) {
    phrase = "feature set changed";
  } else if (!same_xgboost_training_config(old_model, new_model)) {
    phrase = "training config changed";
  } else if (old_figures.learned_state_fingerprint == new_figures.learned_state_fingerprint) {
    phrase = "same trees and training config";
  } else if (old_figures.trees == new_figures.trees && old_figures.leaves == new_figures.leaves) {
    phrase = "same spec and features, retrained";
  } else {
    phrase = "same spec, retrained with more/fewer trees";
  }
  std::string features_word =
      feature_set_word(names, old_model.feature_names.empty() && new_model.feature_names.empty());
  print_summary_frame_end(out,
                          "  " + phrase + "; trees " + format_percent_change(old_figures.trees, new_figures.trees) +
                              ", features " + features_word + ".\n",
                          "Note: parsed natively from the XGBoost model.\n");
}

}  // namespace tarnwick
