#include "python/doctor.h"

#include <ostream>

#include "base/json_output.h"
#include "python/python_probe.h"
#include "python/python_runner.h"

namespace tarnwick {

namespace {

OrderedJson doctor_json(const PythonProbe& probe) {
  bool python = probe.python_executable.has_value();
  bool catboost = probe.catboost_version.has_value();
  OrderedJson report;
  report["built_in"] = {{"catboost_metadata", true},
                        {"lightgbm_text", true},
                        {"onnx_static_graph", true},
                        {"pytorch_zip", true},
                        {"json_tensor_plans", true}};
  OrderedJson optional;
  optional["python_available"] = python;
  optional["python_executable"] = ordered_optional(probe.python_executable);
  optional["catboost_available"] = catboost;
  optional["catboost_version"] = ordered_optional(probe.catboost_version);
  optional["tried_python"] = python_candidates();
  report["optional_python"] = optional;
  report["commands"] = {{"inspect_artifacts", true},
                        {"diff_artifacts", true},
                        {"inspect_deep_catboost", catboost},
                        {"diff_deep_catboost", catboost}};
  return report;
}

void print_text(std::ostream& out, const PythonProbe& probe) {
  bool python = probe.python_executable.has_value();
  bool catboost = probe.catboost_version.has_value();
  out << "tarnwick Doctor\n" << std::string(16, '-') << "\n\n";
  out << "Built-in inspectors:\n"
         "  CatBoost metadata: ok\n"
         "  LightGBM text model: ok\n"
         "  ONNX static graph: ok\n"
         "  PyTorch .pt/.pth (zip): ok\n"
         "  JSON tensor plans: ok\n\n";
  out << "Optional Python helpers:\n";
  if (python) {
    out << "  Python: ok (" << *probe.python_executable << ")\n";
  } else {
    out << "  Python: missing\n  Tried:\n";
    for (const std::string& candidate : python_candidates()) out << "    " << candidate << "\n";
  }
  if (catboost) {
    out << "  catboost: ok (" << *probe.catboost_version << ")\n";
  } else if (python) {
    out << "  catboost: missing\n";
  } else {
    out << "  catboost: unavailable because Python was not found\n";
  }
  const char* deep = catboost ? "available" : "unavailable";
  out << "\nAvailable commands:\n"
         "  inspect .cbm/.lgb/.onnx/.pt/.json: available\n"
         "  diff .cbm/.lgb/.onnx/.pt: available\n"
         "  explain-diff .cbm/.lgb/.onnx/.pt: available\n";
  out << "  inspect --deep .cbm: " << deep << "\n";
  out << "  diff --deep .cbm: " << deep << "\n";
  out << "  convert .pkl/mlflow -> native (needs python + model lib): " << (python ? "available" : "unavailable")
      << "\n";
  if (python && !catboost) out << "\nInstall optional CatBoost helpers with:\n  python3 -m pip install catboost\n";
}

}  // namespace

Status doctor_command(const Args& args, Io& io) {
  bool json = false;
  for (const std::string& arg : args) {
    if (arg != "--json") return fail("usage: tarnwick doctor [--json]");
    json = true;
  }
  PythonProbe probe = probe_python();
  if (json) return print_json_document(io.out, doctor_json(probe));
  print_text(io.out, probe);
  return Status::ok();
}

}  // namespace tarnwick
