// The order a graph's nodes can run in, computed from the edges: exporters do not always store
// nodes in that order.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "onnx/onnx_graph.h"

namespace tarnwick {

// Every node position once: producers before consumers, stored order among nodes free to run.
// Nodes on a cycle (or fed by one) come last in stored order; their inputs from nodes not yet
// walked stay unknown.
std::vector<std::size_t> topological_order(const OnnxGraph& graph);

// Names a graph's nodes (and their subgraphs) read from enclosing graphs.
void outer_references(const OnnxGraph& graph, std::set<std::string>& names);

}  // namespace tarnwick
