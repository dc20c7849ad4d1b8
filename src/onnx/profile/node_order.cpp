#include "onnx/profile/node_order.h"

#include "onnx/profile/name_table.h"

#include <functional>
#include <queue>
#include <string_view>
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
  NameTable producer(count);
  for (std::size_t n = 0; n < count; ++n)
    for (const std::string& name : graph.nodes[n].outputs)
      if (!name.empty()) producer.insert(name, static_cast<std::uint32_t>(n));
  // Edges producer -> consumer, grouped by producer (counted first, then filled).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
  std::vector<std::size_t> waiting(count, 0);
  auto depend = [&](std::size_t n, std::string_view name) {
    if (name.empty()) return;
    std::optional<std::uint32_t> from = producer.find(name);
    if (!from) return;
    ++waiting[n];
    edges.emplace_back(*from, static_cast<std::uint32_t>(n));
  };
  bool stored_in_order = true;
  for (std::size_t n = 0; n < count; ++n) {
    const OnnxGraphNode& node = graph.nodes[n];
    std::size_t first_edge = edges.size();
    for (const std::string& name : node.inputs) depend(n, name);
    for (const OnnxAttribute& attribute : node.attributes) {
      for (const OnnxGraph& subgraph : attribute.graphs) {
        std::set<std::string> names;
        outer_references(subgraph, names);
        for (const std::string& name : names) depend(n, name);
      }
    }
    for (std::size_t e = first_edge; e < edges.size(); ++e) stored_in_order = stored_in_order && edges[e].first < n;
  }
  std::vector<std::size_t> order;
  order.reserve(count);
  if (stored_in_order) {
    for (std::size_t n = 0; n < count; ++n) order.push_back(n);
    return order;
  }
  std::vector<std::size_t> first(count + 1, 0);
  for (const auto& edge : edges) ++first[edge.first + 1];
  for (std::size_t n = 0; n < count; ++n) first[n + 1] += first[n];
  std::vector<std::uint32_t> consumers(edges.size());
  std::vector<std::size_t> next = first;
  for (const auto& edge : edges) consumers[next[edge.first]++] = edge.second;
  std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> ready;
  for (std::size_t n = 0; n < count; ++n)
    if (waiting[n] == 0) ready.push(n);
  std::vector<bool> placed(count, false);
  while (!ready.empty()) {
    std::size_t n = ready.top();
    ready.pop();
    order.push_back(n);
    placed[n] = true;
    for (std::size_t e = first[n]; e < first[n + 1]; ++e)
      if (--waiting[consumers[e]] == 0) ready.push(consumers[e]);
  }
  for (std::size_t n = 0; n < count; ++n)
    if (!placed[n]) order.push_back(n);
  return order;
}

}  // namespace tarnwick
