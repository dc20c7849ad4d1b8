#include "onnx/profile/graph_walk.h"

#include <unordered_map>

#include "base/number_parse.h"
#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

// Values visible in a graph: its own, then those of the enclosing graphs.
class Scope {
 public:
  explicit Scope(const Scope* parent) : parent_(parent) {}
  const KnownValue* find(const std::string& name) const {
    for (const Scope* scope = this; scope; scope = scope->parent_) {
      auto found = scope->values_.find(name);
      if (found != scope->values_.end()) return &found->second;
    }
    return nullptr;
  }
  void set(const std::string& name, KnownValue value) { values_[name] = std::move(value); }

 private:
  const Scope* parent_;
  std::unordered_map<std::string, KnownValue> values_;
};

std::uint64_t wrapping_numel(const std::vector<std::int64_t>& dims) {
  std::uint64_t count = 1;
  for (std::int64_t dim : dims) count *= static_cast<std::uint64_t>(dim);
  return count;
}

class Walker {
 public:
  Walker(std::int64_t opset, DimBindings& dims, GraphWalk& walk) : opset_(opset), dims_(dims), walk_(walk) {}

  // Walks `graph`; returns what is known of its outputs.
  std::vector<KnownValue> walk(const OnnxGraph& graph, const Scope* parent, const std::string& path,
                               const std::vector<KnownValue>* input_fallbacks) {
    Scope scope(parent);
    for (std::size_t k = 0; k < graph.inputs.size(); ++k) {
      const KnownValue* fallback =
          input_fallbacks && k < input_fallbacks->size() ? &(*input_fallbacks)[k] : nullptr;
      KnownValue input = declared(graph.inputs[k], fallback);
      if (path.empty() && input.shape) walk_.main_input_shapes[graph.inputs[k].name] = *input.shape;
      scope.set(graph.inputs[k].name, std::move(input));
    }
    for (const OnnxTensor& tensor : graph.initializers) {
      walk_.parameters += wrapping_numel(tensor.dims);
      scope.set(tensor.name, known_tensor(tensor));
    }
    for (std::size_t n = 0; n < graph.nodes.size(); ++n) visit(graph.nodes[n], n, scope, path);
    std::vector<KnownValue> outputs;
    for (const OnnxValueInfo& output : graph.outputs) {
      const KnownValue* value = scope.find(output.name);
      outputs.push_back(value ? *value : KnownValue{});
    }
    if (path.empty()) check_stated(graph, scope);
    return outputs;
  }

 private:
  KnownValue declared(const OnnxValueInfo& info, const KnownValue* fallback) {
    KnownValue value;
    value.elem_type = info.elem_type;
    Dims shape;
    bool known = !(info.shape.size() == 1 && info.shape[0] == "*");
    for (const std::string& text : info.shape) {
      Result<std::int64_t> number = parse_signed(text);
      bool symbolic = !number.is_ok() && text != "?" && text != "*";
      if (symbolic) dims_.named.insert(text);
      if (!known) continue;
      if (number.is_ok() && number.value() >= 0) {
        shape.push_back(number.value());
      } else if (text == "?" || text == "*" || number.is_ok()) {
        known = false;
      } else if (auto bound = dims_.bound.find(text); bound != dims_.bound.end()) {
        shape.push_back(bound->second);
        dims_.used.insert(text);
      } else {
        dims_.assumed[text] = 1;
        shape.push_back(1);
      }
    }
    if (known) {
      value.shape = std::move(shape);
    } else if (fallback) {
      value.shape = fallback->shape;
      if (!value.elem_type) value.elem_type = fallback->elem_type;
    }
    return value;
  }

  void visit(const OnnxGraphNode& node, std::size_t position, Scope& scope, const std::string& path) {
    std::size_t index = walk_.nodes.size();
    walk_.nodes.push_back(WalkedNode{&node, node.name.empty() ? "node_" + std::to_string(position + 1) : node.name,
                                     path, {}, {}});
    std::vector<const KnownValue*> inputs;
    for (const std::string& name : node.inputs) inputs.push_back(name.empty() ? nullptr : scope.find(name));
    static const KnownValue kUnknown;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      if (!inputs[k] && !node.inputs[k].empty()) inputs[k] = &kUnknown;
    }
    std::vector<std::vector<KnownValue>> branch_outputs;
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::string step = walk_.nodes[index].name + "/" + attribute.name;
        std::string sub_path = path.empty() ? step : path + "/" + step;
        branch_outputs.push_back(walk_subgraph(node, index, attribute.name, subgraph, scope, sub_path, inputs));
      }
    }
    std::vector<KnownValue> outputs(node.outputs.size());
    bool default_domain = node.domain.empty() || node.domain == "ai.onnx";
    if (node.op_type == "If" && default_domain) {
      outputs = if_outputs(node, branch_outputs);
    } else if (node.op_type == "Loop" && default_domain) {
      outputs = loop_outputs(node, inputs, branch_outputs);
    } else if (ShapeRule rule = default_domain ? find_shape_rule(node.op_type) : nullptr) {
      outputs = rule(RuleInput{node, inputs, opset_});
      outputs.resize(node.outputs.size());
    }
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      if (!node.outputs[k].empty()) scope.set(node.outputs[k], outputs[k]);
    }
    WalkedNode& walked = walk_.nodes[index];
    walked.cost = node_cost(node, inputs, outputs);
    walked.outputs = std::move(outputs);
  }

  std::vector<KnownValue> walk_subgraph(const OnnxGraphNode& node, std::size_t owner, const std::string& attribute,
                                        const OnnxGraph& subgraph, const Scope& scope, const std::string& path,
                                        const std::vector<const KnownValue*>& inputs) {
    std::size_t first_node = walk_.nodes.size();
    std::size_t subgraph_index = walk_.subgraphs.size();
    std::uint64_t parameters_before = walk_.parameters;
    walk_.subgraphs.push_back(WalkedSubgraph{});
    std::vector<KnownValue> fallbacks;
    if (node.op_type == "Loop") {
      fallbacks.push_back(shaped(kInt64, Dims{}));
      fallbacks.push_back(shaped(kBool, Dims{}));
      for (std::size_t k = 2; k < inputs.size(); ++k) {
        KnownValue carried = inputs[k] ? *inputs[k] : KnownValue{};
        carried.ints.reset();  // changes from one iteration to the next
        carried.reals.reset();
        fallbacks.push_back(carried);
      }
    }
    std::vector<KnownValue> outputs = walk(subgraph, &scope, path, &fallbacks);
    WalkedSubgraph& summary = walk_.subgraphs[subgraph_index];
    summary.owner = walk_.nodes[owner].name;
    summary.owner_op_type = node.op_type;
    summary.attribute = attribute;
    summary.path = path;
    summary.parameters = walk_.parameters - parameters_before;
    for (std::size_t k = first_node; k < walk_.nodes.size(); ++k) {
      const WalkedNode& walked = walk_.nodes[k];
      ++summary.node_count;
      if (node_resolved(walked)) ++summary.nodes_resolved;
      summary.macs += walked.cost.macs.value_or(0);
      summary.other_ops += walked.cost.other_ops.value_or(0);
    }
    count_initializers(subgraph, summary.initializer_count);
    return outputs;
  }

  static void count_initializers(const OnnxGraph& graph, std::uint64_t& count) {
    count += graph.initializers.size();
    for (const OnnxGraphNode& node : graph.nodes)
      for (const OnnxAttribute& attribute : node.attributes)
        for (const OnnxGraph& subgraph : attribute.graphs) count_initializers(subgraph, count);
  }

  // An If output is known when both branches agree on its type and shape.
  static std::vector<KnownValue> if_outputs(const OnnxGraphNode& node,
                                            const std::vector<std::vector<KnownValue>>& branches) {
    std::vector<KnownValue> outputs(node.outputs.size());
    if (branches.size() != 2) return outputs;
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      if (k >= branches[0].size() || k >= branches[1].size()) continue;
      const KnownValue& a = branches[0][k];
      const KnownValue& b = branches[1][k];
      if (a.shape && a.shape == b.shape && a.elem_type == b.elem_type) outputs[k] = shaped(a.elem_type, *a.shape);
    }
    return outputs;
  }

  // A loop-carried value is known when the body keeps its shape; scan outputs stay unknown.
  static std::vector<KnownValue> loop_outputs(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs,
                                              const std::vector<std::vector<KnownValue>>& bodies) {
    std::vector<KnownValue> outputs(node.outputs.size());
    if (bodies.size() != 1) return outputs;
    for (std::size_t k = 0; k < outputs.size() && k + 2 < inputs.size(); ++k) {
      const KnownValue* initial = inputs[k + 2];
      if (k + 1 >= bodies[0].size() || !initial || !initial->shape) continue;
      const KnownValue& last = bodies[0][k + 1];
      if (last.shape == initial->shape) outputs[k] = shaped(initial->elem_type, *initial->shape);
    }
    return outputs;
  }

  void check_stated(const OnnxGraph& graph, const Scope& scope) {
    for (const auto* list : {&graph.value_info, &graph.outputs}) {
      for (const OnnxValueInfo& info : *list) {
        Dims stated;
        bool all_static = !(info.shape.size() == 1 && info.shape[0] == "*");
        for (const std::string& text : info.shape) {
          Result<std::int64_t> number = parse_signed(text);
          if (!number.is_ok() || number.value() < 0) all_static = false;
          if (all_static) stated.push_back(number.value());
        }
        const KnownValue* found = scope.find(info.name);
        if (!all_static || !found || !found->shape) continue;
        if (*found->shape == stated) {
          ++walk_.stated.agree;
        } else {
          ++walk_.stated.differ;
        }
      }
    }
  }

  std::int64_t opset_;
  DimBindings& dims_;
  GraphWalk& walk_;
};

}  // namespace

bool node_resolved(const WalkedNode& node) {
  for (std::size_t k = 0; k < node.outputs.size(); ++k)
    if (!node.node->outputs[k].empty() && !node.outputs[k].shape) return false;
  return true;
}

GraphWalk walk_model_graph(const OnnxGraph& graph, std::int64_t opset, DimBindings& dims) {
  GraphWalk walk;
  Walker walker(opset, dims, walk);
  walker.walk(graph, nullptr, "", nullptr);
  walk.main_node_count = graph.nodes.size();
  return walk;
}

}  // namespace tarnwick
