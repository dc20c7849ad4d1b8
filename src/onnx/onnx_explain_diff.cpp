#include "onnx/onnx_commands.h"

#include <set>

#include "base/change_wording.h"
#include "base/figure_notes.h"
#include "base/format.h"
#include "base/text.h"
#include "onnx/onnx_architecture.h"
#include "onnx/onnx_summary.h"

namespace tarnwick {

namespace {

std::vector<std::string> types_missing_from(const std::set<std::string>& types, const std::set<std::string>& other) {
  std::vector<std::string> missing;
  for (const std::string& type : types) {
    if (!other.count(type)) missing.push_back(type);
  }
  return missing;
}

}  // namespace

void explain_onnx_change(std::ostream& out, const OnnxSummary& old_model, const OnnxSummary& new_model) {
  std::optional<std::uint64_t> old_layers = estimate_attention_layers(old_model);
  std::optional<std::uint64_t> new_layers = estimate_attention_layers(new_model);
  std::string parameters = format_percent_change(old_model.parameter_values, new_model.parameter_values);
  std::string cost = format_percent_change(old_model.estimated_ops, new_model.estimated_ops);

  out << "  Attention layers:  " << format_optional_count(old_layers) << " -> " << format_optional_count(new_layers)
      << "\n";
  out << "  Hidden size:       " << format_optional_count(estimate_hidden_size(old_model)) << " -> "
      << format_optional_count(estimate_hidden_size(new_model)) << "\n";
  out << "  Parameters:        " << format_count_short(old_model.parameter_values) << " -> "
      << format_count_short(new_model.parameter_values) << " (" << parameters << ")\n";
  out << "  Nodes:             " << old_model.node_count << " -> " << new_model.node_count << " ("
      << format_percent_change(old_model.node_count, new_model.node_count) << ")\n";
  out << "\nEstimated inference cost (static op proxy): " << cost << "\n\n";

  std::set<std::string> old_types = operator_types(old_model), new_types = operator_types(new_model);
  std::vector<std::string> introduced = types_missing_from(new_types, old_types);
  if (introduced.empty()) {
    out << "New operators introduced: none\n";
  } else {
    out << "New operators introduced:\n";
    for (const std::string& type : introduced) out << "  " << escape_control(type) << "\n";
  }
  std::vector<std::string> removed = types_missing_from(old_types, new_types);
  if (!removed.empty()) {
    out << "Operators removed:\n";
    for (const std::string& type : removed) out << "  " << escape_control(type) << "\n";
  }

  std::string verdict = old_layers && new_layers && *old_layers != *new_layers
                            ? "  Grew from ~" + std::to_string(*old_layers) + " to ~" + std::to_string(*new_layers) +
                                  " attention layers; parameters " + parameters + ", estimated cost " + cost + ".\n"
                            : "  Parameters " + parameters + ", estimated cost " + cost + ".\n";
  print_summary_frame_end(out, verdict,
                          "Note: static heuristic over ONNX ops and shapes; cost is an op-count proxy, not measured "
                          "latency.\n");
  for (const std::string& note : pair_notes(old_model.estimate_notes, new_model.estimate_notes)) {
    out << "Note: " << escape_control(note) << "\n";
  }
}

}  // namespace tarnwick
