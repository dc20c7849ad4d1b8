#include <ostream>

#include "cbm/catboost_commands.h"
#include "base/change_lines.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"
#include "python/deep_catboost.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick catboost [--deep] [--json] [--limit 20] <model.cbm> [more.cbm...]";

void print_summary(std::ostream& out, const CbmSummary& summary, std::uint64_t limit) {
  out << "CatBoost Model Summary\n" << std::string(22, '-') << "\n";
  out << "Model: " << escape_control(summary.name) << "\n";
  out << "Format: CatBoost binary model (CBM1)\n";
  out << "File size: " << format_bytes(summary.file_size_bytes) << "\n";

  out << "\nExecution Plan:\n  Input row\n";
  for (const char* step :
       {"Quantize numeric/categorical features", "Traverse symmetric tree ensemble", "Sum leaf values"}) {
    out << "   |\n   v\n  " << step << "\n";
  }

  std::optional<std::uint64_t> split_checks = cbm_split_checks_per_row(summary);
  out << "\nEstimated Cost:\n";
  print_field(out, "Trees / row", optional_count_text(summary.iterations));
  print_field(out, "Configured/max split checks / row", optional_count_text(split_checks));
  print_field(out, "Max leaf slots", optional_count_text(cbm_leaf_slots(summary)));
  if (split_checks) {
    out << "  Why: " << *summary.iterations << " trees * depth " << *summary.depth << " = " << *split_checks
        << " split checks / row\n";
  }

  out << "\nTraining:\n";
  print_field(out, "Loss", summary.loss_function);
  print_field(out, "Eval metric", summary.eval_metric);
  print_field(out, "Learning rate", optional_fixed_text(summary.learning_rate, 4));
  print_field(out, "Best learn RMSE", optional_fixed_text(summary.best_learn_rmse, 6));
  print_field(out, "Train finished", summary.train_finish_time);

  out << "\nTree Config:\n";
  print_field(out, "Iterations", optional_count_text(summary.iterations));
  print_field(out, "Depth", optional_count_text(summary.depth));
  print_field(out, "Grow policy", summary.grow_policy);
  print_field(out, "L2 leaf reg",
              summary.l2_leaf_reg ? std::optional(format_real(*summary.l2_leaf_reg)) : std::nullopt);
  print_field(out, "Bootstrap", summary.bootstrap_type);

  out << "\nRecovered Feature Names:\n";
  const std::vector<std::string>& names = summary.feature_names;
  if (names.empty()) {
    out << "  none recovered from binary metadata\n";
  } else {
    print_limited_names(out, "recovered", names, limit);
  }

  out << "\nNote:\n"
         "  This inspects embedded CatBoost metadata without executing the model.\n"
         "  Feature names are recovered best-effort from CBM strings.\n"
         "  Feature importance and exact tree structure need CatBoost's native tooling.\n";
}

Status print_json_documents(const std::vector<std::string>& paths, Io& io) {
  std::vector<Json> documents;
  for (const std::string& path : paths) {
    Result<CbmSummary> summary = read_cbm_summary(path);
    if (!summary.is_ok()) return summary.error();
    documents.push_back(catboost_inspect_document(summary.value()));
  }
  if (documents.size() == 1) return print_json_document(io.out, documents.front());
  return print_json_array(io.out, documents);
}

}  // namespace

Status catboost_command(const Args& args, Io& io) {
  Result<InspectorArgs> scanned = scan_inspector_args(args, DeepOption::Accepted);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.empty()) return fail(kUsage);
  if (options.deep && options.json) return fail(kDeepWithJson);
  if (options.json) return print_json_documents(options.paths, io);

  bool first = true;
  for (const std::string& path : options.paths) {
    Result<CbmSummary> summary = read_cbm_summary(path);
    if (!summary.is_ok()) return summary.error();
    if (!first) io.out << "\n";
    first = false;
    print_summary(io.out, summary.value(), options.limit);
    if (options.deep) {
      io.out << "\n";
      print_deep_feature_processing(io.out, path, summary.value().feature_names);
    }
  }
  return Status::ok();
}

}  // namespace tarnwick
