#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"
#include "xgboost/xgboost_commands.h"
#include "xgboost/xgboost_summary.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick inspect [--json] [--limit 20] <model.json|model.ubj> [more...]";

std::optional<std::string> quoted(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return escape_control(*text);
}

void print_features(std::ostream& out, const XgboostModel& model, std::uint64_t limit) {
  out << "\nFeatures:\n";
  const auto& features = model.trees.features;
  out << "  count: " << features.size() << "\n";
  if (model.feature_names.empty()) out << "  names: none stated in the model\n";
  for (std::size_t i = 0; i < features.size() && i < limit; ++i) {
    out << "  " << (features[i].name ? escape_control(*features[i].name) : "#" + std::to_string(i)) << " ("
        << escape_control(features[i].type) << ")\n";
  }
  print_rest_count(out, features.size(), limit);
}

void print_summary(std::ostream& out, const XgboostModel& model, std::uint64_t limit) {
  XgboostFigures figures = xgboost_figures(model);
  out << "XGBoost Model Summary\n" << std::string(21, '-') << "\n";
  out << "Model: " << escape_control(display_file_name(model.path)) << "\n";
  out << "Format: XGBoost " << model.encoding << " model\n";
  out << "File size: " << format_bytes(model.bytes) << "\n";
  out << "Library version: " << (model.version ? escape_control(*model.version) : "unknown") << "\n";

  out << "\nStructure:\n";
  print_field(out, "Booster", quoted(model.booster));
  out << "  Trees: " << figures.trees << "\n";
  print_field(out, "Boosting rounds", optional_count_text(model.boosting_rounds));
  print_field(out, "Parallel trees / round", optional_count_text(model.num_parallel_tree));
  print_field(out, "Max depth", optional_count_text(figures.max_depth));
  out << "  Leaves: " << figures.leaves << "\n";
  out << "  Splits: " << figures.splits << "\n";
  print_field(out, "Classes", optional_count_text(model.num_class));
  print_field(out, "Targets", optional_count_text(model.num_target));
  print_field(out, "Features", optional_count_text(model.num_feature));
  if (model.dart_weights) out << "  DART drop weights: " << *model.dart_weights << "\n";

  out << "\nTraining Config:\n";
  print_field(out, "Objective", quoted(model.objective));
  print_field(out, "Base score", optional_real_text(model.base_score));

  out << "\nParameter-like Internals:\n";
  out << "  Full artifact fingerprint: " << format_fingerprint(model.file_fingerprint) << "\n";
  out << "  Learned-state fingerprint: " << format_fingerprint(figures.learned_state_fingerprint) << "\n";
  out << "  Note: learned-state fingerprint hashes every tree's splits and leaf values, so the same trees saved "
         "as JSON or UBJSON match.\n";
  print_features(out, model, limit);
}

}  // namespace

Status xgboost_command(const Args& args, Io& io) {
  Result<InspectorArgs> options = scan_inspector_args(args, DeepOption::Refused);
  if (!options.is_ok()) return options.error();
  if (options.value().paths.empty()) return fail(kUsage);
  std::vector<XgboostModel> models;
  for (const std::string& path : options.value().paths) {
    Result<XgboostModel> model = read_xgboost_model(path);
    if (!model.is_ok()) return model.error();
    models.push_back(model.take());
  }
  if (options.value().json) {
    OrderedJson documents = OrderedJson::array();
    for (const XgboostModel& model : models) documents.push_back(xgboost_summary_json(model));
    return print_json_document(io.out, documents.size() == 1 ? documents.front() : documents);
  }
  for (std::size_t i = 0; i < models.size(); ++i) {
    if (i != 0) io.out << "\n";
    print_summary(io.out, models[i], options.value().limit);
  }
  return Status::ok();
}

}  // namespace tarnwick
