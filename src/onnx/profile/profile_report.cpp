#include "onnx/profile/profile_report.h"

#include <algorithm>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/json_text.h"
#include "base/text.h"
#include "onnx/onnx_summary.h"

namespace tarnwick {

namespace {

// Names come from the file: control characters are shown escaped.
std::string escaped(std::string_view text) { return escape_control(text); }

std::string count_text(std::uint64_t count) {
  std::string exact = std::to_string(count);
  std::string short_form = format_count_short(count);
  return short_form == exact ? exact : short_form + " (" + exact + ")";
}

std::string share(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return "unknown";
  return format_fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + "%";
}

void print_totals(std::ostream& out, const ModelProfile& p) {
  out << "\nTotals:\n";
  out << "  MACs: " << count_text(p.macs) << "\n";
  out << "  Other ops: " << count_text(p.other_ops) << "\n";
  out << "  FLOPs: " << count_text(p.flops) << "\n";
  out << "  Parameters: " << count_text(p.parameters) << "\n";
  out << "  Parameter bytes: " << format_bytes(p.parameter_bytes) << "\n";
  out << "  Peak activations: " << format_bytes(p.peak_activation_bytes) << "\n";
  out << "  Nodes: " << p.node_count << " (" << p.walk.main_node_count << " in the main graph)\n";
  out << "  Resolved outputs: " << p.outputs_resolved << " of " << p.output_count << " ("
      << share(p.outputs_resolved, p.output_count) << ")\n";
  out << "  Resolved nodes: " << p.nodes_resolved << " of " << p.node_count << "\n";
  out << "  Costed nodes: " << p.nodes_costed << " of " << p.node_count << "\n";
  out << "  Stated shapes: " << p.stated.agree << " agree, " << p.stated.differ << " differ\n";
  out << "  Totals complete: "
      << (p.incomplete() ? "no, " + std::to_string(p.unresolved.size()) +
                               (p.unresolved.size() == 1 ? " node" : " nodes") +
                               " with a cost could not be costed (see Unresolved Nodes)"
                         : std::string("yes"))
      << "\n";
}

void print_parameter_dtypes(std::ostream& out, const ModelProfile& p) {
  out << "\nParameters By Dtype:\n";
  if (p.parameters_by_dtype.empty()) out << "  none\n";
  for (const DtypeParameters& row : p.parameters_by_dtype) {
    out << "  " << pad_right(row.dtype, 12) << " " << pad_left(std::to_string(row.tensors), 5)
        << (row.tensors == 1 ? " tensor   " : " tensors  ") << pad_left(format_count_short(row.elements), 7)
        << " elements  " << pad_left(format_bytes(row.bytes), 10) << "\n";
  }
}

std::string where_text(const WalkedNode& walked) {
  return walked.graph.empty() ? "" : " in " + escaped(walked.graph);
}

void print_unresolved(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  out << "\nUnresolved Nodes:\n";
  if (p.unresolved.empty()) out << "  none\n";
  for (std::size_t k = 0; k < p.unresolved.size() && k < limit; ++k) {
    const WalkedNode& walked = *p.unresolved[k];
    out << "  " << escaped(walked.name) << " (" << escaped(walked.node->op_type) << ")" << where_text(walked) << "\n";
  }
  print_rest_count(out, p.unresolved.size(), limit);
}

void print_dims(std::ostream& out, const ModelProfile& p) {
  out << "\nSymbolic Dims:\n";
  if (p.dims.assumed.empty() && p.dims.bound.empty()) out << "  none\n";
  for (const auto& [name, value] : p.dims.bound) {
    out << "  " << escaped(name) << " = " << value << (p.dims.named.count(name) ? " (given)\n" : " (given, not in the model)\n");
  }
  for (const auto& [name, value] : p.dims.assumed) out << "  " << escaped(name) << " = " << value << " (assumed)\n";
}

void print_op_types(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  out << "\nBy Op Type:\n";
  if (p.by_op_type.empty()) out << "  none\n";
  for (std::size_t k = 0; k < p.by_op_type.size() && k < limit; ++k) {
    const OpTypeCost& row = p.by_op_type[k];
    std::uint64_t flops = node_flops({row.macs, row.other_ops});
    out << "  " << pad_right(escaped(row.op_type), 24) << " " << pad_left(std::to_string(row.count), 5) << (row.count == 1 ? " node   " : " nodes  ")
        << pad_left(format_count_short(row.macs), 7) << " MACs  " << pad_left(format_count_short(row.other_ops), 7)
        << " other  " << pad_left(share(flops, p.flops), 6) << " of FLOPs\n";
  }
  print_rest_count(out, p.by_op_type.size(), limit);
}

void print_nodes(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  std::vector<const WalkedNode*> costed;
  for (const WalkedNode& walked : p.walk.nodes) {
    bool owner = false;  // an If, Loop or Scan: its subgraphs' nodes are listed themselves
    for (const OnnxAttribute& attribute : walked.node->attributes) owner = owner || !attribute.graphs.empty();
    if (!owner && walked.cost.macs && node_flops(walked.cost) > 0) costed.push_back(&walked);
  }
  std::stable_sort(costed.begin(), costed.end(),
                   [](const WalkedNode* a, const WalkedNode* b) { return node_flops(a->cost) > node_flops(b->cost); });
  out << "\nMost Expensive Nodes:\n";
  if (costed.empty()) out << "  none\n";
  for (std::size_t k = 0; k < costed.size() && k < limit; ++k) {
    const WalkedNode& walked = *costed[k];
    std::string where = where_text(walked);
    out << "  " << pad_right(escaped(walked.name), 24) << " " << pad_right(escaped(walked.node->op_type), 12) << " "
        << pad_left(format_count_short(*walked.cost.macs), 7) << " MACs  "
        << pad_left(format_count_short(*walked.cost.other_ops), 7) << " other  -> "
        << (walked.outputs.empty() ? "none" : format_known_shape(walked.outputs[0])) << where << "\n";
  }
  print_rest_count(out, costed.size(), limit);
}

void print_subgraphs(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  out << "\nSubgraphs:\n";
  if (p.walk.subgraphs.empty()) out << "  none\n";
  for (std::size_t k = 0; k < p.walk.subgraphs.size() && k < limit; ++k) {
    const WalkedSubgraph& sub = p.walk.subgraphs[k];
    out << "  " << escaped(sub.path) << " (" << escaped(sub.owner_op_type) << "): " << sub.node_count << " nodes, "
        << sub.nodes_resolved << " resolved, " << sub.initializer_count << " initializers, "
        << format_count_short(sub.parameters) << " parameters, " << format_count_short(sub.macs) << " MACs, "
        << format_count_short(sub.other_ops) << " other ops\n";
  }
  print_rest_count(out, p.walk.subgraphs.size(), limit);
}

std::string yes_no(bool value) { return value ? "yes" : "no"; }

// The first `limit` references, and every failed one after them: a failure is never cut.
void print_external_data(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  out << "\nExternal Data:\n";
  if (p.external_data.empty()) out << "  none\n";
  std::size_t shown = 0;
  for (std::size_t k = 0; k < p.external_data.size(); ++k) {
    const ExternalDataFile& file = p.external_data[k];
    if (k >= limit && !file.failed()) continue;
    ++shown;
    out << "  " << escaped(file.ref.tensor) << " -> " << (file.ref.location ? escaped(*file.ref.location) : "unknown")
        << " offset " << (file.ref.offset_value ? std::to_string(*file.ref.offset_value) : "unknown") << " length "
        << (file.ref.length_value ? std::to_string(*file.ref.length_value) : "unknown") << ": exists "
        << yes_no(file.check.exists) << ", size suffices "
        << (file.check.size_suffices ? yes_no(*file.check.size_suffices) : "unknown") << ", escapes "
        << yes_no(file.check.escapes) << "\n";
  }
  if (shown < p.external_data.size()) out << "  ... " << p.external_data.size() - shown << " more\n";
}

// "main", or "main/" and the subgraph's path ("main/gate/then_branch").
std::string graph_json(const WalkedNode& walked) { return walked.graph.empty() ? "main" : "main/" + walked.graph; }

OrderedJson dtype_json(const KnownValue& value) {
  std::string name = data_type_name(value.elem_type);
  if (!value.elem_type || name == "unknown") return nullptr;
  return name;
}

}  // namespace

std::string format_known_shape(const KnownValue& value) {
  if (!value.shape) return "unknown";
  if (value.shape->empty()) return "scalar";
  std::string text = "[";
  for (std::size_t k = 0; k < value.shape->size(); ++k) text += (k ? ", " : "") + std::to_string((*value.shape)[k]);
  return text + "]";
}

void print_profile_report(std::ostream& out, const ModelProfile& p, std::uint64_t limit) {
  out << "ONNX Profile\n------------\n";
  out << "Model: " << escaped(display_file_name(p.path)) << "\n";
  print_totals(out, p);
  print_dims(out, p);
  print_parameter_dtypes(out, p);
  print_unresolved(out, p, limit);
  print_op_types(out, p, limit);
  print_nodes(out, p, limit);
  print_subgraphs(out, p, limit);
  print_external_data(out, p, limit);
  out << "\nNote:\n"
         "  Shapes are propagated from the graph inputs and initializers; symbolic dims not given\n"
         "  with --dim are taken as 1. Nodes whose shapes stay unknown are not costed.\n"
         "  FLOPs = 2 x MACs + other ops.\n";
}

namespace {

// One element of "nodes", printed as the document printer would at that depth: graphs of a
// hundred thousand nodes are written without building their tree.
void write_node_json(std::string& out, const WalkedNode& walked) {
  auto count = [&](const std::optional<std::uint64_t>& value) { out += value ? std::to_string(*value) : "null"; };
  out += "    {\n      \"name\": ";
  out += json_quoted(walked.name);
  out += ",\n      \"op_type\": ";
  out += json_quoted(walked.node->op_type);
  out += ",\n      \"graph\": ";
  out += json_quoted(graph_json(walked));
  out += ",\n      \"outputs\": ";
  if (walked.outputs.empty()) out += "[]";
  for (std::size_t k = 0; k < walked.outputs.size(); ++k) {
    const KnownValue& value = walked.outputs[k];
    out += k == 0 ? "[\n        {\n          \"name\": " : ",\n        {\n          \"name\": ";
    out += json_quoted(walked.node->outputs[k]);
    out += ",\n          \"dtype\": ";
    OrderedJson dtype = dtype_json(value);
    out += dtype.is_null() ? "null" : json_quoted(dtype.get<std::string>());
    out += ",\n          \"shape\": ";
    if (!value.shape) {
      out += "null";
    } else if (value.shape->empty()) {
      out += "[]";
    } else {
      for (std::size_t d = 0; d < value.shape->size(); ++d) {
        out += d == 0 ? "[\n            " : ",\n            ";
        out += std::to_string((*value.shape)[d]);
      }
      out += "\n          ]";
    }
    out += "\n        }";
    if (k + 1 == walked.outputs.size()) out += "\n      ]";
  }
  out += ",\n      \"macs\": ";
  count(walked.cost.macs);
  out += ",\n      \"other_ops\": ";
  count(walked.cost.other_ops);
  out += "\n    }";
}

// One element of "unresolved_nodes", at its depth.
void write_unresolved_json(std::string& out, const WalkedNode& walked) {
  out += "    {\n      \"name\": ";
  out += json_quoted(walked.name);
  out += ",\n      \"op_type\": ";
  out += json_quoted(walked.node->op_type);
  out += ",\n      \"graph\": ";
  out += json_quoted(graph_json(walked));
  out += "\n    }";
}

// Writes `count` elements in place of the empty array `key` holds in `text` from `from` on;
// returns where the text after it starts.
template <class WriteElement>
std::size_t splice_array(std::ostream& out, const std::string& text, std::size_t from, const std::string& key,
                         std::size_t count, WriteElement write_element) {
  const std::string marker = "\n  \"" + key + "\": []";
  std::size_t at = text.find(marker, from);
  if (at == std::string::npos || count == 0) return from;
  out.write(text.data() + from, static_cast<std::streamsize>(at - from));
  out << "\n  \"" << key << "\": [\n";
  std::string chunk;
  for (std::size_t k = 0; k < count; ++k) {
    if (k > 0) chunk += ",\n";
    write_element(chunk, k);
    if (chunk.size() > (1u << 16)) {
      out << chunk;
      chunk.clear();
    }
  }
  out << chunk << "\n  ]";
  return at + marker.size();
}

}  // namespace

Status print_profile_json(std::ostream& out, const ModelProfile& p) {
  std::string text = pretty_json_text(profile_document(p));
  std::size_t rest = splice_array(out, text, 0, "unresolved_nodes", p.unresolved.size(),
                                  [&](std::string& chunk, std::size_t k) { write_unresolved_json(chunk, *p.unresolved[k]); });
  rest = splice_array(out, text, rest, "nodes", p.walk.nodes.size(),
                      [&](std::string& chunk, std::size_t k) { write_node_json(chunk, p.walk.nodes[k]); });
  out.write(text.data() + rest, static_cast<std::streamsize>(text.size() - rest));
  out << "\n";
  return Status::ok();
}

OrderedJson profile_document(const ModelProfile& p) {
  OrderedJson document;
  document["kind"] = "onnx_profile";
  document["path"] = p.path;
  document["node_count"] = p.node_count;
  document["nodes_resolved"] = p.nodes_resolved;
  document["macs"] = p.macs;
  document["other_ops"] = p.other_ops;
  document["flops"] = p.flops;
  document["parameters"] = p.parameters;
  document["parameter_bytes"] = p.parameter_bytes;
  document["peak_activation_bytes"] = p.peak_activation_bytes;
  document["incomplete"] = p.incomplete();
  document["unresolved_nodes"] = OrderedJson::array();  // written node by node by print_profile_json
  OrderedJson assumed = OrderedJson::object();
  for (const auto& [name, value] : p.dims.assumed) assumed[name] = value;
  document["assumed_dims"] = assumed;
  OrderedJson op_types = OrderedJson::array();
  for (const OpTypeCost& row : p.by_op_type) {
    op_types.push_back({{"op_type", row.op_type}, {"count", row.count}, {"macs", row.macs}, {"other_ops", row.other_ops}});
  }
  document["by_op_type"] = op_types;
  OrderedJson dtypes = OrderedJson::array();
  for (const DtypeParameters& row : p.parameters_by_dtype) {
    dtypes.push_back({{"dtype", row.dtype}, {"tensors", row.tensors}, {"elements", row.elements}, {"bytes", row.bytes}});
  }
  document["parameters_by_dtype"] = dtypes;
  document["nodes"] = OrderedJson::array();  // written node by node by print_profile_json
  OrderedJson subgraphs = OrderedJson::array();
  for (const WalkedSubgraph& sub : p.walk.subgraphs) {
    subgraphs.push_back({{"path", sub.path},
                         {"node", sub.owner},
                         {"op_type", sub.owner_op_type},
                         {"attribute", sub.attribute},
                         {"node_count", sub.node_count},
                         {"nodes_resolved", sub.nodes_resolved},
                         {"initializer_count", sub.initializer_count},
                         {"parameters", sub.parameters},
                         {"macs", sub.macs},
                         {"other_ops", sub.other_ops},
                         {"complete", sub.complete},
                         {"runs", ordered_optional(sub.runs)}});
  }
  document["subgraphs"] = subgraphs;
  OrderedJson external = OrderedJson::array();
  for (const ExternalDataFile& file : p.external_data) {
    external.push_back({{"tensor", file.ref.tensor},
                        {"location", ordered_optional(file.ref.location)},
                        {"offset", ordered_optional(file.ref.offset_value)},
                        {"length", ordered_optional(file.ref.length_value)},
                        {"exists", file.check.exists},
                        {"escapes", file.check.escapes},
                        {"size_suffices", ordered_optional(file.check.size_suffices)},
                        {"failed", file.failed()}});
  }
  document["external_data"] = external;
  return document;
}

}  // namespace tarnwick
