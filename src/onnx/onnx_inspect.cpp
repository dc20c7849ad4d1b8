#include <algorithm>
#include <ostream>
#include <set>

#include "base/change_lines.h"
#include "base/figure_notes.h"
#include "base/format.h"
#include "base/inspector_args.h"
#include "base/text.h"
#include "onnx/onnx_commands.h"

namespace tarnwick {

namespace {

constexpr const char* kInspectUsage = "usage: tarnwick onnx [--json] [--limit 20] <model.onnx>";

struct OnnxArgs {
  bool json = false;
  std::uint64_t limit = kDefaultLimit;
  std::optional<std::string> path;
};

Result<OnnxArgs> scan_args(const Args& args) {
  OnnxArgs scanned;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      scanned.json = true;
    } else if (args[i] == "--limit") {
      if (i + 1 == args.size()) return fail("--limit needs a number");
      Result<std::uint64_t> limit = parse_limit_value(args[++i]);
      if (!limit.is_ok()) return limit.error();
      scanned.limit = limit.value();
    } else if (scanned.path) {
      return fail("unexpected argument `" + args[i] + "`");
    } else {
      scanned.path = args[i];
    }
  }
  if (!scanned.path) return fail(kInspectUsage);
  return scanned;
}

void print_value_infos(std::ostream& out, const std::vector<const OnnxValueInfo*>& infos, std::uint64_t limit) {
  if (infos.empty()) {
    out << "  unknown\n";
    return;
  }
  for (std::size_t i = 0; i < infos.size() && i < limit; ++i) {
    out << "  " << escape_control(infos[i]->name) << " " << escape_control(format_shape_texts(infos[i]->shape)) << " "
        << data_type_name(infos[i]->elem_type) << "\n";
  }
  print_rest_count(out, infos.size(), limit);
}

std::vector<const OnnxValueInfo*> graph_inputs_without_initializers(const OnnxSummary& summary) {
  std::set<std::string> initializer_names;
  for (const OnnxInitializer& initializer : summary.initializers) initializer_names.insert(initializer.name);
  std::vector<const OnnxValueInfo*> listed;
  for (const OnnxValueInfo& input : summary.inputs) {
    if (!initializer_names.count(input.name)) listed.push_back(&input);
  }
  return listed;
}

void print_cost(std::ostream& out, const OnnxSummary& summary) {
  out << "\nEstimated Cost:\n";
  if (summary.estimated_ops != 0) {
    out << "  Estimated ops: " << summary.estimated_ops << "\n";
  } else {
    out << "  unknown\n";
  }
  std::vector<const OpEstimate*> present;
  for (const OpEstimate& estimate : summary.op_estimates) {
    if (estimate.ops) present.push_back(&estimate);
  }
  std::stable_sort(present.begin(), present.end(),
                   [](const OpEstimate* a, const OpEstimate* b) { return *a->ops > *b->ops; });
  if (present.empty()) return;
  out << "  Most expensive:\n";
  for (std::size_t i = 0; i < present.size() && i < 5; ++i) {
    out << "    " << pad_right(escape_control(present[i]->name), 24) << " "
        << pad_right(escape_control(present[i]->op_type), 12) << " " << *present[i]->ops << " ops\n";
  }
}

void print_initializers(std::ostream& out, const OnnxSummary& summary, std::uint64_t limit) {
  out << "\nInitializers:\n";
  if (summary.initializers.empty()) {
    out << "  none\n";
    return;
  }
  for (std::size_t i = 0; i < summary.initializers.size() && i < limit; ++i) {
    const OnnxInitializer& initializer = summary.initializers[i];
    out << "  " << escape_control(initializer.name) << " ";
    write_dims(out, initializer.dims);
    out << " " << element_count(initializer) << " values / " << format_bytes(estimated_bytes(initializer));
    if (initializer.raw_data_bytes > 0) {
      out << ", raw " << format_bytes(initializer.raw_data_bytes);
    } else if (is_external(initializer)) {
      out << ", external data";
    }
    out << "\n";
  }
  print_rest_count(out, summary.initializers.size(), limit);
}

void print_report(std::ostream& out, const OnnxSummary& summary, std::uint64_t limit) {
  out << "ONNX Model Summary\n------------------\n";
  out << "Model: " << escape_control(summary.name) << "\nFormat: ONNX ModelProto\n";
  out << "File size: " << format_bytes(summary.file_size_bytes) << "\n";
  print_field(out, "IR version",
              summary.ir_version ? std::optional(std::to_string(*summary.ir_version)) : std::nullopt);
  print_field(out, "Producer", summary.producer);
  print_field(out, "Graph", summary.graph_name);
  if (!summary.opset_imports.empty()) {
    out << "  Opsets: ";
    for (std::size_t i = 0; i < summary.opset_imports.size(); ++i) {
      out << (i ? ", " : "") << escape_control(opset_label(summary.opset_imports[i]));
    }
    out << "\n";
  }

  out << "\nGraph:\n";
  out << "  Nodes: " << summary.node_count << "\n";
  out << "  Initializers: " << summary.initializers.size() << "\n";
  out << "  Value info entries: " << summary.value_info_entries << "\n";
  out << "  Parameters: " << summary.parameter_values << " values / " << format_bytes(summary.parameter_memory_bytes)
      << "\n";

  out << "\nInputs:\n";
  print_value_infos(out, graph_inputs_without_initializers(summary), limit);
  out << "\nOutputs:\n";
  std::vector<const OnnxValueInfo*> outputs;
  for (const OnnxValueInfo& output : summary.outputs) outputs.push_back(&output);
  print_value_infos(out, outputs, limit);

  out << "\nOperator Mix:\n";
  if (summary.op_counts.empty()) out << "  none\n";
  for (std::size_t i = 0; i < summary.op_counts.size() && i < limit; ++i) {
    out << "  " << pad_right(escape_control(summary.op_counts[i].first), 24) << " " << summary.op_counts[i].second
        << "\n";
  }
  print_rest_count(out, summary.op_counts.size(), limit);

  print_cost(out, summary);
  print_initializers(out, summary, limit);

  out << "\nNote:\n"
         "  This is static ONNX graph inspection, not model execution.\n"
         "  Op estimates are best-effort and depend on static shapes in the file.\n"
         "  Run ONNX shape inference before inspection for better cost estimates.\n";
  print_note_lines(out, summary.estimate_notes);
}

}  // namespace

Status onnx_command(const Args& args, Io& io) {
  Result<OnnxArgs> scanned = scan_args(args);
  if (!scanned.is_ok()) return scanned.error();
  Result<OnnxSummary> summary = read_onnx_summary(*scanned.value().path);
  if (!summary.is_ok()) return summary.error();
  if (scanned.value().json) return print_json_document(io.out, onnx_inspect_document(summary.value()));
  print_report(io.out, summary.value(), scanned.value().limit);
  return Status::ok();
}

}  // namespace tarnwick
