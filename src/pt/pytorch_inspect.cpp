#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"
#include "pt/pytorch_commands.h"
#include "pt/pytorch_summary.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage = "usage: tarnwick pytorch [--json] [--limit 20] <model.pt|model.pth> [more...]";

void print_summary(std::ostream& out, const PyTorchSummary& summary, std::uint64_t limit) {
  out << "PyTorch Model Summary\n---------------------\n";
  out << "Model: " << escape_control(summary.path) << "\n";
  out << "Format: " << (summary.is_zip ? "PyTorch (torch.save zip)" : "PyTorch (legacy pickle)") << "\n";
  out << "File size: " << format_bytes(summary.bytes) << "\n";
  if (summary.torch_version) out << "Serialization version: " << escape_control(*summary.torch_version) << "\n";

  out << "\nStructure:\n";
  if (summary.is_zip || summary.estimate_notes.empty()) {
    out << "  Tensors (storages): " << summary.tensor_count << "\n";
    out << "  Parameters (est):   " << format_count_short(summary.estimated_parameter_count) << "\n";
    out << "  Parameter bytes:    " << format_bytes(summary.total_parameter_bytes) << "\n";
  } else {
    out << "  Tensors (storages): unknown (legacy pickle)\n"
           "  Parameters (est):   unknown (legacy pickle does not store sizes as entries)\n"
           "  Parameter bytes:    unknown (legacy pickle)\n";
  }
  print_field(out, "Dominant dtype", summary.dominant_dtype);

  out << "\nParameter-like Internals:\n";
  out << "  Full artifact fingerprint: " << format_fingerprint(summary.file_fingerprint) << "\n";
  out << "  Learned-state fingerprint (sampled): " << format_fingerprint(summary.learned_state_fingerprint) << "\n";
  out << "  Note: parameter count is estimated from storage bytes / dtype; tensor shapes are not decoded.\n";
  for (const std::string& note : summary.estimate_notes) out << "  Note: " << escape_control(note) << "\n";

  out << "\nRecovered Parameter Names:\n";
  const std::vector<std::string>& names = summary.param_names;
  if (names.empty()) {
    out << "  none recovered from the pickle\n";
    return;
  }
  print_limited_names(out, "found", names, limit);
}

Status print_json_summaries(const std::vector<std::string>& paths, Io& io) {
  OrderedJson documents = OrderedJson::array();
  for (const std::string& path : paths) {
    Result<PyTorchSummary> summary = read_pytorch_summary(path);
    if (!summary.is_ok()) return summary.error();
    documents.push_back(pytorch_summary_json(summary.value()));
  }
  if (documents.size() == 1) return print_json_document(io.out, documents.front());
  return print_json_document(io.out, documents);
}

}  // namespace

Status pytorch_command(const Args& args, Io& io) {
  Result<InspectorArgs> scanned = scan_inspector_args(args, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.empty()) return fail(kUsage);
  if (options.json) return print_json_summaries(options.paths, io);
  for (std::size_t i = 0; i < options.paths.size(); ++i) {
    if (i) io.out << "\n";
    Result<PyTorchSummary> summary = read_pytorch_summary(options.paths[i]);
    if (!summary.is_ok()) return summary.error();
    print_summary(io.out, summary.value(), options.limit);
  }
  return Status::ok();
}

}  // namespace tarnwick
