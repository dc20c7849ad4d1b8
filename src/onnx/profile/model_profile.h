// The cost profile of an ONNX model: shapes propagated through the whole graph, totals, a table
// per op type, subgraphs and external data files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "onnx/external_data.h"
#include "onnx/profile/graph_walk.h"

namespace tarnwick {

struct OpTypeCost {
  std::string op_type;
  std::uint64_t count = 0;
  std::uint64_t macs = 0;
  std::uint64_t other_ops = 0;
};

struct ExternalDataFile {
  ExternalDataRef ref;
  ExternalDataCheck check;
};

struct ModelProfile {
  std::string path;
  std::uint64_t node_count = 0;
  std::uint64_t nodes_resolved = 0;
  std::uint64_t output_count = 0;
  std::uint64_t outputs_resolved = 0;
  std::uint64_t nodes_costed = 0;
  std::uint64_t macs = 0;
  std::uint64_t other_ops = 0;
  std::uint64_t flops = 0;
  std::uint64_t parameters = 0;
  std::uint64_t peak_activation_bytes = 0;
  DimBindings dims;
  StatedShapeCheck stated;
  std::vector<OpTypeCost> by_op_type;  // most FLOPs first, then most nodes, then by name
  GraphWalk walk;
  std::vector<ExternalDataFile> external_data;
};

// `model` must outlive the profile (nodes point into it).
ModelProfile profile_model(const std::string& path, const OnnxModel& model, std::map<std::string, std::int64_t> bound_dims);

// FLOPs of one node: 2 x MACs + other ops (saturating).
std::uint64_t node_flops(const NodeCost& cost);

}  // namespace tarnwick
