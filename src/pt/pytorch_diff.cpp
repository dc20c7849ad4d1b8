#include <ostream>

#include "base/artifact_pair.h"
#include "base/change_lines.h"
#include "base/figure_notes.h"
#include "base/feature_name_changes.h"
#include "base/text.h"
#include "pt/pytorch_commands.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

void print_text_diff(std::ostream& out, const PyTorchSummary& old_model, const PyTorchSummary& new_model) {
  out << "Model Diff\n----------\nType: PyTorch\n";
  out << "Old: " << escape_control(old_model.path) << "\nNew: " << escape_control(new_model.path) << "\n\n";
  out << "Structure:\n";
  print_size_change(out, "File size", old_model.bytes, new_model.bytes);
  print_count_change(out, "Tensors (storages)", old_model.tensor_count, new_model.tensor_count);
  print_count_change(out, "Parameters (est)", old_model.estimated_parameter_count, new_model.estimated_parameter_count);
  print_size_change(out, "Parameter bytes", old_model.total_parameter_bytes, new_model.total_parameter_bytes);
  print_text_change(out, "Dominant dtype", old_model.dominant_dtype, new_model.dominant_dtype);

  out << "\nParameter-like Internals:\n";
  print_fingerprint_change(out, "Full artifact fingerprint", old_model.file_fingerprint, new_model.file_fingerprint);
  print_fingerprint_change(out, "Learned-state fingerprint (sampled)", old_model.learned_state_fingerprint,
                           new_model.learned_state_fingerprint);

  out << "\nParameter Names:\n";
  print_count_change(out, "Recovered names", old_model.param_names.size(), new_model.param_names.size());
  print_feature_name_changes(out, old_model.param_names, new_model.param_names);
  print_note_section(out, pair_notes(old_model.estimate_notes, new_model.estimate_notes));
}

}  // namespace

Status pytorch_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io) {
  Result<ArtifactPair<PyTorchSummary>> pair = read_artifact_pair(read_pytorch_summary, old_path, new_path);
  if (!pair.is_ok()) return pair.error();
  const auto& [old_model, new_model] = pair.value();
  if (json) {
    Json document;
    document["type"] = "pytorch";
    document["old"] = Json(pytorch_summary_json(old_model));
    document["new"] = Json(pytorch_summary_json(new_model));
    return print_json_document(io.out, document);
  }
  print_text_diff(io.out, old_model, new_model);
  return Status::ok();
}

}  // namespace tarnwick
