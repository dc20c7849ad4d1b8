#include "lightgbm/lightgbm_format.h"

#include "lightgbm/content_test.h"
#include "lightgbm/lightgbm_commands.h"
#include "lightgbm/lightgbm_summary.h"
#include "lightgbm/lightgbm_trees.h"

namespace tarnwick {

namespace {

bool is_text_model(const ContentProbe& probe) { return looks_like_lightgbm_text(probe.head); }

Status explain(const std::string& path, Io& io) { return lightgbm_command({path}, io); }

Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return diff_lightgbm(old_path, new_path, request.json, io);
}

Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  if (Status refused = refuse_onnx_only_rules(options); !refused.is_ok()) return refused.error();
  auto pair = read_artifact_pair(read_lightgbm_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  CheckOutcome outcome{old_model.path, new_model.path, {}, {}};
  if (options.max_size_growth) {
    outcome.results.push_back(
        growth_check("file size growth", old_model.bytes, new_model.bytes, *options.max_size_growth));
  }
  if (options.fail_on_feature_change) {
    outcome.results.push_back(names_unchanged_check("feature names unchanged", old_model.feature_names,
                                                    new_model.feature_names, "feature names"));
  }
  if (options.fail_on_training_config_change) {
    outcome.results.push_back(training_config_check(same_lightgbm_training_config(old_model, new_model),
                                                    "objective/boosting/learning rate/leaves/max depth/metric"));
  }
  return outcome;
}

Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_summary_change(
      read_lightgbm_summary, old_path, new_path, [](const LightgbmSummary& s) { return s.path; },
      explain_lightgbm_change);
}

}  // namespace

const FormatDescriptor kLightgbmFormat{
    .name = "LightGBM",
    .extensions = {"lgb"},
    .claims_content = is_text_model,
    .inspect = lightgbm_command,
    .explain = explain,
    .diff = diff,
    .check = check,
    .explain_change = explain_change,
    .tree_table = read_lightgbm_trees,
};

}  // namespace tarnwick
