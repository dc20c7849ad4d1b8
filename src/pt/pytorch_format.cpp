#include "pt/pytorch_format.h"

#include "base/figure_notes.h"

#include "pt/pytorch_scan.h"
#include "pt/pytorch_commands.h"
#include "pt/pytorch_summary.h"
#include "pt/pytorch_tensors.h"

namespace tarnwick {

namespace {

// torch.load reads any zip archive (an empty one too) as a checkpoint, whatever its name (`.pt`, `.pth.tar`, a
// TorchScript `.jit`), and anything else as a legacy pickle stream, which opens with the PROTO
// opcode 0x80 from protocol 2 on.
bool is_checkpoint(const ContentProbe& probe) {
  return probe.head.starts_with('\x80') || probe.head.starts_with(std::string_view("PK\x03\x04", 4)) ||
         probe.head.starts_with(std::string_view("PK\x05\x06", 4));
}

Status explain(const std::string& path, Io& io) { return pytorch_command({path}, io); }

Status diff(const std::string& old_path, const std::string& new_path, const DiffRequest& request, Io& io) {
  return pytorch_diff(old_path, new_path, request.json, io);
}

Result<CheckOutcome> check(const CheckOptions& options, const std::string& old_path, const std::string& new_path) {
  if (options.max_ops_growth) return fail(kOnlyOnnxOps);
  if (options.fail_on_new_op) return fail(kOnlyOnnxNewOp);
  if (options.fail_on_training_config_change) {
    return fail("--fail-on-training-config-change is only supported for CatBoost/LightGBM artifacts.");
  }
  auto pair = read_artifact_pair(read_pytorch_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  CheckOutcome outcome{old_model.path, new_model.path, {}, {}};
  if (options.max_size_growth) {
    outcome.results.push_back(
        growth_check("file size growth", old_model.bytes, new_model.bytes, *options.max_size_growth));
  }
  if (options.max_parameter_growth) {
    outcome.results.push_back(growth_check("parameter growth", old_model.estimated_parameter_count,
                                           new_model.estimated_parameter_count, *options.max_parameter_growth));
  }
  if (options.fail_on_feature_change) {
    outcome.results.push_back(names_unchanged_check("parameter names unchanged", old_model.param_names,
                                                    new_model.param_names, "recovered names"));
  }
  if (options.max_parameter_growth || options.fail_on_feature_change) {
    outcome.notes = pair_notes(old_model.estimate_notes, new_model.estimate_notes);
  }
  return outcome;
}

Result<ChangeExplanation> explain_change(const std::string& old_path, const std::string& new_path) {
  return explain_summary_change(
      read_pytorch_summary, old_path, new_path, [](const PyTorchSummary& s) { return s.path; },
      explain_pytorch_change);
}

// A state dict's names are the module's own, so the architecture is inferred from them alone.
ArchitectureFacts nothing_stated(const TensorTable&) { return {}; }

}  // namespace

const FormatDescriptor kPyTorchFormat{
    .name = "PyTorch",
    .extensions = {"pt", "pth", "bin", "ckpt"},
    .claims_content = is_checkpoint,
    .inspect = pytorch_command,
    .explain = explain,
    .diff = diff,
    .check = check,
    .explain_change = explain_change,
    .tensor_table = read_pytorch_tensor_table,
    .stated_architecture = nothing_stated,
    .scan = scan::scan_pickle_based_file,
    .scans_any_file = true,
};

}  // namespace tarnwick
