#include "main/routing.h"

#include <ostream>

#include "cbm/catboost_commands.h"
#include "demo/teaching.h"
#include "lightgbm/lightgbm_commands.h"
#include "main/artifact_kind.h"
#include "main/contents_command.h"
#include "main/inspector_args.h"
#include "model/plan_commands.h"
#include "onnx/onnx_commands.h"
#include "pt/pytorch_commands.h"
#include "tables/tensor_file_commands.h"

namespace tarnwick {

namespace {

constexpr const char* kInspectUsage =
    "usage: tarnwick inspect [--deep] [--json] [--limit 20] <model.cbm|model.onnx|model.json>";
constexpr const char* kDiffUsage = "usage: tarnwick diff [--deep] [--json] <old-model> <new-model>";

bool contains(const Args& args, const char* word) {
  for (const std::string& arg : args) {
    if (arg == word) return true;
  }
  return false;
}

}  // namespace

Status inspect_command(const Args& args, Io& io) {
  if (args.empty()) return fail(kInspectUsage);
  const std::string* path = nullptr;
  for (std::size_t i = 0; i < args.size() && path == nullptr; ++i) {
    if (args[i] == "--limit") {
      if (i + 1 == args.size()) return fail("--limit needs a number");
      ++i;
    } else if (args[i] != "--deep" && args[i] != "--json") {
      path = &args[i];
    }
  }
  if (path == nullptr) return fail(kInspectUsage);

  bool deep = contains(args, "--deep");
  ArtifactKind kind = detect_artifact_kind(*path);
  if (kind == ArtifactKind::Unknown) {
    return fail("unsupported artifact type for `" + *path + "`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json.");
  }
  if (kind == ArtifactKind::CatBoost) return catboost_command(args, io);
  if (deep) return fail(kDeepOnlyForCatboost);
  switch (kind) {
    case ArtifactKind::LightGBM: return lightgbm_command(args, io);
    case ArtifactKind::ONNX: return onnx_command(args, io);
    case ArtifactKind::PyTorch: return pytorch_command(args, io);
    case ArtifactKind::Safetensors:
    case ArtifactKind::GGUF: return tensor_file_inspect(args, io);
    default: break;
  }
  if (contains(args, "--limit")) {
    return fail("--limit inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  if (contains(args, "--json")) {
    return fail("--json inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  return tensor_inspect_command(args, io);
}

Status diff_command(const Args& args, Io& io) {
  if (contains(args, "--contents")) return contents_diff_command(args, io);
  bool deep = false, json = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--deep") {
      deep = true;
    } else if (arg == "--json") {
      json = true;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return fail(kDiffUsage);
  if (deep && json) return fail(kDeepWithJson);

  ArtifactKind old_kind = detect_artifact_kind(paths[0]);
  ArtifactKind new_kind = detect_artifact_kind(paths[1]);
  if (old_kind != new_kind || old_kind == ArtifactKind::Unknown) {
    return fail("cannot diff different or unsupported artifact types: " + std::string(display_name(old_kind)) + " vs " +
                std::string(display_name(new_kind)));
  }
  if (old_kind == ArtifactKind::CatBoost) return diff_catboost(paths[0], paths[1], deep, json, io);
  if (old_kind == ArtifactKind::TensorPlanJson) {
    return fail("tensor plan diff is not supported yet. Use trace, compare, why, or validate instead.");
  }
  if (deep) io.out << "Note: --deep is currently only used for CatBoost artifacts.\n\n";
  if (old_kind == ArtifactKind::LightGBM) return diff_lightgbm(paths[0], paths[1], json, io);
  if (old_kind == ArtifactKind::ONNX) return onnx_diff(paths[0], paths[1], json, io);
  if (old_kind == ArtifactKind::Safetensors || old_kind == ArtifactKind::GGUF) {
    return tensor_file_diff(paths[0], paths[1], json, io);
  }
  return pytorch_diff(paths[0], paths[1], json, io);
}

Status explain_command(const Args& args, Io& io) {
  const std::string* subject = nullptr;
  LessonView view = LessonView::All;
  bool step = false, quiz = false;
  for (const std::string& arg : args) {
    if (arg == "--step") {
      step = true;
    } else if (arg == "--quiz") {
      quiz = true;
    } else if (arg == "--shapes" || arg == "--memory" || arg == "--math" || arg == "--compare") {
      view = arg == "--shapes"   ? LessonView::Shape
             : arg == "--memory" ? LessonView::Memory
             : arg == "--math"   ? LessonView::Math
                                 : LessonView::Compare;
    } else if (subject != nullptr) {
      return fail("unexpected argument `" + arg + "`");
    } else {
      subject = &arg;
    }
  }
  if (subject == nullptr) return explain_topic("attention", view, step, quiz, io);
  switch (detect_artifact_kind(*subject)) {
    case ArtifactKind::CatBoost: return explain_catboost(*subject, io);
    case ArtifactKind::LightGBM: return lightgbm_command({*subject}, io);
    case ArtifactKind::ONNX: return explain_onnx(*subject, io);
    case ArtifactKind::PyTorch: return pytorch_command({*subject}, io);
    case ArtifactKind::TensorPlanJson: return explain_model_command({*subject}, io);
    case ArtifactKind::Safetensors:
    case ArtifactKind::GGUF: return tensor_file_explain(*subject, io);
    case ArtifactKind::Unknown: break;
  }
  return explain_topic(*subject, view, step, quiz, io);
}

}  // namespace tarnwick
