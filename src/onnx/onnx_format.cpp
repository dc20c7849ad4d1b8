#include "onnx/onnx_format.h"

#include "onnx/profile/profile_command.h"

#include <set>

#include "base/figure_notes.h"
#include "onnx/onnx_scan.h"
#include "onnx/onnx_architecture.h"
#include "onnx/onnx_commands.h"
#include "onnx/onnx_summary.h"
#include "onnx/onnx_tensors.h"

namespace tarnwick {

namespace {

Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return onnx_diff(old_path, new_path, request.json, io);
}

CheckResult new_operator_check(const OnnxSummary& old_model, const OnnxSummary& new_model) {
  std::set<std::string> old_types = operator_types(old_model);
  // Counted, not judged by the joined text: an operator type may be the empty string.
  std::vector<std::string> added;
  for (const std::string& op : operator_types(new_model)) {
    if (!old_types.count(op)) added.push_back(op);
  }
  if (added.empty()) return {"no new ONNX operators", "operator set unchanged", true};
  std::string listed;
  for (std::size_t i = 0; i < added.size(); ++i) listed += (i ? ", " : "") + added[i];
  return {"no new ONNX operators", "new operators: " + listed, false};
}

Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  if (options.fail_on_feature_change) return fail("--fail-on-feature-change is only supported for CatBoost artifacts.");
  if (options.fail_on_training_config_change) {
    return fail("--fail-on-training-config-change is only supported for CatBoost artifacts.");
  }
  auto pair = read_artifact_pair(read_onnx_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  CheckOutcome outcome{old_model.name, new_model.name, {}, {}};
  if (options.max_size_growth) {
    outcome.results.push_back(growth_check("file size growth", old_model.file_size_bytes, new_model.file_size_bytes,
                                           *options.max_size_growth));
  }
  if (options.max_ops_growth) {
    outcome.results.push_back(growth_check("estimated ops growth", old_model.estimated_ops, new_model.estimated_ops,
                                           *options.max_ops_growth));
  }
  if (options.max_parameter_growth) {
    outcome.results.push_back(growth_check("parameter growth", old_model.parameter_values,
                                           new_model.parameter_values, *options.max_parameter_growth));
  }
  if (options.fail_on_new_op) outcome.results.push_back(new_operator_check(old_model, new_model));
  if (options.max_ops_growth) outcome.notes = pair_notes(old_model.estimate_notes, new_model.estimate_notes);
  return outcome;
}

Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_summary_change(
      read_onnx_summary, old_path, new_path, [](const OnnxSummary& s) { return s.name; }, explain_onnx_change);
}

}  // namespace

// ONNX files have no signature of their own, so the extension decides. Exporters rename and fold
// initializers (`onnx::MatMul_245`), so their names do not describe the network's blocks and
// `contents` gives no Architecture section.
const FormatDescriptor kOnnxFormat{
    .name = "ONNX",
    .extensions = {"onnx"},
    .inspect = onnx_command,
    .explain = explain_onnx,
    .diff = diff,
    .check = check,
    .explain_change = explain_change,
    .tensor_table = read_onnx_tensor_table,
    .profile = profile_command,
    .scan = scan::scan_onnx,
};

}  // namespace tarnwick
