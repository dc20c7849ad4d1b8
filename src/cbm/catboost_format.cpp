#include "cbm/catboost_format.h"

#include "cbm/catboost_commands.h"
#include "cbm/cbm_core_reader.h"
#include "cbm/cbm_summary.h"

namespace tarnwick {

namespace {

bool has_signature(const ContentProbe& probe) { return probe.head.starts_with("CBM1"); }

Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return diff_catboost(old_path, new_path, request.deep, request.json, io);
}

Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  if (Status refused = refuse_onnx_only_rules(options); !refused.is_ok()) return refused.error();
  auto pair = read_artifact_pair(read_cbm_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  CheckOutcome outcome{old_model.name, new_model.name, {}, {}};
  if (options.max_size_growth) {
    outcome.results.push_back(growth_check("file size growth", old_model.file_size_bytes, new_model.file_size_bytes,
                                           *options.max_size_growth));
  }
  if (options.fail_on_feature_change) {
    outcome.results.push_back(names_unchanged_check("recovered feature names unchanged", old_model.feature_names,
                                                    new_model.feature_names, "recovered names"));
  }
  if (options.fail_on_training_config_change) {
    outcome.results.push_back(training_config_check(same_catboost_training_config(old_model, new_model),
                                                    "loss/eval metric/learning rate/L2/grow policy/bootstrap"));
  }
  return outcome;
}

Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_summary_change(
      read_cbm_summary, old_path, new_path, [](const CbmSummary& s) { return s.name; }, explain_catboost_change);
}

}  // namespace

const FormatDescriptor kCatBoostFormat{
    .name = "CatBoost",
    .extensions = {"cbm"},
    .claims_content = has_signature,
    .inspect = catboost_command,
    .inspects_deep = true,
    .explain = explain_catboost,
    .diff = diff,
    .diffs_deep = true,
    .check = check,
    .explain_change = explain_change,
    .tree_table = read_cbm_trees,
};

}  // namespace tarnwick
