#include <ostream>

#include "cbm/catboost_commands.h"
#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "python/deep_catboost.h"

namespace tarnwick {

namespace {

void print_evidence(std::ostream& out, const CbmSummary& summary) {
  out << "This model appears to be a CatBoost binary model.\n\nEvidence:\n  - CBM1 binary signature\n";
  if (summary.iterations) out << "  - " << *summary.iterations << " trees / boosting iterations\n";
  if (summary.depth) out << "  - maximum symmetric-tree depth " << *summary.depth << "\n";
  if (summary.grow_policy) out << "  - grow policy: " << escape_control(*summary.grow_policy) << "\n";
  if (summary.loss_function) out << "  - optimized loss: " << escape_control(*summary.loss_function) << "\n";
  if (!summary.feature_names.empty()) {
    out << "  - " << summary.feature_names.size() << " recovered feature names in embedded metadata\n";
  }
}

}  // namespace

Status explain_catboost(const std::string& path, Io& io) {
  Result<CbmSummary> read = read_cbm_summary(path);
  if (!read.is_ok()) return read.error();
  const CbmSummary& summary = read.value();
  std::ostream& out = io.out;

  out << "CatBoost Artifact Explanation\n" << std::string(29, '-') << "\n";
  out << "Model: " << escape_control(summary.name) << "\n\n";
  print_evidence(out, summary);

  out << "\nEstimated Inference Shape:\n";
  print_field(out, "Trees / row", optional_count_text(summary.iterations));
  print_field(out, "Configured/max depth", optional_count_text(summary.depth));
  print_field(out, "Configured/max split checks / row", optional_count_text(cbm_split_checks_per_row(summary)));
  print_field(out, "Max leaf slots", optional_count_text(cbm_leaf_slots(summary)));
  out << "  File size: " << format_bytes(summary.file_size_bytes) << "\n";

  out << "\nTraining Metadata:\n";
  print_field(out, "Loss", summary.loss_function);
  print_field(out, "Eval metric", summary.eval_metric);
  print_field(out, "Learning rate", optional_fixed_text(summary.learning_rate, 6));
  print_field(out, "L2 leaf reg", optional_fixed_text(summary.l2_leaf_reg, 6));
  print_field(out, "Bootstrap", summary.bootstrap_type);
  print_field(out, "Train finished", summary.train_finish_time);
  print_field(out, "Best learn RMSE", optional_fixed_text(summary.best_learn_rmse, 6));

  out << "\n";
  print_deep_feature_processing(out, path, summary.feature_names);
  out << "\n";

  out << "Learned State:\n";
  out << "  Full artifact fingerprint: " << format_fingerprint(summary.full_artifact_fingerprint) << "\n";
  out << "  Metadata fingerprint: "
      << (summary.metadata_fingerprint ? format_fingerprint(*summary.metadata_fingerprint) : "unknown") << "\n";
  out << "  Learned-state fingerprint: " << format_fingerprint(summary.learned_state_fingerprint) << "\n";
  out << "  CatBoost stores learned split borders, leaves, and categorical statistics in the binary body.\n";

  out << "\nHow to read this:\n"
         "  This is a tree ensemble, not a tensor graph.\n"
         "  Runtime cost is mostly tree traversal: roughly trees * depth split checks per row.\n"
         "  Same tree count/depth does not mean same model; learned splits, borders, CTRs, and leaf values can "
         "still change.\n"
         "  To compare two CatBoost versions deeply, run:\n"
         "    tarnwick diff --deep <old.cbm> <new.cbm>\n";
  return Status::ok();
}

}  // namespace tarnwick
