#include "xgboost/xgboost_format.h"

#include "base/text.h"
#include "xgboost/content_test.h"
#include "xgboost/xgboost_commands.h"
#include "xgboost/xgboost_model.h"
#include "xgboost/xgboost_summary.h"

namespace tarnwick {

namespace {

bool is_xgboost_model(const ContentProbe& probe) { return looks_like_xgboost_model(probe.head); }

Status explain(const std::string& path, Io& io) { return xgboost_command({path}, io); }

Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return diff_xgboost(old_path, new_path, request.json, io);
}

Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  if (Status refused = refuse_onnx_only_rules(options); !refused.is_ok()) return refused.error();
  auto pair = read_artifact_pair(read_xgboost_model, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  CheckOutcome outcome{display_file_name(old_model.path), display_file_name(new_model.path), {}, {}};
  if (options.max_size_growth) {
    outcome.results.push_back(
        growth_check("file size growth", old_model.bytes, new_model.bytes, *options.max_size_growth));
  }
  if (options.fail_on_feature_change) {
    outcome.results.push_back(names_unchanged_check("feature names unchanged", old_model.feature_names,
                                                    new_model.feature_names, "feature names"));
  }
  if (options.fail_on_training_config_change) {
    outcome.results.push_back(training_config_check(same_xgboost_training_config(old_model, new_model),
                                                    "objective/booster/base score/classes/targets/parallel trees"));
  }
  return outcome;
}

Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_summary_change(
      read_xgboost_model, old_path, new_path, [](const XgboostModel& m) { return display_file_name(m.path); },
      explain_xgboost_change);
}

}  // namespace

// `.json` belongs to the tensor plan format, so a JSON model is claimed by its content alone.
const FormatDescriptor kXgboostFormat{
    .name = "XGBoost",
    .extensions = {"ubj"},
    .claims_content = is_xgboost_model,
    .inspect = xgboost_command,
    .explain = explain,
    .diff = diff,
    .check = check,
    .explain_change = explain_change,
    .tree_table = read_xgboost_trees,
};

}  // namespace tarnwick
