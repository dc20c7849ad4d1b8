#include <ostream>

#include "base/artifact_pair.h"
#include "base/change_lines.h"
#include "base/change_wording.h"
#include "base/feature_name_changes.h"
#include "base/format.h"
#include "base/text.h"
#include "lightgbm/lightgbm_commands.h"
#include "lightgbm/lightgbm_summary.h"

namespace tarnwick {

namespace {

void print_interpretation(std::ostream& out, const LightgbmSummary& old_model, const LightgbmSummary& new_model) {
  out << "Interpretation:\n";
  if (old_model.num_trees == new_model.num_trees && old_model.num_leaves == new_model.num_leaves) {
    out << "  Structure is unchanged: same tree count and configured leaves.\n";
  } else {
    out << "  Structure changed: tree count or configured leaves differ.\n";
  }
  bool same_config = same_lightgbm_training_config(old_model, new_model);
  out << (same_config
              ? "  Training config looks unchanged (objective, boosting, learning rate, leaves, depth, metric).\n"
              : "  Training config changed (one of objective/boosting/learning rate/leaves/depth/metric "
                "differs).\n");
  out << (old_model.feature_names == new_model.feature_names ? "  Feature names are unchanged.\n"
                                                             : "  Feature names changed.\n");
  out << (old_model.learned_state_fingerprint == new_model.learned_state_fingerprint
              ? "  Learned-state fingerprint is identical, so the trees' leaf values are unchanged.\n"
              : "  Learned-state fingerprint changed, so the trees' leaf values differ (a real retrain).\n");
}

void print_text_diff(std::ostream& out, const LightgbmSummary& old_model, const LightgbmSummary& new_model) {
  out << "Model Diff\n" << std::string(10, '-') << "\n";
  out << "Type: LightGBM\nOld: " << escape_control(old_model.path) << "\nNew: " << escape_control(new_model.path)
      << "\n\n";

  out << "Structure:\n";
  print_size_change(out, "File size", old_model.bytes, new_model.bytes);
  print_count_change(out, "Trees", old_model.num_trees, new_model.num_trees);
  print_optional_count_change(out, "Configured leaves / tree", old_model.num_leaves, new_model.num_leaves);
  print_optional_count_change(out, "Max leaf slots", lightgbm_leaf_slots(old_model), lightgbm_leaf_slots(new_model));
  print_optional_count_change(out, "Classes", old_model.num_class, new_model.num_class);
  print_optional_count_change(out, "Features", old_model.num_features, new_model.num_features);
  out << "\n";

  out << "Parameter-like Internals:\n";
  print_fingerprint_change(out, "Full artifact fingerprint", old_model.file_fingerprint, new_model.file_fingerprint);
  print_fingerprint_change(out, "Metadata fingerprint", old_model.metadata_fingerprint, new_model.metadata_fingerprint);
  print_fingerprint_change(out, "Learned-state fingerprint", old_model.learned_state_fingerprint,
                           new_model.learned_state_fingerprint);
  out << "  Note: learned-state fingerprint hashes the leaf-value lines; a change means the trees' learned "
         "outputs differ.\n\n";

  out << "Training Config:\n";
  print_text_change(out, "Objective", old_model.objective, new_model.objective);
  print_text_change(out, "Boosting", old_model.boosting, new_model.boosting);
  print_text_change(out, "Metric", old_model.metric, new_model.metric);
  print_float_change(out, "Learning rate", old_model.learning_rate, new_model.learning_rate);
  print_optional_count_change(out, "Configured iterations", old_model.num_iterations, new_model.num_iterations);
  print_text_change(out, "Max depth", depth_text(old_model.max_depth), depth_text(new_model.max_depth));
  out << "\n";

  out << "Features:\n";
  print_count_change(out, "Feature names", old_model.feature_names.size(), new_model.feature_names.size());
  if (old_model.feature_names == new_model.feature_names) {
    print_feature_name_changes(out, {}, {});  // equal lists add and remove nothing
  } else {
    print_feature_name_changes(out, old_model.feature_names.strings(), new_model.feature_names.strings());
  }
  out << "\n";

  print_interpretation(out, old_model, new_model);
}

}  // namespace

Status diff_lightgbm(const std::string& old_path, const std::string& new_path, bool json, Io& io) {
  Result<ArtifactPair<LightgbmSummary>> pair = read_artifact_pair(read_lightgbm_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) {
    Json document;
    document["type"] = "lightgbm";
    // Converted into value trees, so the summaries' keys print sorted like the rest.
    document["old"] = Json(lightgbm_summary_json(old_model));
    document["new"] = Json(lightgbm_summary_json(new_model));
    return print_json_document(io.out, document);
  }
  print_text_diff(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace tarnwick
