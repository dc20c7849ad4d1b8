#include "cbm/catboost_commands.h"
#include "base/change_json.h"
#include "base/feature_name_changes.h"

namespace tarnwick {

namespace {

constexpr const char* kFormat = "CatBoost binary model (CBM1)";

}  // namespace

Json catboost_summary_object(const CbmSummary& summary) {
  Json object;
  object["path"] = summary.name;
  object["format"] = kFormat;
  object["file_size_bytes"] = summary.file_size_bytes;
  object["trees"] = json_count(summary.iterations);
  object["depth"] = json_count(summary.depth);
  object["configured_max_split_checks_per_row"] = json_count(cbm_split_checks_per_row(summary));
  object["max_leaf_slots"] = json_count(cbm_leaf_slots(summary));
  object["feature_count_recovered"] = summary.feature_names.size();
  object["loss"] = json_text(summary.loss_function);
  object["eval_metric"] = json_text(summary.eval_metric);
  object["learning_rate"] = json_real(summary.learning_rate);
  object["l2_leaf_reg"] = json_real(summary.l2_leaf_reg);
  object["grow_policy"] = json_text(summary.grow_policy);
  object["bootstrap"] = json_text(summary.bootstrap_type);
  object["train_finish_time"] = json_text(summary.train_finish_time);
  object["best_learn_rmse"] = json_real(summary.best_learn_rmse);
  return object;
}

Json catboost_inspect_document(const CbmSummary& summary) {
  Json document;
  document["kind"] = "catboost_inspect";
  document["model_type"] = "CatBoost";
  document["summary"] = catboost_summary_object(summary);
  document["fingerprints"] = {
      {"full_artifact", json_fingerprint(summary.full_artifact_fingerprint)},
      {"metadata", json_fingerprint(summary.metadata_fingerprint)},
      {"learned_state", json_fingerprint(summary.learned_state_fingerprint)},
  };
  document["training_config"] = {
      {"loss", json_text(summary.loss_function)},
      {"eval_metric", json_text(summary.eval_metric)},
      {"learning_rate", json_real(summary.learning_rate)},
      {"l2_leaf_reg", json_real(summary.l2_leaf_reg)},
      {"grow_policy", json_text(summary.grow_policy)},
      {"bootstrap", json_text(summary.bootstrap_type)},
      {"train_finish_time", json_text(summary.train_finish_time)},
  };
  document["metrics"] = {{"best_learn_rmse", json_real(summary.best_learn_rmse)}};
  document["features"] = {
      {"recovered_count", summary.feature_names.size()},
      {"recovered_names", summary.feature_names},
  };
  document["notes"] = Json::array({
      "Recovered feature names come from static artifact inspection and may be incomplete.",
      "Use `tarnwick inspect --deep <model.cbm>` for decoded feature processing, borders, tree splits, "
      "and leaf changes when Python catboost is available.",
  });
  return document;
}

Json catboost_diff_document(const CbmSummary& old_model, const CbmSummary& new_model) {
  Json changes;
  changes["file_size_bytes"] = count_change_json(old_model.file_size_bytes, new_model.file_size_bytes);
  changes["trees"] = count_change_json(old_model.iterations, new_model.iterations);
  changes["depth"] = count_change_json(old_model.depth, new_model.depth);
  changes["configured_max_split_checks_per_row"] =
      count_change_json(cbm_split_checks_per_row(old_model), cbm_split_checks_per_row(new_model));
  changes["max_leaf_slots"] = count_change_json(cbm_leaf_slots(old_model), cbm_leaf_slots(new_model));
  changes["learning_rate"] = float_change_json(old_model.learning_rate, new_model.learning_rate);
  changes["l2_leaf_reg"] = float_change_json(old_model.l2_leaf_reg, new_model.l2_leaf_reg);
  changes["loss"] = text_change_json(old_model.loss_function, new_model.loss_function);
  changes["eval_metric"] = text_change_json(old_model.eval_metric, new_model.eval_metric);
  changes["grow_policy"] = text_change_json(old_model.grow_policy, new_model.grow_policy);
  changes["bootstrap"] = text_change_json(old_model.bootstrap_type, new_model.bootstrap_type);
  changes["train_finish_time"] = text_change_json(old_model.train_finish_time, new_model.train_finish_time);
  changes["best_learn_rmse"] = float_change_json(old_model.best_learn_rmse, new_model.best_learn_rmse);

  FeatureNameChanges names = feature_name_changes(old_model.feature_names, new_model.feature_names);
  Json document;
  document["kind"] = "catboost_diff";
  document["model_type"] = "CatBoost";
  document["old"] = catboost_summary_object(old_model);
  document["new"] = catboost_summary_object(new_model);
  document["changes"] = changes;
  document["fingerprints"] = {
      {"full_artifact",
       fingerprint_change_json(old_model.full_artifact_fingerprint, new_model.full_artifact_fingerprint)},
      {"metadata", fingerprint_change_json(old_model.metadata_fingerprint, new_model.metadata_fingerprint)},
      {"learned_state",
       fingerprint_change_json(old_model.learned_state_fingerprint, new_model.learned_state_fingerprint)},
  };
  document["features"] = {
      {"added", names.added},
      {"removed", names.removed},
      {"changed", old_model.feature_names != new_model.feature_names},
  };
  document["notes"] = Json::array({
      "CatBoost does not expose PyTorch-style parameter tensors in the CBM metadata.",
      "The learned-state fingerprint hashes the non-JSON binary body as a proxy for split borders, leaves, "
      "and categorical stats.",
  });
  return document;
}

}  // namespace tarnwick
