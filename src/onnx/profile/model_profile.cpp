#include "onnx/profile/model_profile.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "base/checked_math.h"
#include "onnx/onnx_summary.h"
#include "onnx/profile/activation_peak.h"

namespace tarnwick {

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) { return checked_add(a, b).value_or(UINT64_MAX); }

std::optional<std::uint64_t> output_bytes(const KnownValue& value) {
  if (!value.shape || data_type_name(value.elem_type) == "unknown") return std::nullopt;
  std::optional<std::int64_t> count = dims_product(*value.shape);
  if (!count) return std::nullopt;
  return checked_multiply(static_cast<std::uint64_t>(*count), data_type_size(value.elem_type));
}

// Names a graph reads from enclosing graphs.
void outer_references(const OnnxGraph& graph, std::set<std::string>& names) {
  std::set<std::string> local;
  for (const OnnxValueInfo& input : graph.inputs) local.insert(input.name);
  for (const OnnxTensor& tensor : graph.initializers) local.insert(tensor.name);
  for (const OnnxGraphNode& node : graph.nodes) {
    for (const std::string& name : node.inputs)
      if (!name.empty() && !local.count(name)) names.insert(name);
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::set<std::string> inner;
        outer_references(subgraph, inner);
        for (const std::string& name : inner)
          if (!local.count(name)) names.insert(name);
      }
    }
    for (const std::string& name : node.outputs) local.insert(name);
  }
}

std::uint64_t main_graph_peak(const OnnxGraph& graph, const GraphWalk& walk) {
  std::vector<ActivationStep> steps;
  for (const WalkedNode& walked : walk.nodes) {
    if (!walked.graph.empty()) continue;
    ActivationStep step;
    step.consumes = walked.node->inputs;
    for (const OnnxAttribute& attribute : walked.node->attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::set<std::string> names;
        outer_references(subgraph, names);
        step.consumes.insert(step.consumes.end(), names.begin(), names.end());
      }
    }
    for (std::size_t k = 0; k < walked.outputs.size(); ++k)
      step.produces.emplace_back(walked.node->outputs[k], output_bytes(walked.outputs[k]));
    steps.push_back(std::move(step));
  }
  std::set<std::string> outputs;
  for (const OnnxValueInfo& output : graph.outputs) outputs.insert(output.name);
  return peak_activation_bytes(steps, outputs);
}

std::vector<OpTypeCost> costs_by_op_type(const std::vector<WalkedNode>& nodes) {
  std::map<std::string, OpTypeCost> table;
  for (const WalkedNode& walked : nodes) {
    OpTypeCost& row = table[walked.node->op_type];
    row.op_type = walked.node->op_type;
    ++row.count;
    row.macs = saturating_add(row.macs, walked.cost.macs.value_or(0));
    row.other_ops = saturating_add(row.other_ops, walked.cost.other_ops.value_or(0));
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

}  // namespace

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
    profile.macs = saturating_add(profile.macs, walked.cost.macs.value_or(0));
    profile.other_ops = saturating_add(profile.other_ops, walked.cost.other_ops.value_or(0));
  }
  profile.flops = node_flops({profile.macs, profile.other_ops});
  profile.parameters = profile.walk.parameters;
  profile.stated = profile.walk.stated;
  profile.peak_activation_bytes = main_graph_peak(model.graph, profile.walk);
  profile.by_op_type = costs_by_op_type(profile.walk.nodes);
  std::filesystem::path model_dir = std::filesystem::path(path).parent_path();
  for (ExternalDataRef& ref : list_external_data(model.graph)) {
    ExternalDataCheck check = check_external_data(model_dir, ref);
    profile.external_data.push_back({std::move(ref), check});
  }
  return profile;
}

}  // namespace tarnwick
