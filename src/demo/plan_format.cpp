#include "demo/plan_format.h"

#include "base/inspector_args.h"
#include "demo/teaching.h"
#include "model/plan_commands.h"

namespace tarnwick {

namespace {

bool contains(const Args& args, const char* word) {
  for (const std::string& arg : args) {
    if (arg == word) return true;
  }
  return false;
}

Status inspect(const Args& args, Io& io) {
  if (contains(args, "--limit")) {
    return fail("--limit inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  if (contains(args, "--json")) {
    return fail("--json inspection is only supported for CatBoost, LightGBM, and ONNX artifacts.");
  }
  return tensor_inspect_command(args, io);
}

Status explain(const std::string& path, Io& io) { return explain_model_command({path}, io); }

}  // namespace

const FormatDescriptor kTensorPlanFormat{
    .name = "tensor plan JSON",
    .extensions = {"json"},
    .inspect = inspect,
    .explain = explain,
    .diff_refusal = "tensor plan diff is not supported yet. Use trace, compare, why, or validate instead.",
    .check_refusal = "check supports CatBoost, LightGBM, ONNX, and PyTorch artifacts, not tensor plan JSON.",
};

}  // namespace tarnwick
