#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"
#include "tables/tensor_file_commands.h"
#include "tables/tensor_file_lines.h"

namespace tarnwick {

namespace {

void print_summary(std::ostream& out, const TensorFileSummary& summary, std::uint64_t limit) {
  std::string title = tensor_file_kind_title(summary) + " Model Summary";
  print_title(out, title);
  out << "Model: " << escape_control(summary.path) << "\n";
  out << "Format: " << summary.format->name << " (" << summary.layout << ")\n";
  out << "File size: " << format_bytes(summary.file_size_bytes) << " (" << summary.file_size_bytes << ")\n";

  out << "\nStructure:\n";
  out << "  Tensors:        " << summary.tensors.size() << "\n";
  out << "  Parameters:     " << format_count_short(summary.parameter_count) << " (" << summary.parameter_count << ")\n";
  out << "  Tensor bytes:   " << format_bytes(summary.tensor_bytes) << " (" << summary.tensor_bytes << ")\n";
  out << "  Dominant dtype: " << dominant_dtype_text(summary) << "\n";
  print_dtype_mix(out, summary);
  print_highlights(out, summary);
  print_architecture(out, summary.architecture);

  out << "\nFingerprints:\n";
  out << "  Full artifact fingerprint: " << format_fingerprint(summary.file_fingerprint) << "\n";
  out << "  Metadata fingerprint:      " << format_fingerprint(summary.metadata_fingerprint) << "\n";
  out << "  Learned-state fingerprint: " << format_fingerprint(summary.learned_state_fingerprint) << "\n";

  out << "\nTensor Names:\n";
  std::vector<std::string> names = tensor_names(summary);
  if (names.empty()) {
    out << "  none\n";
    return;
  }
  std::vector<std::string> shown;
  for (const std::string& name : names) shown.push_back(escape_control(name));
  print_limited_names(out, "found", shown, limit);
}

// A sentence naming what the names and metadata make of the checkpoint.
std::string identity_sentence(const ArchitectureFacts& facts) {
  std::vector<std::string> parts;
  if (facts.layers) parts.push_back(std::to_string(facts.layers->value) + (facts.layers->value == 1 ? " layer" : " layers"));
  if (facts.hidden_size) parts.push_back("hidden size " + std::to_string(facts.hidden_size->value));
  if (facts.vocabulary) parts.push_back("a vocabulary of " + std::to_string(facts.vocabulary->value));
  if (facts.experts) parts.push_back(std::to_string(facts.experts->value) + " experts");
  if (!facts.family && parts.empty()) {
    return "The architecture could not be recognised from tensor names, shapes or metadata.";
  }
  std::string sentence = "This looks like " + (facts.family ? "a " + escape_control(*facts.family) + " model" : std::string("a model"));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    sentence += i == 0 ? " with " : i + 1 == parts.size() ? " and " : ", ";
    sentence += parts[i];
  }
  return sentence + ".";
}

void print_explanation(std::ostream& out, const TensorFileSummary& summary) {
  std::string title = tensor_file_kind_title(summary) + " Architecture Explanation";
  print_title(out, title);
  out << "Model: " << escape_control(summary.path) << "\n\n";
  out << identity_sentence(summary.architecture) << "\n";

  out << "\nCheckpoint:\n";
  out << "  Format:         " << summary.format->name << " (" << summary.layout << ")\n";
  out << "  Tensors:        " << summary.tensors.size() << "\n";
  out << "  Parameters:     " << format_count_short(summary.parameter_count) << " (" << summary.parameter_count << ")\n";
  out << "  Tensor bytes:   " << format_bytes(summary.tensor_bytes) << "\n";
  out << "  Dominant dtype: " << dominant_dtype_text(summary) << "\n";
  print_architecture(out, summary.architecture);
  print_highlights(out, summary);
  out << "\nNote:\n"
         "  Stated figures come from the file's metadata; inferred ones from tensor names and shapes.\n";
}

Status print_json_summaries(const std::vector<std::string>& paths, const TensorFileFormat& format, Io& io) {
  OrderedJson documents = OrderedJson::array();
  for (const std::string& path : paths) {
    Result<TensorFileSummary> summary = read_tensor_file_summary(path, format);
    if (!summary.is_ok()) return summary.error();
    documents.push_back(tensor_file_summary_json(summary.value()));
  }
  if (documents.size() == 1) return print_json_document(io.out, documents.front());
  return print_json_document(io.out, documents);
}

}  // namespace

Status tensor_file_inspect(const Args& args, const TensorFileFormat& format, Io& io) {
  Result<InspectorArgs> scanned = scan_inspector_args(args, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.json) return print_json_summaries(options.paths, format, io);
  for (std::size_t i = 0; i < options.paths.size(); ++i) {
    if (i) io.out << "\n";
    Result<TensorFileSummary> summary = read_tensor_file_summary(options.paths[i], format);
    if (!summary.is_ok()) return summary.error();
    print_summary(io.out, summary.value(), options.limit);
  }
  return Status::ok();
}

Status tensor_file_explain(const std::string& path, const TensorFileFormat& format, Io& io) {
  Result<TensorFileSummary> summary = read_tensor_file_summary(path, format);
  if (!summary.is_ok()) return summary.error();
  print_explanation(io.out, summary.value());
  return Status::ok();
}

}  // namespace tarnwick
