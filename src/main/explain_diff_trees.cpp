#include "cbm/cbm_summary.h"
#include "lightgbm/lightgbm_summary.h"
#include "main/checked_math.h"
#include "main/explain_diff.h"
#include "main/format.h"
#include "main/text.h"

namespace tarnwick {

namespace {

void print_leaf_slot_growth(std::ostream& out, std::optional<std::uint64_t> old_slots,
                            std::optional<std::uint64_t> new_slots) {
  out << "Estimated leaf-slot growth: "
      << (old_slots && new_slots ? format_percent_change(*old_slots, *new_slots) : "unknown") << "\n";
}

std::optional<std::string> depth_text(std::optional<std::int64_t> depth) {
  if (!depth) return std::nullopt;
  return format_max_depth(*depth);
}

// "{label}{old} -> {new} ({same|changed})" with the values rendered as given.
template <class T>
void print_triple(std::ostream& out, const char* label, const std::string& old_text, const std::string& new_text,
                  const std::optional<T>& a, const std::optional<T>& b) {
  out << label << old_text << " -> " << new_text << " (" << same_or_changed(a, b) << ")\n";
}

void print_triple(std::ostream& out, const char* label, const std::optional<std::string>& a,
                  const std::optional<std::string>& b) {
  print_triple(out, label, escape_control(optional_text_or_unknown(a)), escape_control(optional_text_or_unknown(b)), a,
               b);
}

void print_triple(std::ostream& out, const char* label, const std::optional<double>& a,
                  const std::optional<double>& b) {
  print_triple(out, label, optional_real(a), optional_real(b), a, b);
}

}  // namespace

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
      old_model.feature_names.empty() && new_model.feature_names.empty() ? "unknown"
      : names_changed ? "+" + std::to_string(names.added.size()) + "/-" + std::to_string(names.removed.size())
                      : "unchanged";
  print_summary_frame_end(out,
                          "  " + phrase + "; trees " + format_percent_change(old_model.num_trees, new_model.num_trees) +
                              ", features " + features_word + ".\n",
                          "Note: parsed natively from the LightGBM text model.\n");
}

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
