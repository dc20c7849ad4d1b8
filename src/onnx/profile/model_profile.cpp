#include "onnx/profile/model_profile.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <set>

#include "base/checked_math.h"
#include "onnx/onnx_summary.h"
#include "onnx/profile/activation_peak.h"
#include "onnx/profile/name_table.h"
#include "onnx/profile/node_order.h"

namespace tarnwick {

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) { return checked_add(a, b).value_or(UINT64_MAX); }

std::optional<std::uint64_t> output_bytes(const KnownValue& value) {
  if (!value.shape || data_type_name(value.elem_type) == "unknown") return std::nullopt;
  std::optional<std::int64_t> count = dims_product(*value.shape);
  if (!count) return std::nullopt;
  return checked_multiply(static_cast<std::uint64_t>(*count), data_type_size(value.elem_type));
}

// Activations are the values that depend on the graph's inputs: what a node computes from
// initializers and constants alone (a Constant, an exporter's Identity of a shared weight, a
// weight's Transpose) is a weight, and is not counted.
std::uint64_t main_graph_peak(const OnnxGraph& graph, const GraphWalk& walk) {
  NameTable weights(graph.initializers.size());  // names of values computed from weights alone
  for (const OnnxTensor& tensor : graph.initializers) weights.insert(tensor.name, 1);
  std::deque<std::set<std::string>> subgraph_reads;  // holds the names the steps view
  std::vector<ActivationStep> steps;
  steps.reserve(walk.main_node_count);
  for (const WalkedNode& walked : walk.nodes) {
    if (!walked.graph.empty()) continue;
    bool from_weights = true;
    for (const std::string& name : walked.node->inputs) from_weights = from_weights && (name.empty() || weights.find(name));
    for (const OnnxAttribute& attribute : walked.node->attributes) from_weights = from_weights && attribute.graphs.empty();
    if (from_weights) {
      for (const std::string& name : walked.node->outputs) weights.insert(name, 1);
      continue;
    }
    ActivationStep step;
    step.consumes.assign(walked.node->inputs.begin(), walked.node->inputs.end());
    for (const OnnxAttribute& attribute : walked.node->attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        outer_references(subgraph, subgraph_reads.emplace_back());
        step.consumes.insert(step.consumes.end(), subgraph_reads.back().begin(), subgraph_reads.back().end());
      }
    }
    for (std::size_t k = 0; k < walked.outputs.size(); ++k)
      step.produces.emplace_back(walked.node->outputs[k], output_bytes(walked.outputs[k]));
    steps.push_back(std::move(step));
  }
  std::set<std::string, std::less<>> outputs;
  for (const OnnxValueInfo& output : graph.outputs) outputs.insert(output.name);
  return peak_activation_bytes(steps, outputs);
}

// How many times one run of the model runs a node: the product of its enclosing subgraphs' runs
// (0 in the smaller branch of an If, the trip count in a Loop body); nullopt when unknown.
std::optional<std::uint64_t> runs_of(const WalkedNode& walked, const std::vector<WalkedSubgraph>& subgraphs) {
  std::uint64_t runs = 1;
  for (std::optional<std::size_t> k = walked.subgraph; k; k = subgraphs[*k].parent) {
    if (!subgraphs[*k].runs) return std::nullopt;
    runs = checked_multiply(runs, *subgraphs[*k].runs).value_or(UINT64_MAX);
  }
  return runs;
}

bool owns_subgraphs(const WalkedNode& walked) {
  for (const OnnxAttribute& attribute : walked.node->attributes)
    if (!attribute.graphs.empty()) return true;
  return false;
}

// Each node's cost times its runs, so the rows add up to the totals; an If, Loop or Scan adds
// nothing itself (its subgraphs' nodes are counted where they are).
std::vector<OpTypeCost> costs_by_op_type(const GraphWalk& walk) {
  std::map<std::string, OpTypeCost> table;
  for (const WalkedNode& walked : walk.nodes) {
    OpTypeCost& row = table[walked.node->op_type];
    row.op_type = walked.node->op_type;
    ++row.count;
    std::optional<std::uint64_t> runs = runs_of(walked, walk.subgraphs);
    if (!runs || owns_subgraphs(walked)) continue;
    row.macs = saturating_add(row.macs, checked_multiply(walked.cost.macs.value_or(0), *runs).value_or(UINT64_MAX));
    row.other_ops =
        saturating_add(row.other_ops, checked_multiply(walked.cost.other_ops.value_or(0), *runs).value_or(UINT64_MAX));
  }
  std::vector<OpTypeCost> rows;
  for (auto& [name, row] : table) rows.push_back(row);
  std::stable_sort(rows.begin(), rows.end(), [](const OpTypeCost& a, const OpTypeCost& b) {
    std::uint64_t fa = node_flops({a.macs, a.other_ops}), fb = node_flops({b.macs, b.other_ops});
    if (fa != fb) return fa > fb;
    return a.count > b.count;
  });
  return rows;
}

std::vector<DtypeParameters> parameters_by_dtype(const std::vector<const OnnxTensor*>& tensors, std::uint64_t& total_bytes) {
  std::map<std::string, DtypeParameters> table;
  for (const OnnxTensor* tensor : tensors) {
    std::string dtype = data_type_name(tensor->data_type);
    DtypeParameters& row = table[dtype];
    row.dtype = dtype;
    ++row.tensors;
    std::uint64_t elements = 1;
    for (std::int64_t dim : tensor->dims) elements *= static_cast<std::uint64_t>(dim);  // wraps, as the inspector's count
    row.elements += elements;
    std::uint64_t bytes = tensor_byte_size(tensor->dims, tensor->data_type).value_or(0);
    row.bytes = saturating_add(row.bytes, bytes);
    total_bytes = saturating_add(total_bytes, bytes);
  }
  std::vector<DtypeParameters> rows;
  for (auto& [name, row] : table) rows.push_back(row);
  std::stable_sort(rows.begin(), rows.end(), [](const DtypeParameters& a, const DtypeParameters& b) { return a.bytes > b.bytes; });
  return rows;
}

}  // namespace

std::size_t ModelProfile::external_data_failures() const {
  std::size_t count = 0;
  for (const ExternalDataFile& file : external_data) count += file.failed() ? 1 : 0;
  return count;
}

std::uint64_t node_flops(const NodeCost& cost) {
  std::uint64_t macs = cost.macs.value_or(0);
  std::uint64_t doubled = macs > UINT64_MAX / 2 ? UINT64_MAX : 2 * macs;
  return saturating_add(doubled, cost.other_ops.value_or(0));
}

ModelProfile profile_model(const std::string& path, const OnnxModel& model, std::map<std::string, std::int64_t> bound_dims) {
  ModelProfile profile;
  profile.path = path;
  profile.dims.bound = std::move(bound_dims);
  profile.walk = walk_model_graph(model.graph, default_opset(model).value_or(1), profile.dims);
  for (const WalkedNode& walked : profile.walk.nodes) {
    ++profile.node_count;
    if (node_resolved(walked)) ++profile.nodes_resolved;
    for (std::size_t k = 0; k < walked.outputs.size(); ++k) {
      if (walked.node->outputs[k].empty()) continue;
      ++profile.output_count;
      if (walked.outputs[k].shape) ++profile.outputs_resolved;
    }
    if (walked.cost.macs) ++profile.nodes_costed;
    std::optional<NodeCost> cost = counted_cost(walked);
    if (!cost) profile.unresolved.push_back(&walked);
    if (!walked.graph.empty() || !cost) continue;  // subgraphs are counted through their owners
    profile.macs = saturating_add(profile.macs, cost->macs.value_or(0));
    profile.other_ops = saturating_add(profile.other_ops, cost->other_ops.value_or(0));
  }
  profile.flops = node_flops({profile.macs, profile.other_ops});
  profile.parameters = profile.walk.parameters;
  profile.parameters_by_dtype = parameters_by_dtype(profile.walk.initializers, profile.parameter_bytes);
  profile.stated = profile.walk.stated;
  profile.peak_activation_bytes = main_graph_peak(model.graph, profile.walk);
  profile.by_op_type = costs_by_op_type(profile.walk);
  std::filesystem::path model_dir = std::filesystem::path(path).parent_path();
  for (ExternalDataRef& ref : list_external_data(model.graph)) {
    ExternalDataCheck check = check_external_data(model_dir, ref);
    profile.external_data.push_back({std::move(ref), check});
  }
  return profile;
}

}  // namespace tarnwick
