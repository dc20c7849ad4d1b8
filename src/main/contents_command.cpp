#include "main/contents_command.h"

#include <ostream>

#include "main/artifact_kind.h"
#include "main/inspector_args.h"
#include "main/tensor_table_source.h"
#include "safetensors/sibling_config.h"
#include "tables/tensor_contents_diff.h"
#include "tables/tensor_contents_report.h"
#include "tables/tree_contents.h"

namespace tarnwick {

namespace {

constexpr const char* kContentsUsage = "usage: tarnwick contents [--json] [--limit N] <model>";
constexpr const char* kContentsDiffUsage = "usage: tarnwick diff --contents [--json] [--limit N] <old-model> <new-model>";

bool is_tree_kind(ArtifactKind kind) { return kind == ArtifactKind::CatBoost || kind == ArtifactKind::LightGBM; }

Error unsupported(const std::string& path) {
  return fail("unsupported artifact type for `" + path +
              "`. Try .pt/.pth, .safetensors, .gguf, .onnx, .cbm, or .lgb.");
}

Result<TensorTable> read_checked_table(const std::string& path, ArtifactKind kind) {
  Result<TensorTable> table = read_tensor_table(path, kind);
  if (!table.is_ok()) return table;
  Result<TensorTotals> totals = tensor_totals(table.value());
  if (!totals.is_ok()) return totals.error();
  return table;
}

}  // namespace

Status contents_command(const Args& args, Io& io) {
  Result<InspectorArgs> scanned = scan_inspector_args(args, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.size() != 1) return fail(kContentsUsage);
  const std::string& path = options.paths.front();
  ArtifactKind kind = detect_artifact_kind(path);
  if (is_tree_kind(kind)) return print_tree_contents(path, options.json, options.limit, io);
  if (!holds_tensors(kind)) return unsupported(path);
  Result<TensorTable> table = read_checked_table(path, kind);
  if (!table.is_ok()) return table.error();
  if (options.json) {
    Result<OrderedJson> document = tensor_contents_json(table.value());
    if (!document.is_ok()) return document.error();
    return print_json_document(io.out, document.value());
  }
  // Hugging Face directories keep the model's config.json beside the safetensors weights.
  Json config = kind == ArtifactKind::Safetensors ? read_sibling_config(path) : Json();
  return print_tensor_contents(io.out, table.value(), options.limit, config);
}

Status contents_diff_command(const Args& args, Io& io) {
  Args rest;
  for (const std::string& arg : args) {
    if (arg != "--contents") rest.push_back(arg);
  }
  Result<InspectorArgs> scanned = scan_inspector_args(rest, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.size() != 2) return fail(kContentsDiffUsage);
  const std::string& old_path = options.paths[0];
  const std::string& new_path = options.paths[1];
  ArtifactKind old_kind = detect_artifact_kind(old_path);
  ArtifactKind new_kind = detect_artifact_kind(new_path);
  if (is_tree_kind(old_kind) && old_kind == new_kind) {
    return print_tree_contents_diff(old_path, new_path, options.json, options.limit, io);
  }
  if (!holds_tensors(old_kind) || !holds_tensors(new_kind)) {
    return fail("cannot diff different or unsupported artifact types: " + std::string(display_name(old_kind)) + " vs " +
                std::string(display_name(new_kind)));
  }
  Result<TensorTable> old_table = read_checked_table(old_path, old_kind);
  if (!old_table.is_ok()) return old_table.error();
  Result<TensorTable> new_table = read_checked_table(new_path, new_kind);
  if (!new_table.is_ok()) return new_table.error();
  Result<TensorContentsDiff> diff = diff_tensor_tables(old_table.value(), new_table.value());
  if (!diff.is_ok()) return diff.error();
  if (options.json) {
    return print_json_document(io.out, contents_diff_json(old_table.value(), new_table.value(), diff.value()));
  }
  return print_contents_diff(io.out, old_table.value(), new_table.value(), diff.value(), options.limit);
}

}  // namespace tarnwick
