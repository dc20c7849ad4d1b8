#include <ostream>

#include "base/artifact_pair.h"
#include "base/change_lines.h"
#include "base/feature_name_changes.h"
#include "base/format.h"
#include "base/text.h"
#include "xgboost/xgboost_commands.h"
#include "xgboost/xgboost_summary.h"

namespace tarnwick {

namespace {

void print_interpretation(std::ostream& out, const XgboostModel& old_model, const XgboostModel& new_model,
                          const XgboostFigures& old_figures, const XgboostFigures& new_figures) {
  out << "Interpretation:\n";
  if (old_figures.trees == new_figures.trees && old_figures.leaves == new_figures.leaves) {
    out << "  Structure is unchanged: same tree and leaf counts.\n";
  } else {
    out << "  Structure changed: tree or leaf counts differ.\n";
  }
  out << (same_xgboost_training_config(old_model, new_model)
              ? "  Training config looks unchanged (objective, booster, base score, classes, targets, parallel "
                "trees).\n"
              : "  Training config changed (one of objective/booster/base score/classes/targets/parallel trees "
                "differs).\n");
  out << (old_model.feature_names == new_model.feature_names ? "  Feature names are unchanged.\n"
                                                             : "  Feature names changed.\n");
  out << (old_figures.learned_state_fingerprint == new_figures.learned_state_fingerprint
              ? "  Learned-state fingerprint is identical, so the trees' splits and leaf values are unchanged.\n"
              : "  Learned-state fingerprint changed, so the trees differ (a real retrain).\n");
}

void print_text_diff(std::ostream& out, const XgboostModel& old_model, const XgboostModel& new_model) {
  XgboostFigures old_figures = xgboost_figures(old_model);
  XgboostFigures new_figures = xgboost_figures(new_model);
  out << "Model Diff\n" << std::string(10, '-') << "\n";
  out << "Type: XGBoost\nOld: " << escape_control(display_file_name(old_model.path))
      << "\nNew: " << escape_control(display_file_name(new_model.path)) << "\n\n";

  out << "Structure:\n";
  print_size_change(out, "File size", old_model.bytes, new_model.bytes);
  print_count_change(out, "Trees", old_figures.trees, new_figures.trees);
  print_optional_count_change(out, "Boosting rounds", old_model.boosting_rounds, new_model.boosting_rounds);
  print_optional_count_change(out, "Max depth", old_figures.max_depth, new_figures.max_depth);
  print_count_change(out, "Leaves", old_figures.leaves, new_figures.leaves);
  print_count_change(out, "Splits", old_figures.splits, new_figures.splits);
  print_optional_count_change(out, "Classes", old_model.num_class, new_model.num_class);
  print_optional_count_change(out, "Features", old_model.num_feature, new_model.num_feature);
  out << "\n";

  out << "Parameter-like Internals:\n";
  print_fingerprint_change(out, "Full artifact fingerprint", old_model.file_fingerprint, new_model.file_fingerprint);
  print_fingerprint_change(out, "Learned-state fingerprint", old_figures.learned_state_fingerprint,
                           new_figures.learned_state_fingerprint);
  out << "  Note: learned-state fingerprint hashes every tree's splits and leaf values; a change means the trees "
         "differ.\n\n";

  out << "Training Config:\n";
  print_text_change(out, "Objective", old_model.objective, new_model.objective);
  print_text_change(out, "Booster", old_model.booster, new_model.booster);
  print_text_change(out, "Base score", optional_real_text(old_model.base_score),
                    optional_real_text(new_model.base_score));
  print_text_change(out, "Library version", old_model.version, new_model.version);
  out << "\n";

  out << "Features:\n";
  print_count_change(out, "Feature names", old_model.feature_names.size(), new_model.feature_names.size());
  print_feature_name_changes(out, old_model.feature_names, new_model.feature_names);
  out << "\n";

  print_interpretation(out, old_model, new_model, old_figures, new_figures);
}

}  // namespace

Status diff_xgboost(const std::string& old_path, const std::string& new_path, bool json, Io& io) {
  Result<ArtifactPair<XgboostModel>> pair = read_artifact_pair(read_xgboost_model, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) {
    Json document;
    document["type"] = "xgboost";
    document["old"] = Json(xgboost_summary_json(old_model));
    document["new"] = Json(xgboost_summary_json(new_model));
    return print_json_document(io.out, document);
  }
  print_text_diff(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace tarnwick
