// Walks a graph in the order its edges give, subgraphs included, giving every node output what
// the rules can derive and every node its cost.
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
  std::optional<std::size_t> subgraph;  // index in GraphWalk::subgraphs of the graph holding it
  std::vector<KnownValue> outputs;
  // One run's cost; If, Loop and Scan carry their subgraphs' (the larger branch, the body times
  // its trip count).
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
  std::uint64_t macs = 0;  // one run of the subgraph, nested If/Loop/Scan rolled up
  std::uint64_t other_ops = 0;
  bool complete = true;  // every node in it with a cost was costed
  std::optional<std::size_t> parent;  // the subgraph holding the owner, if any
  // How many times one run of the owner runs it in the totals: 1 or 0 for the branches of an If
  // (the larger one is counted), the trip count of a Loop, the scan length; nullopt when unknown.
  std::optional<std::uint64_t> runs;
};

struct StatedShapeCheck {
  std::uint64_t agree = 0;
  std::uint64_t differ = 0;
};

struct GraphWalk {
  std::vector<WalkedNode> nodes;  // an owner before the nodes of its subgraphs
  std::vector<WalkedSubgraph> subgraphs;
  std::uint64_t parameters = 0;  // initializer elements of every graph
  std::vector<const OnnxTensor*> initializers;  // of every graph
  StatedShapeCheck stated;       // value_info and graph outputs of the main graph
  std::size_t main_node_count = 0;
  // The main graph's inputs as the walk took them (bound or assumed symbolic dims), by name.
  std::map<std::string, Dims> main_input_shapes;
};

// `opset` picks the versioned forms of Squeeze, Unsqueeze, Split, Slice, Pad, Reduce*.
GraphWalk walk_model_graph(const OnnxGraph& graph, std::int64_t opset, DimBindings& dims);

// The cost a node adds to the totals of its graph: its cost when known, nothing for ops that
// only move or describe data whatever their shapes, nullopt when it could not be costed.
std::optional<NodeCost> counted_cost(const WalkedNode& node);

// Whether a walked node got a static shape for every output it names (omitted optional outputs
// have empty names).
bool node_resolved(const WalkedNode& node);

}  // namespace tarnwick
