#include "main/explain_diff.h"

#include "cbm/cbm_summary.h"
#include "lightgbm/lightgbm_summary.h"
#include "main/artifact_kind.h"
#include "main/artifact_pair.h"
#include "main/change_lines.h"
#include "main/format.h"
#include "main/text.h"
#include "onnx/onnx_summary.h"
#include "pt/pytorch_summary.h"
#include "tables/tensor_file_summary.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick explain-diff <old-model> <new-model>  (.onnx, .cbm, or .lgb/.txt)";

void print_frame_start(std::ostream& out, ArtifactKind kind, const std::string& old_name, const std::string& new_name) {
  out << "Model Change Explanation\n" << std::string(24, '-') << "\n";
  out << "Type: " << display_name(kind) << "\nOld: " << escape_control(old_name)
      << "\nNew: " << escape_control(new_name) << "\n\nArchitecture:\n";
}

template <class Summary, class Name, class Explain>
Status explain_pair(const std::string& old_path, const std::string& new_path, ArtifactKind kind,
                    Result<Summary> (*read)(const std::string&), Name name, Explain explain, Io& io) {
  Result<ArtifactPair<Summary>> pair = read_artifact_pair(read, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  print_frame_start(io.out, kind, name(old_model), name(new_model));
  explain(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace

std::string name_set_change(const std::vector<std::string>& old_names, const std::vector<std::string>& new_names,
                            const char* no_names_phrase) {
  if (old_names.empty() && new_names.empty()) return no_names_phrase;
  FeatureNameChanges changes = feature_name_changes(old_names, new_names);
  if (changes.added.empty() && changes.removed.empty()) return "same set";
  return "+" + std::to_string(changes.added.size()) + " added, -" + std::to_string(changes.removed.size()) + " removed";
}

void print_name_set_lists(std::ostream& out, const FeatureNameChanges& changes) {
  print_name_list(out, "    added:  ", changes.added);
  print_name_list(out, "    removed:", changes.removed);
}

void print_file_size_line(std::ostream& out, std::uint64_t old_bytes, std::uint64_t new_bytes) {
  out << "File size: " << format_bytes(old_bytes) << " -> " << format_bytes(new_bytes) << " ("
      << format_percent_change(old_bytes, new_bytes) << ")\n";
}

std::string optional_real(const std::optional<double>& value) { return value ? format_real(*value) : "unknown"; }

void print_summary_frame_end(std::ostream& out, const std::string& verdict_line, const char* note) {
  out << "\nSummary:\n" << verdict_line << "\n" << note;
}

Status explain_diff_command(const Args& args, Io& io) {
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (!arg.starts_with("--")) paths.push_back(arg);
  }
  if (paths.size() != 2) return fail(kUsage);
  ArtifactKind old_kind = detect_artifact_kind(paths[0]);
  ArtifactKind new_kind = detect_artifact_kind(paths[1]);
  bool supported = old_kind == ArtifactKind::CatBoost || old_kind == ArtifactKind::LightGBM ||
                   old_kind == ArtifactKind::ONNX || old_kind == ArtifactKind::PyTorch ||
                   is_tensor_file_kind(old_kind);
  if (!supported || old_kind != new_kind) {
    return fail("explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): " +
                std::string(display_name(old_kind)) + " vs " + std::string(display_name(new_kind)));
  }
  switch (old_kind) {
    case ArtifactKind::CatBoost:
      return explain_pair<CbmSummary>(
          paths[0], paths[1], old_kind, read_cbm_summary, [](const CbmSummary& s) { return s.name; },
          explain_catboost_change, io);
    case ArtifactKind::LightGBM:
      return explain_pair<LightgbmSummary>(
          paths[0], paths[1], old_kind, read_lightgbm_summary, [](const LightgbmSummary& s) { return s.path; },
          explain_lightgbm_change, io);
    case ArtifactKind::ONNX:
      return explain_pair<OnnxSummary>(
          paths[0], paths[1], old_kind, read_onnx_summary, [](const OnnxSummary& s) { return s.name; },
          explain_onnx_change, io);
    case ArtifactKind::Safetensors:
    case ArtifactKind::GGUF:
      return explain_pair<TensorFileSummary>(
          paths[0], paths[1], old_kind, read_tensor_file_summary, [](const TensorFileSummary& s) { return s.path; },
          explain_tensor_file_change, io);
    default:
      return explain_pair<PyTorchSummary>(
          paths[0], paths[1], old_kind, read_pytorch_summary, [](const PyTorchSummary& s) { return s.path; },
          explain_pytorch_change, io);
  }
}

}  // namespace tarnwick
