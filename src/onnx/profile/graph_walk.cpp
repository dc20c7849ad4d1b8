#include "onnx/profile/graph_walk.h"

#include <deque>
#include <unordered_map>

#include "base/checked_math.h"
#include "base/number_parse.h"
#include "onnx/profile/name_table.h"
#include "onnx/profile/node_order.h"
#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

// Values visible in a graph: its own, then those of the enclosing graphs. Names view the
// model's strings and values point at the walk's records (or at the scope's own), which all
// outlive the scope.
class Scope {
 public:
  Scope(const Scope* parent, std::size_t expected) : parent_(parent), index_(expected) { values_.reserve(expected); }
  const KnownValue* find(std::string_view name) const {
    for (const Scope* scope = this; scope; scope = scope->parent_) {
      if (std::optional<std::uint32_t> id = scope->index_.find(name)) return scope->values_[*id];
    }
    return nullptr;
  }
  void set(std::string_view name, const KnownValue* value) {
    index_.assign(name, static_cast<std::uint32_t>(values_.size()));
    values_.push_back(value);
  }
  void own(std::string_view name, KnownValue value) {
    owned_.push_back(std::move(value));
    set(name, &owned_.back());
  }

 private:
  const Scope* parent_;
  NameTable index_;
  std::vector<const KnownValue*> values_;
  std::deque<KnownValue> owned_;
};

std::size_t nodes_in(const OnnxGraph& graph) {
  std::size_t count = graph.nodes.size();
  for (const OnnxGraphNode& node : graph.nodes)
    for (const OnnxAttribute& attribute : node.attributes)
      for (const OnnxGraph& subgraph : attribute.graphs) count += nodes_in(subgraph);
  return count;
}

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
                               const std::vector<KnownValue>* input_fallbacks,
                               std::optional<std::size_t> subgraph = std::nullopt) {
    Scope scope(parent, graph.inputs.size() + graph.initializers.size() + 2 * graph.nodes.size());
    for (std::size_t k = 0; k < graph.inputs.size(); ++k) {
      const KnownValue* fallback =
          input_fallbacks && k < input_fallbacks->size() ? &(*input_fallbacks)[k] : nullptr;
      KnownValue input = declared(graph.inputs[k], fallback);
      if (path.empty() && input.shape) walk_.main_input_shapes[graph.inputs[k].name] = *input.shape;
      scope.own(graph.inputs[k].name, std::move(input));
    }
    for (const OnnxTensor& tensor : graph.initializers) {
      walk_.parameters += wrapping_numel(tensor.dims);
      walk_.initializers.push_back(&tensor);
      scope.own(tensor.name, known_tensor(tensor));
    }
    for (std::size_t n : topological_order(graph)) visit(graph.nodes[n], n, scope, path, subgraph);
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
      if (fallback && fallback->shape == value.shape) value.ints = fallback->ints;
    } else if (fallback) {
      value.shape = fallback->shape;
      value.ints = fallback->ints;
      if (!value.elem_type) value.elem_type = fallback->elem_type;
    }
    return value;
  }

  void visit(const OnnxGraphNode& node, std::size_t position, Scope& scope, const std::string& path,
             std::optional<std::size_t> subgraph) {
    std::size_t index = walk_.nodes.size();
    walk_.nodes.push_back(WalkedNode{&node, node.name.empty() ? "node_" + std::to_string(position + 1) : node.name,
                                     path, subgraph, {}, {}});
    std::vector<const KnownValue*> inputs;
    for (const std::string& name : node.inputs) inputs.push_back(name.empty() ? nullptr : scope.find(name));
    static const KnownValue kUnknown;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      if (!inputs[k] && !node.inputs[k].empty()) inputs[k] = &kUnknown;
    }
    std::vector<std::vector<KnownValue>> branch_outputs;
    std::vector<std::size_t> owned;  // indexes of the node's subgraphs in walk_.subgraphs
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& graph : attribute.graphs) {
        std::string step = walk_.nodes[index].name + "/" + attribute.name;
        std::string sub_path = path.empty() ? step : path + "/" + step;
        owned.push_back(walk_.subgraphs.size());
        branch_outputs.push_back(walk_subgraph(node, index, attribute.name, graph, scope, sub_path, inputs, subgraph));
      }
    }
    std::vector<KnownValue> outputs(node.outputs.size());
    bool default_domain = node.domain.empty() || node.domain == "ai.onnx";
    std::optional<std::uint64_t> trip_count;
    if (node.op_type == "Loop" && default_domain && branch_outputs.size() == 1)
      trip_count = loop_trip_count(inputs, branch_outputs[0]);
    if (node.op_type == "Scan" && default_domain) trip_count = scan_length(node, inputs);
    if (node.op_type == "If" && default_domain) {
      outputs = if_outputs(node, branch_outputs);
    } else if (node.op_type == "Loop" && default_domain) {
      outputs = loop_outputs(node, inputs, branch_outputs, trip_count);
    } else if (node.op_type == "Scan" && default_domain) {
      outputs = scan_outputs(node, inputs, branch_outputs, trip_count);
    } else if (ShapeRule rule = default_domain ? rule_for(node.op_type) : nullptr) {
      outputs = rule(RuleInput{node, inputs, opset_});
      outputs.resize(node.outputs.size());
    }
    WalkedNode& walked = walk_.nodes[index];  // walk_.nodes never grows past its reserve
    walked.cost = node_cost(node, inputs, outputs);
    walked.outputs = std::move(outputs);
    for (std::size_t k = 0; k < walked.outputs.size(); ++k) {
      if (!node.outputs[k].empty()) scope.set(node.outputs[k], &walked.outputs[k]);
    }
    if (default_domain && !owned.empty() && (node.op_type == "If" || node.op_type == "Loop" || node.op_type == "Scan"))
      walked.cost = control_flow_cost(node.op_type, owned, trip_count);
  }

  // An If runs its larger branch (by FLOPs; then_branch on a tie); a Loop or Scan its body once
  // per iteration. Unknown when a subgraph is incomplete or the iterations are unknown.
  NodeCost control_flow_cost(const std::string& op, const std::vector<std::size_t>& owned,
                             std::optional<std::uint64_t> trip_count) {
    bool complete = true;
    for (std::size_t k : owned) {
      complete = complete && walk_.subgraphs[k].complete;
      walk_.subgraphs[k].runs.reset();
    }
    if (op == "If") {
      if (!complete || owned.size() != 2) return NodeCost{};
      const WalkedSubgraph& a = walk_.subgraphs[owned[0]];
      const WalkedSubgraph& b = walk_.subgraphs[owned[1]];
      bool first = node_flops_of(a) >= node_flops_of(b);
      walk_.subgraphs[owned[0]].runs = first ? 1 : 0;
      walk_.subgraphs[owned[1]].runs = first ? 0 : 1;
      const WalkedSubgraph& larger = first ? a : b;
      return NodeCost{larger.macs, larger.other_ops};
    }
    if (!complete || !trip_count || owned.size() != 1) return NodeCost{};
    WalkedSubgraph& body = walk_.subgraphs[owned[0]];
    body.runs = trip_count;
    return NodeCost{checked_multiply(body.macs, *trip_count).value_or(UINT64_MAX),
                    checked_multiply(body.other_ops, *trip_count).value_or(UINT64_MAX)};
  }

  static std::uint64_t node_flops_of(const WalkedSubgraph& sub) {
    std::uint64_t doubled = sub.macs > UINT64_MAX / 2 ? UINT64_MAX : 2 * sub.macs;
    return checked_add(doubled, sub.other_ops).value_or(UINT64_MAX);
  }

  // A Loop runs M times when M is a known constant and the condition cannot stop it early: it
  // enters true and the body keeps it a known true.
  static std::optional<std::uint64_t> loop_trip_count(const std::vector<const KnownValue*>& inputs,
                                                      const std::vector<KnownValue>& body_outputs) {
    if (inputs.empty() || !inputs[0] || !inputs[0]->ints || inputs[0]->ints->size() != 1) return std::nullopt;
    std::int64_t trips = (*inputs[0]->ints)[0];
    if (trips < 0 || body_outputs.empty()) return std::nullopt;
    const KnownValue& condition = body_outputs[0];
    if (!condition.ints || condition.ints->size() != 1 || (*condition.ints)[0] == 0) return std::nullopt;
    return static_cast<std::uint64_t>(trips);
  }

  // Scan's body sees the states as they enter, then one slice of each scan input (its scan axis
  // removed).
  static std::vector<KnownValue> scan_body_inputs(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs) {
    std::vector<KnownValue> body(inputs.size());
    const OnnxAttribute* scan_inputs = node.attribute("num_scan_inputs");
    if (!scan_inputs || !scan_inputs->i || *scan_inputs->i < 0 || static_cast<std::uint64_t>(*scan_inputs->i) > inputs.size())
      return {};
    std::size_t states = inputs.size() - static_cast<std::size_t>(*scan_inputs->i);
    const OnnxAttribute* axes = node.attribute("scan_input_axes");
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      if (!inputs[k] || !inputs[k]->shape) continue;
      body[k] = shaped(inputs[k]->elem_type, *inputs[k]->shape);
      if (k < states) continue;
      std::size_t j = k - states;
      std::int64_t axis = axes && j < axes->ints.size() ? axes->ints[j] : 0;
      std::optional<std::size_t> normal = normalize_axis(axis, inputs[k]->shape->size());
      if (!normal) {
        body[k] = KnownValue{};
        continue;
      }
      body[k].shape->erase(body[k].shape->begin() + static_cast<std::ptrdiff_t>(*normal));
    }
    return body;
  }

  // Final states keep their shape when the body keeps it; each scan output stacks the body's
  // per-iteration value along its scan output axis (0 unless stated).
  static std::vector<KnownValue> scan_outputs(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs,
                                              const std::vector<std::vector<KnownValue>>& bodies,
                                              std::optional<std::uint64_t> length) {
    std::vector<KnownValue> outputs(node.outputs.size());
    const OnnxAttribute* scan_inputs = node.attribute("num_scan_inputs");
    if (bodies.size() != 1 || !scan_inputs || !scan_inputs->i || *scan_inputs->i < 0 ||
        static_cast<std::uint64_t>(*scan_inputs->i) > inputs.size())
      return outputs;
    std::size_t states = inputs.size() - static_cast<std::size_t>(*scan_inputs->i);
    const std::vector<KnownValue>& body = bodies[0];
    const OnnxAttribute* axes = node.attribute("scan_output_axes");
    for (std::size_t k = 0; k < outputs.size() && k < body.size(); ++k) {
      if (!body[k].shape) continue;
      if (k < states) {
        if (inputs[k] && inputs[k]->shape == body[k].shape) outputs[k] = shaped(body[k].elem_type, *body[k].shape);
        continue;
      }
      if (!length || *length > INT64_MAX) continue;
      std::size_t j = k - states;
      Dims stacked = *body[k].shape;
      std::int64_t axis = axes && j < axes->ints.size() ? axes->ints[j] : 0;
      std::optional<std::size_t> normal = normalize_axis(axis, stacked.size() + 1);
      if (!normal) continue;
      stacked.insert(stacked.begin() + static_cast<std::ptrdiff_t>(*normal), static_cast<std::int64_t>(*length));
      outputs[k] = shaped(body[k].elem_type, stacked);
    }
    return outputs;
  }

  // Scan iterates over the first scan input's scan axis.
  static std::optional<std::uint64_t> scan_length(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs) {
    const OnnxAttribute* scan_inputs = node.attribute("num_scan_inputs");
    if (!scan_inputs || !scan_inputs->i || *scan_inputs->i <= 0) return std::nullopt;
    auto count = static_cast<std::uint64_t>(*scan_inputs->i);
    if (count > inputs.size()) return std::nullopt;
    const KnownValue* first = inputs[inputs.size() - count];
    if (!first || !first->shape || first->shape->empty()) return std::nullopt;
    std::int64_t axis = 0;
    if (const OnnxAttribute* axes = node.attribute("scan_input_axes"); axes && !axes->ints.empty()) axis = axes->ints[0];
    std::optional<std::size_t> normal = normalize_axis(axis, first->shape->size());
    if (!normal) return std::nullopt;
    return static_cast<std::uint64_t>((*first->shape)[*normal]);
  }

  std::vector<KnownValue> walk_subgraph(const OnnxGraphNode& node, std::size_t owner, const std::string& attribute,
                                        const OnnxGraph& subgraph, const Scope& scope, const std::string& path,
                                        const std::vector<const KnownValue*>& inputs,
                                        std::optional<std::size_t> parent) {
    std::size_t first_node = walk_.nodes.size();
    std::size_t subgraph_index = walk_.subgraphs.size();
    std::uint64_t parameters_before = walk_.parameters;
    walk_.subgraphs.push_back(WalkedSubgraph{});
    walk_.subgraphs.back().parent = parent;
    walk_.subgraphs.back().runs = 1;
    std::vector<KnownValue> fallbacks;
    if (node.op_type == "Loop") {
      fallbacks.push_back(shaped(kInt64, Dims{}));
      // A condition that enters true and that the body computes from it and loop-invariant
      // values alone stays true: the body then sees it as a known true.
      KnownValue condition = shaped(kBool, Dims{});
      const KnownValue* initial = inputs.size() > 1 ? inputs[1] : nullptr;
      bool starts_true = node.inputs.size() < 2 || node.inputs[1].empty() ||
                         (initial && initial->ints && initial->ints->size() == 1 && (*initial->ints)[0] != 0);
      if (starts_true) condition.ints = std::vector<std::int64_t>{1};
      fallbacks.push_back(condition);
      for (std::size_t k = 2; k < inputs.size(); ++k) {
        KnownValue carried = inputs[k] ? *inputs[k] : KnownValue{};
        carried.ints.reset();  // changes from one iteration to the next
        carried.reals.reset();
        fallbacks.push_back(carried);
      }
    }
    if (node.op_type == "Scan") fallbacks = scan_body_inputs(node, inputs);
    std::vector<KnownValue> outputs = walk(subgraph, &scope, path, &fallbacks, subgraph_index);
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
      if (walked.subgraph != subgraph_index) continue;  // nested: rolled up into its owner
      std::optional<NodeCost> cost = counted_cost(walked);
      if (!cost) {
        summary.complete = false;
        continue;
      }
      summary.macs = checked_add(summary.macs, cost->macs.value_or(0)).value_or(UINT64_MAX);
      summary.other_ops = checked_add(summary.other_ops, cost->other_ops.value_or(0)).value_or(UINT64_MAX);
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

  // A loop-carried value is known when the body keeps its shape; a scan output stacks the body's
  // per-iteration value along a new first axis of the trip count.
  static std::vector<KnownValue> loop_outputs(const OnnxGraphNode& node, const std::vector<const KnownValue*>& inputs,
                                              const std::vector<std::vector<KnownValue>>& bodies,
                                              std::optional<std::uint64_t> trip_count) {
    std::vector<KnownValue> outputs(node.outputs.size());
    if (bodies.size() != 1) return outputs;
    std::size_t carried = inputs.size() > 2 ? inputs.size() - 2 : 0;
    for (std::size_t k = 0; k < outputs.size() && k < carried; ++k) {
      const KnownValue* initial = inputs[k + 2];
      if (k + 1 >= bodies[0].size() || !initial || !initial->shape) continue;
      const KnownValue& last = bodies[0][k + 1];
      if (last.shape == initial->shape) outputs[k] = shaped(initial->elem_type, *initial->shape);
    }
    for (std::size_t k = carried; k < outputs.size() && trip_count && *trip_count <= INT64_MAX; ++k) {
      if (k + 1 >= bodies[0].size() || !bodies[0][k + 1].shape) continue;
      Dims stacked{static_cast<std::int64_t>(*trip_count)};
      stacked.insert(stacked.end(), bodies[0][k + 1].shape->begin(), bodies[0][k + 1].shape->end());
      outputs[k] = shaped(bodies[0][k + 1].elem_type, stacked);
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

  // The shape rule of each op type met, looked up once.
  ShapeRule rule_for(const std::string& op_type) {
    auto found = rules_.find(op_type);
    if (found == rules_.end()) found = rules_.emplace(op_type, find_shape_rule(op_type)).first;
    return found->second;
  }

  std::unordered_map<std::string, ShapeRule> rules_;
  std::int64_t opset_;
  DimBindings& dims_;
  GraphWalk& walk_;
};

}  // namespace

std::optional<NodeCost> counted_cost(const WalkedNode& node) {
  if (node.cost.macs && node.cost.other_ops) return node.cost;
  if (costs_nothing(*node.node)) return NodeCost{0, 0};
  return std::nullopt;
}

bool node_resolved(const WalkedNode& node) {
  for (std::size_t k = 0; k < node.outputs.size(); ++k)
    if (!node.node->outputs[k].empty() && !node.outputs[k].shape) return false;
  return true;
}

GraphWalk walk_model_graph(const OnnxGraph& graph, std::int64_t opset, DimBindings& dims) {
  GraphWalk walk;
  walk.nodes.reserve(nodes_in(graph));  // scopes point at the walked nodes' outputs
  Walker walker(opset, dims, walk);
  walker.walk(graph, nullptr, "", nullptr);
  walk.main_node_count = graph.nodes.size();
  return walk;
}

}  // namespace tarnwick
