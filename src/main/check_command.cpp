#include "main/check_command.h"

#include <ostream>
#include <set>

#include "cbm/cbm_summary.h"
#include "lightgbm/lightgbm_summary.h"
#include "main/artifact_kind.h"
#include "main/artifact_pair.h"
#include "main/check_rules.h"
#include "main/text.h"
#include "onnx/onnx_architecture.h"
#include "onnx/onnx_summary.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage =
    "usage: tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
    "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>";
constexpr const char* kOnlyOnnxOps = "--max-ops-growth is only supported for ONNX artifacts.";
constexpr const char* kOnlyOnnxParameters = "--max-parameter-growth is only supported for ONNX artifacts.";
constexpr const char* kOnlyOnnxNewOp = "--fail-on-new-op is only supported for ONNX artifacts.";

struct CheckArgs {
  CheckOptions options;
  std::vector<std::string> paths;
};

Result<CheckArgs> scan_args(const Args& args) {
  CheckArgs scanned;
  CheckOptions& options = scanned.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<double>* percentage = arg == "--max-size-growth"        ? &options.max_size_growth
                                        : arg == "--max-ops-growth"       ? &options.max_ops_growth
                                        : arg == "--max-parameter-growth" ? &options.max_parameter_growth
                                                                          : nullptr;
    if (percentage) {
      if (i + 1 == args.size()) return fail(arg + " needs a percentage");
      Result<double> value = parse_percentage(args[++i]);
      if (!value.is_ok()) return value.error();
      *percentage = value.value();
    } else if (arg == "--fail-on-feature-change") {
      options.fail_on_feature_change = true;
    } else if (arg == "--fail-on-training-config-change") {
      options.fail_on_training_config_change = true;
    } else if (arg == "--fail-on-new-op") {
      options.fail_on_new_op = true;
    } else if (arg.starts_with("--")) {
      return fail("unknown check option `" + arg + "`");
    } else {
      scanned.paths.push_back(arg);
    }
  }
  if (scanned.paths.size() != 2) return fail(kUsage);
  return scanned;
}

Status print_report(Io& io, ArtifactKind kind, const std::string& old_name, const std::string& new_name,
                    const std::vector<CheckResult>& results) {
  std::ostream& out = io.out;
  out << "Model Check\n-----------\n";
  out << "Type: " << display_name(kind) << "\nOld: " << escape_control(old_name)
      << "\nNew: " << escape_control(new_name) << "\n\nChecks:\n";
  bool all_passed = true;
  for (const CheckResult& result : results) {
    out << "  " << (result.passed ? "PASS" : "FAIL") << " " << result.name << ": " << escape_control(result.detail)
        << "\n";
    all_passed = all_passed && result.passed;
  }
  if (results.empty()) out << "  PASS artifact pair is readable; no check rules were configured\n";
  out << "\nStatus: " << (all_passed ? "PASS" : "FAIL") << "\n";
  if (!all_passed) return fail("check failed");
  return Status::ok();
}

Status refuse_non_onnx_growth(const CheckOptions& options) {
  if (options.max_ops_growth) return fail(kOnlyOnnxOps);
  if (options.max_parameter_growth) return fail(kOnlyOnnxParameters);
  if (options.fail_on_new_op) return fail(kOnlyOnnxNewOp);
  return Status::ok();
}

CheckResult training_config_check(bool same, const char* fields) { return {"training config unchanged", fields, same}; }

Status check_catboost(const CheckArgs& args, Io& io) {
  if (Status refused = refuse_non_onnx_growth(args.options); !refused.is_ok()) return refused;
  auto pair = read_artifact_pair(read_cbm_summary, args.paths[0], args.paths[1]);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  std::vector<CheckResult> results;
  const CheckOptions& options = args.options;
  if (options.max_size_growth) {
    results.push_back(growth_check("file size growth", old_model.file_size_bytes, new_model.file_size_bytes,
                                   *options.max_size_growth));
  }
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged_check("recovered feature names unchanged", old_model.feature_names,
                                            new_model.feature_names, "recovered names"));
  }
  if (options.fail_on_training_config_change) {
    results.push_back(training_config_check(same_catboost_training_config(old_model, new_model),
                                            "loss/eval metric/learning rate/L2/grow policy/bootstrap"));
  }
  return print_report(io, ArtifactKind::CatBoost, old_model.name, new_model.name, results);
}

Status check_lightgbm(const CheckArgs& args, Io& io) {
  if (Status refused = refuse_non_onnx_growth(args.options); !refused.is_ok()) return refused;
  auto pair = read_artifact_pair(read_lightgbm_summary, args.paths[0], args.paths[1]);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  std::vector<CheckResult> results;
  const CheckOptions& options = args.options;
  if (options.max_size_growth) {
    results.push_back(growth_check("file size growth", old_model.bytes, new_model.bytes, *options.max_size_growth));
  }
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged_check("feature names unchanged", old_model.feature_names, new_model.feature_names,
                                            "feature names"));
  }
  if (options.fail_on_training_config_change) {
    results.push_back(training_config_check(same_lightgbm_training_config(old_model, new_model),
                                            "objective/boosting/learning rate/leaves/max depth/metric"));
  }
  return print_report(io, ArtifactKind::LightGBM, old_model.path, new_model.path, results);
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

Status check_onnx(const CheckArgs& args, Io& io) {
  const CheckOptions& options = args.options;
  if (options.fail_on_feature_change) return fail("--fail-on-feature-change is only supported for CatBoost artifacts.");
  if (options.fail_on_training_config_change) {
    return fail("--fail-on-training-config-change is only supported for CatBoost artifacts.");
  }
  auto pair = read_artifact_pair(read_onnx_summary, args.paths[0], args.paths[1]);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  std::vector<CheckResult> results;
  if (options.max_size_growth) {
    results.push_back(growth_check("file size growth", old_model.file_size_bytes, new_model.file_size_bytes,
                                   *options.max_size_growth));
  }
  if (options.max_ops_growth) {
    results.push_back(growth_check("estimated ops growth", old_model.estimated_ops, new_model.estimated_ops,
                                   *options.max_ops_growth));
  }
  if (options.max_parameter_growth) {
    results.push_back(growth_check("parameter growth", old_model.parameter_values, new_model.parameter_values,
                                   *options.max_parameter_growth));
  }
  if (options.fail_on_new_op) results.push_back(new_operator_check(old_model, new_model));
  return print_report(io, ArtifactKind::ONNX, old_model.name, new_model.name, results);
}

Status check_pytorch(const CheckArgs& args, Io& io) {
  const CheckOptions& options = args.options;
  if (options.max_ops_growth) return fail(kOnlyOnnxOps);
  if (options.fail_on_new_op) return fail(kOnlyOnnxNewOp);
  if (options.fail_on_training_config_change) {
    return fail("--fail-on-training-config-change is only supported for CatBoost/LightGBM artifacts.");
  }
  auto pair = read_artifact_pair(read_pytorch_summary, args.paths[0], args.paths[1]);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  std::vector<CheckResult> results;
  if (options.max_size_growth) {
    results.push_back(growth_check("file size growth", old_model.bytes, new_model.bytes, *options.max_size_growth));
  }
  if (options.max_parameter_growth) {
    results.push_back(growth_check("parameter growth", old_model.estimated_parameter_count,
                                   new_model.estimated_parameter_count, *options.max_parameter_growth));
  }
  if (options.fail_on_feature_change) {
    results.push_back(names_unchanged_check("parameter names unchanged", old_model.param_names, new_model.param_names,
                                            "recovered names"));
  }
  return print_report(io, ArtifactKind::PyTorch, old_model.path, new_model.path, results);
}

}  // namespace

Status check_command(const Args& args, Io& io) {
  Result<CheckArgs> scanned = scan_args(args);
  if (!scanned.is_ok()) return scanned.error();
  const CheckArgs& check = scanned.value();
  ArtifactKind old_kind = detect_artifact_kind(check.paths[0]);
  ArtifactKind new_kind = detect_artifact_kind(check.paths[1]);
  if (old_kind == ArtifactKind::TensorPlanJson && new_kind == ArtifactKind::TensorPlanJson) {
    return fail("check supports CatBoost, LightGBM, ONNX, and PyTorch artifacts, not tensor plan JSON.");
  }
  if (old_kind != new_kind || old_kind == ArtifactKind::Unknown || old_kind == ArtifactKind::TensorPlanJson) {
    return fail("cannot check different or unsupported artifact types: " + std::string(display_name(old_kind)) +
                " vs " + std::string(display_name(new_kind)));
  }
  switch (old_kind) {
    case ArtifactKind::CatBoost: return check_catboost(check, io);
    case ArtifactKind::LightGBM: return check_lightgbm(check, io);
    case ArtifactKind::ONNX: return check_onnx(check, io);
    default: return check_pytorch(check, io);
  }
}

}  // namespace tarnwick
