#include "onnx/profile/node_order.h"

#include <functional>
#include <queue>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace tarnwick {

void outer_references(const OnnxGraph& graph, std::set<std::string>& names) {
  std::unordered_set<std::string_view> local;
  for (const OnnxValueInfo& input : graph.inputs) local.insert(input.name);
  for (const OnnxTensor& tensor : graph.initializers) local.insert(tensor.name);
  for (const OnnxGraphNode& node : graph.nodes)
    for (const std::string& name : node.outputs) local.insert(name);
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
  }
}

std::vector<std::size_t> topological_order(const OnnxGraph& graph) {
  const std::size_t count = graph.nodes.size();
  std::unordered_map<std::string_view, std::size_t> producer;
  producer.reserve(count * 2);
  for (std::size_t n = 0; n < count; ++n)
    for (const std::string& name : graph.nodes[n].outputs)
      if (!name.empty()) producer.emplace(name, n);
  std::vector<std::size_t> waiting(count, 0);
  std::vector<std::vector<std::size_t>> consumers(count);
  auto depend = [&](std::size_t n, std::string_view name) {
    auto found = producer.find(name);
    if (name.empty() || found == producer.end()) return;
    ++waiting[n];
    consumers[found->second].push_back(n);
  };
  for (std::size_t n = 0; n < count; ++n) {
    const OnnxGraphNode& node = graph.nodes[n];
    for (const std::string& name : node.inputs) depend(n, name);
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::set<std::string> names;
        outer_references(subgraph, names);
        for (const std::string& name : names) depend(n, name);
      }
    }
  }
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t n = 0; n < count; ++n)
    if (waiting[n] == 0) ready.push(n);
  std::vector<std::size_t> order;
  order.reserve(count);
  std::vector<bool> placed(count, false);
  while (!ready.empty()) {
    std::size_t n = ready.top();
    ready.pop();
    order.push_back(n);
    placed[n] = true;
    for (std::size_t consumer : consumers[n])
      if (--waiting[consumer] == 0) ready.push(consumer);
  }
  for (std::size_t n = 0; n < count; ++n)
    if (!placed[n]) order.push_back(n);
  return order;
}

}  // namespace tarnwick
