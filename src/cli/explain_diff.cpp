#include "cli/explain_diff.h"

#include "registry/registry.h"
#include "base/text.h"

namespace tarnwick {

namespace {

constexpr const char* kExplainDiffUsage =
    "usage: tarnwick explain-diff <old-model> <new-model>  (.onnx, .cbm, or .lgb/.txt)";

void print_frame_start(std::ostream& out, std::string_view kind, const std::string& old_name,
                       const std::string& new_name) {
  out << "Model Change Explanation\n" << std::string(24, '-') << "\n";
  out << "Type: " << kind << "\nOld: " << escape_control(old_name)
      << "\nNew: " << escape_control(new_name) << "\n\nArchitecture:\n";
}

}  // namespace

Status explain_diff_command(const Args& args, Io& io) {
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (!arg.starts_with("--")) paths.push_back(arg);
  }
  if (paths.size() != 2) return fail(kExplainDiffUsage);
  const FormatDescriptor* old_format = detect_format(paths[0]);
  const FormatDescriptor* new_format = detect_format(paths[1]);
  if (old_format == nullptr || old_format->explain_change == nullptr || old_format != new_format) {
    return fail("explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): " +
                std::string(kind_name(old_format)) + " vs " + std::string(kind_name(new_format)));
  }
  Result<ChangeExplanation> explanation = old_format->explain_change(paths[0], paths[1]);
  if (!explanation.is_ok()) return explanation.error();
  print_frame_start(io.out, old_format->name, explanation.value().old_name, explanation.value().new_name);
  explanation.value().print_sections(io.out);
  return Status::ok();
}

}  // namespace tarnwick
