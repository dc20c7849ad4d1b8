// Walks a graph in stored order, subgraphs included, giving every node output what the rules
// can derive and every node its cost.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "onnx/onnx_graph.h"
#include "onnx/profile/known_value.h"
#include "onnx/profile/node_cost.h"

namespace tarnwick {

struct DimBindings {
  std::map<std::string, std::int64_t> bound;    // given by the user
  std::map<std::string, std::int64_t> assumed;  // symbolic dims met and taken as 1
  std::set<std::string> used;                    // bound dims the model has
  std::set<std::string> named;                   // every symbolic dim the model declares
};

struct WalkedNode {
  const OnnxGraphNode* node = nullptr;
  std::string name;   // the node's name, or "node_{position in its graph}"
  std::string graph;  // "" for the main graph, else "node/attribute" steps joined by '/'
  std::vector<KnownValue> outputs;
  NodeCost cost;
};

struct WalkedSubgraph {
  std::string owner;  // the owning node's name
  std::string owner_op_type;
  std::string attribute;
  std::string path;
  std::uint64_t node_count = 0;  // nested subgraphs included
  std::uint64_t nodes_resolved = 0;
  std::uint64_t initializer_count = 0;
  std::uint64_t parameters = 0;
  std::uint64_t macs = 0;
  std::uint64_t other_ops = 0;
};

struct StatedShapeCheck {
  std::uint64_t agree = 0;
  std::uint64_t differ = 0;
};

struct GraphWalk {
  std::vector<WalkedNode> nodes;  // an owner before the nodes of its subgraphs
  std::vector<WalkedSubgraph> subgraphs;
  std::uint64_t parameters = 0;  // initializer elements of every graph
  StatedShapeCheck stated;       // value_info and graph outputs of the main graph
  std::size_t main_node_count = 0;
  // The main graph's inputs as the walk took them (bound or assumed symbolic dims), by name.
  std::map<std::string, Dims> main_input_shapes;
};

// `opset` picks the versioned forms of Squeeze, Unsqueeze, Split, Slice, Pad, Reduce*.
GraphWalk walk_model_graph(const OnnxGraph& graph, std::int64_t opset, DimBindings& dims);

// Whether a walked node got a static shape for every output it names (omitted optional outputs
// have empty names).
bool node_resolved(const WalkedNode& node);

}  // namespace tarnwick
