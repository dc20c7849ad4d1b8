#include <algorithm>
#include <set>

#include "base/decode_budget.h"
#include "base/file_read.h"
#include "base/fnv_lanes.h"
#include "base/format.h"
#include "base/number_parse.h"
#include "base/text.h"
#include "onnx/onnx_graph.h"
#include "onnx/onnx_summary.h"
#include "onnx/profile/propagated_shapes.h"
#include "onnx/protobuf.h"

namespace tarnwick {

namespace {

Status read_optional_string(const ProtoField& field, std::optional<std::string>& into) {
  std::string text;
  Status status = read_string(field, text);
  if (status.is_ok()) into = std::move(text);
  return status;
}

// Field number (4 bytes LE), wire type, then the payload or the varint value (8 bytes LE).
// The bytes are only listed here; they are hashed once the whole graph is read.
void feed_fingerprint(std::optional<FnvJob>& job, const ProtoField& field) {
  if (!job) job.emplace();
  char header[13];
  for (int i = 0; i < 4; ++i) header[i] = static_cast<char>((field.field_number >> (8 * i)) & 0xFF);
  header[4] = static_cast<char>(field.wire_type);
  if (!field.payload.empty()) {
    job->add(std::string_view(header, 5), field.payload);
    return;
  }
  for (int i = 0; i < 8; ++i) header[5 + i] = static_cast<char>((field.varint >> (8 * i)) & 0xFF);
  job->add(std::string_view(header, 13), {});
}

// Data fingerprints of large initializers, hashed side by side after the graph is read.
struct PendingDigest {
  std::size_t initializer = 0;
  FnvJob job;
};
constexpr std::uint64_t kHashLaterBytes = 1 << 16;

Status read_attribute(std::string_view bytes, OnnxNode& node) {
  std::optional<std::string> name;
  std::optional<std::int64_t> value;
  Status status = for_each_field(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_optional_string(field, name);
    if (is_field(field, 3, kVarint)) value = static_cast<std::int64_t>(field.varint);
    return Status::ok();
  });
  if (status.is_ok() && name && value) node.int_attributes[*name] = *value;
  return status;
}

Status read_node(std::string_view bytes, OnnxNode& node, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    if (field.field_number == 1 || field.field_number == 2 || field.field_number == 5) {
      Status drawn = budget.draw(1, "ONNX node inputs, outputs and attributes");
      if (!drawn.is_ok()) return drawn;
    }
    switch (field.field_number) {
      case 1: return read_string(field, node.inputs.emplace_back());
      case 2: return read_string(field, node.outputs.emplace_back());
      case 3: return read_optional_string(field, node.name);
      case 4: return read_string(field, node.op_type);
      case 5: return read_attribute(field.payload, node);
      default: return Status::ok();
    }
  });
}

Status read_packed_dims(std::string_view payload, DimList& dims, DecodeBudget& budget) {
  // A dimension takes at most the bytes it took in the file: reserving them avoids growing twice.
  dims.reserve_bytes(dims.byte_size() + payload.size());
  std::size_t position = 0;
  while (position < payload.size()) {
    Result<std::uint64_t> dim = decode_varint(payload, position);
    if (!dim.is_ok()) return dim.error();
    dims.push_back(dim.value());
  }
  return budget.draw(dims.size(), "ONNX initializer dimensions");
}

// The data fingerprint of a small tensor is hashed at once; a large one's job goes to `later`.
Status read_tensor(std::string_view bytes, OnnxInitializer& tensor, std::optional<FnvJob>& data_hash,
                   DecodeBudget& budget) {
  std::optional<FnvJob> external_hash;
  Status status = for_each_field(bytes, [&](const ProtoField& field) -> Status {
    switch (field.field_number) {
      case 1:
        if (field.wire_type == kVarint) {
          tensor.dims.push_back(field.varint);
          return budget.draw(1, "ONNX initializer dimensions");
        }
        if (field.wire_type == kLengthDelimited) return read_packed_dims(field.payload, tensor.dims, budget);
        return Status::ok();
      case 2:
        if (field.wire_type == kVarint) tensor.data_type = low_32_bits(field.varint);
        return Status::ok();
      case 8:
        if (field.wire_type == kLengthDelimited) return read_string(field, tensor.name);
        return Status::ok();
      case 9:
        if (field.wire_type == kLengthDelimited) tensor.raw_data_bytes = field.payload.size();
        feed_fingerprint(data_hash, field);
        return Status::ok();
      case 4:
      case 5:
      case 6:
      case 7:
      case 10:
      case 11: feed_fingerprint(data_hash, field); return Status::ok();
      case 13:
        if (field.wire_type == kLengthDelimited) {
          feed_fingerprint(external_hash, field);
          ++tensor.external_data_entries;
        }
        return Status::ok();
      case 14:
        if (field.wire_type == kVarint) tensor.data_location = low_32_bits(field.varint);
        return Status::ok();
      default: return Status::ok();
    }
  });
  if (data_hash && data_hash->total_bytes() < kHashLaterBytes) {
    tensor.data_fingerprint = data_hash->digest_alone();
    data_hash.reset();
  }
  if (external_hash) tensor.external_data_fingerprint = external_hash->digest_alone();
  return status;
}

Status read_tensor_type(std::string_view bytes, OnnxValueInfo& info, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kVarint)) info.elem_type = low_32_bits(field.varint);
    if (!is_field(field, 2, kLengthDelimited)) return Status::ok();
    info.shape.clear();
    return for_each_field(field.payload, [&](const ProtoField& dim) {
      if (!is_field(dim, 1, kLengthDelimited)) return Status::ok();
      Status drawn = budget.draw(1, "ONNX shape dimensions");
      if (!drawn.is_ok()) return drawn;
      return read_dimension(dim.payload, info.shape.emplace_back());
    });
  });
}

Status read_type(std::string_view bytes, OnnxValueInfo& info, DecodeBudget& budget) {
  info.elem_type.reset();
  info.shape.clear();
  Status checked = check_fields(bytes);
  if (!checked.is_ok()) return checked;
  std::size_t position = 0;
  ProtoField field;
  while (position < bytes.size()) {
    Status decoded = decode_field(bytes, position, field);
    if (!decoded.is_ok()) return decoded;
    if (is_field(field, 1, kLengthDelimited)) return read_tensor_type(field.payload, info, budget);
  }
  return Status::ok();
}

Status read_value_info(std::string_view bytes, OnnxValueInfo& info, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, info.name);
    if (is_field(field, 2, kLengthDelimited)) return read_type(field.payload, info, budget);
    return Status::ok();
  });
}

bool mentions_attention(std::string_view name) {
  static constexpr std::string_view kWord = "attention";
  if (name.size() < kWord.size()) return false;
  for (std::size_t at = 0; at + kWord.size() <= name.size(); ++at) {
    bool same = true;
    for (std::size_t k = 0; k < kWord.size() && same; ++k) {
      char c = name[at + k];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      same = c == kWord[k];
    }
    if (same) return true;
  }
  return false;
}

bool node_mentions_attention(const OnnxNode& node) {
  if (node.name && mentions_attention(*node.name)) return true;
  for (const auto* names : {&node.inputs, &node.outputs}) {
    for (const std::string& name : *names) {
      if (mentions_attention(name)) return true;
    }
  }
  return false;
}

// A node whose operator has a cost formula, decoded again once every shape is known.
struct CostedNode {
  std::string_view payload;
  std::uint64_t position = 0;
};

// The parts of a graph that the summary keeps, plus the value_info list for the shape map.
// Nodes are folded into counts as they are read; only those with a cost formula are
// remembered, as views into the model bytes.
struct GraphContents {
  explicit GraphContents(DecodeBudget& shared_budget) : budget(shared_budget) {}

  DecodeBudget& budget;
  std::optional<std::string> name;
  std::uint64_t node_count = 0;
  bool nodes_mention_attention = false;
  std::map<std::string, std::uint64_t> op_counts;
  std::string last_op;
  std::uint64_t* last_count = nullptr;
  std::vector<CostedNode> costed;
  std::set<std::string, std::less<>> shapes_wanted;  // the names costed nodes look up
  std::vector<OnnxInitializer> initializers;
  std::vector<PendingDigest> pending_digests;
  std::vector<OnnxValueInfo> inputs, outputs, value_info;
};

Status read_initializer(std::string_view payload, GraphContents& graph) {
  std::optional<FnvJob> data_hash;
  Status drawn = graph.budget.draw(1, "ONNX initializers");
  if (!drawn.is_ok()) return drawn;
  Status status = read_tensor(payload, graph.initializers.emplace_back(), data_hash, graph.budget);
  if (data_hash) graph.pending_digests.push_back({graph.initializers.size() - 1, std::move(*data_hash)});
  return status;
}

void finish_pending_digests(GraphContents& graph) {
  std::vector<FnvJob*> jobs;
  for (PendingDigest& pending : graph.pending_digests) jobs.push_back(&pending.job);
  std::vector<std::uint64_t> digests;
  hash_side_by_side(jobs, digests);
  for (std::size_t i = 0; i < digests.size(); ++i) {
    graph.initializers[graph.pending_digests[i].initializer].data_fingerprint = digests[i];
  }
  graph.pending_digests.clear();
}

Status fold_node(std::string_view payload, GraphContents& graph) {
  Status drawn = graph.budget.draw(1, "ONNX graph nodes");
  if (!drawn.is_ok()) return drawn;
  if (payload.empty()) {  // a node without fields: an "Unknown" operator, no names, no estimate
    ++graph.op_counts["Unknown"];
    ++graph.node_count;
    return Status::ok();
  }
  OnnxNode node;
  Status status = read_node(payload, node, graph.budget);
  if (!status.is_ok()) return status;
  // Neighbouring nodes mostly share their operator: count into the last one's entry directly.
  if (graph.last_count == nullptr || graph.last_op != node.op_type) {
    graph.last_count = &graph.op_counts[node.op_type];
    graph.last_op = node.op_type;
  }
  ++*graph.last_count;
  if (!graph.nodes_mention_attention) graph.nodes_mention_attention = node_mentions_attention(node);
  if (has_cost_formula(node.op_type)) {
    graph.costed.push_back({payload, graph.node_count});
    for (std::size_t i = 0; i < node.inputs.size() && i < 2; ++i) graph.shapes_wanted.insert(node.inputs[i]);
    if (!node.outputs.empty()) graph.shapes_wanted.insert(node.outputs[0]);
  }
  ++graph.node_count;
  return Status::ok();
}

Status read_graph(std::string_view bytes, GraphContents& graph) {
  Status drawn = draw_value_infos(bytes, graph.budget);
  if (!drawn.is_ok()) return drawn;
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    switch (field.field_number) {
      case 1: return fold_node(field.payload, graph);
      case 2: return read_optional_string(field, graph.name);
      case 5: return read_initializer(field.payload, graph);
      case 11: return read_value_info(field.payload, graph.inputs.emplace_back(), graph.budget);
      case 12: return read_value_info(field.payload, graph.outputs.emplace_back(), graph.budget);
      case 13: return read_value_info(field.payload, graph.value_info.emplace_back(), graph.budget);
      default: return Status::ok();
    }
  });
}

std::optional<std::vector<std::uint64_t>> known_dims(const OnnxValueInfo& info) {
  std::vector<std::uint64_t> dims;
  for (const std::string& text : info.shape) {
    Result<std::uint64_t> dim = parse_unsigned(text);
    if (!dim.is_ok()) return std::nullopt;
    dims.push_back(dim.value());
  }
  return dims;
}

// Only the shapes some costed node looks up: a graph without such nodes copies no dimensions.
ShapeMap build_shape_map(const GraphContents& graph) {
  ShapeMap shapes;
  auto wanted = [&](const std::string& name) { return graph.shapes_wanted.count(name) != 0; };
  for (const auto* list : {&graph.inputs, &graph.outputs, &graph.value_info}) {
    for (const OnnxValueInfo& info : *list) {
      if (!wanted(info.name)) continue;
      if (auto dims = known_dims(info)) shapes[info.name] = std::move(*dims);
    }
  }
  for (const OnnxInitializer& initializer : graph.initializers) {
    if (wanted(initializer.name)) shapes[initializer.name] = initializer.dims.to_vector();
  }
  return shapes;
}

std::vector<std::pair<std::string, std::uint64_t>> sort_op_counts(const std::map<std::string, std::uint64_t>& counts) {
  std::vector<std::pair<std::string, std::uint64_t>> sorted(counts.begin(), counts.end());
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  return sorted;
}

// The reports show the 10 most expensive estimates at most, ordered by ops and then by name (JSON)
// or by graph position (text). Past a few thousand, the list is cut to the entries that can
// still appear in either order, so a graph of millions of costed nodes holds a few thousand.
void keep_reportable_estimates(std::vector<OpEstimate>& estimates) {
  constexpr std::size_t kShown = 10;
  std::vector<std::size_t> order(estimates.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::vector<bool> keep(estimates.size(), false);
  auto mark_first = [&](auto before) {
    std::partial_sort(order.begin(), order.begin() + kShown, order.end(), before);
    for (std::size_t i = 0; i < kShown; ++i) keep[order[i]] = true;
  };
  mark_first([&](std::size_t a, std::size_t b) {
    if (*estimates[a].ops != *estimates[b].ops) return *estimates[a].ops > *estimates[b].ops;
    if (estimates[a].name != estimates[b].name) return estimates[a].name < estimates[b].name;
    return a < b;
  });
  mark_first([&](std::size_t a, std::size_t b) {
    if (*estimates[a].ops != *estimates[b].ops) return *estimates[a].ops > *estimates[b].ops;
    return a < b;
  });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < estimates.size(); ++i) {
    if (!keep[i]) continue;
    // An entry already in place stays: moving a string onto itself leaves it empty.
    if (kept != i) estimates[kept] = std::move(estimates[i]);
    ++kept;
  }
  estimates.resize(kept);
}

// Costed nodes without an estimate, and of those the ones missing a shape their formula needs.
struct EstimatePass {
  std::uint64_t unestimated = 0;
  std::uint64_t unshaped = 0;
};

// Each pass decodes the costed nodes again, drawing their names from `budget`.
Result<EstimatePass> estimate_nodes(OnnxSummary& summary, const GraphContents& graph, const ShapeMap& shapes,
                                    DecodeBudget& budget) {
  summary.estimated_ops = 0;
  summary.op_estimates.clear();
  EstimatePass pass;
  EstimateMemo memo;
  for (const CostedNode& costed : graph.costed) {
    OnnxNode node;
    Status status = read_node(costed.payload, node, budget);
    if (!status.is_ok()) return status.error();
    std::optional<std::uint64_t> ops = estimate_node_ops(node, shapes, &memo);
    if (!ops) {
      ++pass.unestimated;
      if (!cost_shapes_known(node, shapes)) ++pass.unshaped;
      continue;
    }
    OpEstimate estimate;
    estimate.ops = ops;
    estimate.name = node.name && !node.name->empty() ? *node.name : "node_" + std::to_string(costed.position + 1);
    estimate.op_type = std::move(node.op_type);
    summary.estimated_ops += *ops;
    summary.op_estimates.push_back(std::move(estimate));
    if (summary.op_estimates.size() >= 4096) keep_reportable_estimates(summary.op_estimates);
  }
  return pass;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// The formulas run over the shapes the file states; a shape it leaves out is taken from the
// propagation through the whole graph, so a file that states every shape is never walked.
Status estimate_ops(OnnxSummary& summary, const GraphContents& graph, std::string_view model_bytes) {
  ShapeMap shapes = build_shape_map(graph);
  Result<EstimatePass> pass = estimate_nodes(summary, graph, shapes, graph.budget);
  if (!pass.is_ok() || pass.value().unshaped == 0) return pass.is_ok() ? Status::ok() : pass.error();
  Result<PropagatedShapes> propagated = propagate_shapes(model_bytes, graph.shapes_wanted);
  if (!propagated.is_ok()) {
    summary.estimate_notes.push_back("Estimated ops count only the nodes whose shapes the file states; the graph could not be walked (" +
                                     propagated.message() + ").");
    return Status::ok();
  }
  for (auto& [name, dims] : propagated.value().shapes) shapes.emplace(name, std::move(dims));
  // The second pass decodes what the first did: its budget is the file's again, not the summary's.
  DecodeBudget second_pass(model_bytes.size());
  pass = estimate_nodes(summary, graph, shapes, second_pass);
  if (!pass.is_ok()) return pass.error();
  if (pass.value().unshaped > 0) {
    summary.estimate_notes.push_back("Estimated ops leave out " + std::to_string(pass.value().unshaped) + " of " +
                                     std::to_string(graph.costed.size()) +
                                     " nodes with a cost formula: their shapes could not be propagated.");
  }
  if (!propagated.value().assumed_dims.empty()) {
    summary.estimate_notes.push_back("Estimated ops take the symbolic dimensions " +
                                     joined(propagated.value().assumed_dims) + " as 1.");
  }
  return Status::ok();
}

Status derive_totals(OnnxSummary& summary, const GraphContents& graph, std::string_view model_bytes) {
  Status estimated = estimate_ops(summary, graph, model_bytes);
  if (!estimated.is_ok()) return estimated;
  for (const OnnxInitializer& initializer : graph.initializers) {
    summary.parameter_values += element_count(initializer);
    summary.parameter_memory_bytes += estimated_bytes(initializer);
  }
  summary.op_counts = sort_op_counts(graph.op_counts);
  return Status::ok();
}

}  // namespace

Status draw_value_infos(std::string_view graph, DecodeBudget& budget) {
  std::uint64_t count = 0;
  Status counted = for_each_field(graph, [&](const ProtoField& field) {
    if (field.wire_type == kLengthDelimited && field.field_number >= 11 && field.field_number <= 13) ++count;
    return Status::ok();
  });
  if (!counted.is_ok()) return counted;
  return budget.draw(count * kValueInfoElements, "ONNX graph inputs, outputs and value infos");
}

Result<OnnxSummary> summarize_onnx_bytes(const std::string& path, std::string_view bytes) {
  DecodeBudget budget(bytes.size());
  return summarize_onnx_bytes(path, bytes, budget);
}

Result<OnnxSummary> summarize_onnx_bytes(const std::string& path, std::string_view bytes, DecodeBudget& budget) {
  OnnxSummary summary;
  std::optional<GraphContents> graph;
  Status status = for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kVarint)) summary.ir_version = static_cast<std::int64_t>(field.varint);
    if (is_field(field, 2, kLengthDelimited)) return read_optional_string(field, summary.producer);
    if (is_field(field, 7, kLengthDelimited)) {
      GraphContents contents(budget);
      Status read = read_graph(field.payload, contents);
      if (!read.is_ok()) return read;
      finish_pending_digests(contents);
      graph.emplace(std::move(contents));
      return read;
    }
    if (is_field(field, 8, kLengthDelimited)) {
      Status drawn = budget.draw(1, "ONNX opset imports");
      if (!drawn.is_ok()) return drawn;
      return read_opset(field.payload, summary.opset_imports.emplace_back());
    }
    return Status::ok();
  });
  if (!status.is_ok()) return status.error();
  if (!graph) return fail("ONNX ModelProto did not contain graph field");

  summary.name = last_path_component(path);
  summary.file_size_bytes = bytes.size();
  summary.graph_name = graph->name;
  summary.value_info_entries = graph->value_info.size();
  summary.node_count = graph->node_count;
  summary.node_names_mention_attention = graph->nodes_mention_attention;
  Status derived = derive_totals(summary, *graph, bytes);
  if (!derived.is_ok()) return derived.error();
  summary.inputs = std::move(graph->inputs);
  summary.outputs = std::move(graph->outputs);
  summary.initializers = std::move(graph->initializers);
  return summary;
}

Result<OnnxSummary> read_onnx_summary(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return summarize_onnx_bytes(path, bytes.value().view());
}

}  // namespace tarnwick
