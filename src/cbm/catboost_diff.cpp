#include <ostream>

#include "cbm/catboost_commands.h"
#include "base/artifact_pair.h"
#include "base/change_lines.h"
#include "base/feature_name_changes.h"
#include "base/format.h"
#include "base/text.h"
#include "python/deep_catboost.h"

namespace tarnwick {

namespace {

bool same_structure(const CbmSummary& a, const CbmSummary& b) {
  return a.iterations == b.iterations && a.depth == b.depth &&
         cbm_split_checks_per_row(a) == cbm_split_checks_per_row(b) && cbm_leaf_slots(a) == cbm_leaf_slots(b);
}

void print_rmse_note(std::ostream& out, std::optional<double> old_rmse, std::optional<double> new_rmse) {
  if (!old_rmse || !new_rmse || *old_rmse == *new_rmse) return;
  bool increased = *new_rmse > *old_rmse;
  double change = increased ? *new_rmse - *old_rmse : *old_rmse - *new_rmse;
  double percent = *old_rmse == 0.0 ? 0.0 : change * 100.0 / *old_rmse;
  out << "  Note: learn RMSE " << (increased ? "increased" : "decreased") << " by " << format_fixed(percent, 2)
      << "%. Lower is usually better if this metric is comparable.\n";
}

void print_interpretation(std::ostream& out, const CbmSummary& old_model, const CbmSummary& new_model) {
  bool structure_same = same_structure(old_model, new_model);
  out << "Interpretation:\n";
  out << (structure_same ? "  Structure is unchanged: same tree count, configured depth, and estimated row cost.\n"
                         : "  Structure changed: inference cost or ensemble shape may differ.\n");
  out << (same_catboost_training_config(old_model, new_model)
              ? "  Training config looks unchanged from embedded metadata.\n"
              : "  Training config changed in embedded metadata.\n");
  out << (old_model.feature_names == new_model.feature_names ? "  Recovered feature names are unchanged.\n"
                                                             : "  Recovered feature names changed.\n");
  if (structure_same && old_model.file_size_bytes != new_model.file_size_bytes) {
    out << "  File size changed despite identical coarse structure; likely leaf values, borders, metadata, or "
           "categorical statistics changed.\n";
  }
  if (old_model.learned_state_fingerprint != new_model.learned_state_fingerprint) {
    out << "  Learned-state fingerprint changed, so internal CatBoost parameters likely changed even if tree "
           "count/depth did not.\n";
  }
}

void print_text_diff(std::ostream& out, const CbmSummary& old_model, const CbmSummary& new_model) {
  out << "Model Diff\n" << std::string(10, '-') << "\n";
  out << "Type: CatBoost\nOld: " << escape_control(old_model.name) << "\nNew: " << escape_control(new_model.name)
      << "\n\n";

  out << "Structure:\n";
  print_size_change(out, "File size", old_model.file_size_bytes, new_model.file_size_bytes);
  print_optional_count_change(out, "Trees", old_model.iterations, new_model.iterations);
  print_optional_count_change(out, "Depth", old_model.depth, new_model.depth);
  print_optional_count_change(out, "Configured/max split checks / row", cbm_split_checks_per_row(old_model),
                              cbm_split_checks_per_row(new_model));
  print_optional_count_change(out, "Max leaf slots", cbm_leaf_slots(old_model), cbm_leaf_slots(new_model));
  out << "\n";

  out << "Parameter-like Internals:\n";
  print_fingerprint_change(out, "Full artifact fingerprint", old_model.full_artifact_fingerprint,
                           new_model.full_artifact_fingerprint);
  print_fingerprint_change(out, "Metadata fingerprint", old_model.metadata_fingerprint, new_model.metadata_fingerprint);
  print_fingerprint_change(out, "Learned-state fingerprint", old_model.learned_state_fingerprint,
                           new_model.learned_state_fingerprint);
  out << "  Note: CatBoost does not expose PyTorch-style parameter tensors here.\n"
         "  Learned-state fingerprint hashes the non-JSON binary body as a proxy for split borders, leaves, and "
         "categorical stats.\n\n";

  out << "Training Config:\n";
  print_text_change(out, "Loss", old_model.loss_function, new_model.loss_function);
  print_text_change(out, "Eval metric", old_model.eval_metric, new_model.eval_metric);
  print_float_change(out, "Learning rate", old_model.learning_rate, new_model.learning_rate);
  print_float_change(out, "L2 leaf reg", old_model.l2_leaf_reg, new_model.l2_leaf_reg);
  print_text_change(out, "Grow policy", old_model.grow_policy, new_model.grow_policy);
  print_text_change(out, "Bootstrap", old_model.bootstrap_type, new_model.bootstrap_type);
  print_text_change(out, "Train finished", old_model.train_finish_time, new_model.train_finish_time);
  out << "\n";

  out << "Metrics:\n";
  print_float_change(out, "Best learn RMSE", old_model.best_learn_rmse, new_model.best_learn_rmse);
  print_rmse_note(out, old_model.best_learn_rmse, new_model.best_learn_rmse);
  out << "\n";

  out << "Features:\n";
  print_count_change(out, "Recovered feature names", old_model.feature_names.size(), new_model.feature_names.size());
  print_feature_name_changes(out, old_model.feature_names, new_model.feature_names);
  out << "\n";

  print_interpretation(out, old_model, new_model);
}

}  // namespace

Status diff_catboost(const std::string& old_path, const std::string& new_path, bool deep, bool json, Io& io) {
  Result<ArtifactPair<CbmSummary>> pair = read_artifact_pair(read_cbm_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) return print_json_document(io.out, catboost_diff_document(old_model, new_model));

  print_text_diff(io.out, old_model, new_model);
  if (!deep) {
    io.out << "\nDeep Diff:\n"
              "  Run `tarnwick diff --deep <old.cbm> <new.cbm>` to decode trees, splits, leaf values, borders, and "
              "feature typing with CatBoost.\n";
    return Status::ok();
  }
  io.out << "\n";
  return run_deep_catboost_diff(io.out, old_path, new_path);
}

}  // namespace tarnwick
