#include <ostream>

#include "lightgbm/lightgbm_commands.h"
#include "lightgbm/lightgbm_summary.h"
#include "base/change_lines.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]";

void print_summary(std::ostream& out, const LightgbmSummary& summary, std::uint64_t limit) {
  out << "LightGBM Model Summary\n" << std::string(22, '-') << "\n";
  out << "Model: " << escape_control(summary.path) << "\n";
  out << "Format: LightGBM text model\n";
  out << "File size: " << format_bytes(summary.bytes) << "\n";
  if (summary.version) out << "Format version: " << escape_control(*summary.version) << "\n";

  out << "\nStructure:\n";
  out << "  Trees: " << summary.num_trees << "\n";
  print_field(out, "Configured leaves / tree", optional_count_text(summary.num_leaves));
  print_field(out, "Max leaf slots (trees * leaves)", optional_count_text(lightgbm_leaf_slots(summary)));
  print_field(out, "Classes", optional_count_text(summary.num_class));
  print_field(out, "Features", optional_count_text(summary.num_features));

  out << "\nTraining Config:\n";
  print_field(out, "Objective", summary.objective);
  print_field(out, "Boosting", summary.boosting);
  print_field(out, "Metric", summary.metric);
  print_field(out, "Learning rate", optional_fixed_text(summary.learning_rate, 4));
  print_field(out, "Configured iterations", optional_count_text(summary.num_iterations));
  print_field(out, "Max depth", summary.max_depth ? std::optional(format_max_depth(*summary.max_depth)) : std::nullopt);

  out << "\nParameter-like Internals:\n";
  out << "  Full artifact fingerprint: " << format_fingerprint(summary.file_fingerprint) << "\n";
  out << "  Metadata fingerprint: "
      << (summary.metadata_fingerprint ? format_fingerprint(*summary.metadata_fingerprint) : "unknown") << "\n";
  out << "  Learned-state fingerprint: " << format_fingerprint(summary.learned_state_fingerprint) << "\n";
  out << "  Note: learned-state fingerprint hashes the leaf-value lines as a proxy for the learned tree "
         "outputs.\n";

  out << "\nFeature Names:\n";
  const WordList& names = summary.feature_names;
  if (names.empty()) {
    out << "  none found in model header\n";
    return;
  }
  print_limited_names(out, "found", names, limit);
}

Status print_json_summaries(const InspectorArgs& options, Io& io) {
  OrderedJson documents = OrderedJson::array();
  for (const std::string& path : options.paths) {
    Result<LightgbmSummary> summary = read_lightgbm_summary(path);
    if (!summary.is_ok()) return summary.error();
    documents.push_back(lightgbm_summary_json(summary.value()));
  }
  if (documents.size() == 1) return print_json_document(io.out, documents.front());
  return print_json_document(io.out, documents);
}

}  // namespace

Status lightgbm_command(const Args& args, Io& io) {
  Result<InspectorArgs> options = scan_inspector_args(args, DeepOption::Refused);
  if (!options.is_ok()) return options.error();
  if (options.value().paths.empty()) return fail(kUsage);
  if (options.value().json) return print_json_summaries(options.value(), io);

  bool first = true;
  for (const std::string& path : options.value().paths) {
    Result<LightgbmSummary> summary = read_lightgbm_summary(path);
    if (!summary.is_ok()) return summary.error();
    if (!first) io.out << "\n";
    first = false;
    print_summary(io.out, summary.value(), options.value().limit);
  }
  return Status::ok();
}

}  // namespace tarnwick
