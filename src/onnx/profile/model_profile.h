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
  // The file is missing, too short, or the location leaves the model's directory.
  bool failed() const { return !check.exists || check.escapes || check.size_suffices == std::optional<bool>(false); }
};

struct DtypeParameters {
  std::string dtype;
  std::uint64_t tensors = 0;
  std::uint64_t elements = 0;
  std::uint64_t bytes = 0;
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
  std::uint64_t parameter_bytes = 0;
  std::vector<DtypeParameters> parameters_by_dtype;  // most bytes first, then by name
  std::uint64_t peak_activation_bytes = 0;
  // Nodes with a cost that could not be costed (their shapes, or a loop's trip count, unknown),
  // in walk order: while any is listed the totals are incomplete.
  std::vector<const WalkedNode*> unresolved;
  DimBindings dims;
  StatedShapeCheck stated;
  std::vector<OpTypeCost> by_op_type;  // most FLOPs first, then most nodes, then by name
  GraphWalk walk;
  std::vector<ExternalDataFile> external_data;

  bool incomplete() const { return !unresolved.empty(); }
  std::size_t external_data_failures() const;
};

// `model` must outlive the profile (nodes point into it).
ModelProfile profile_model(const std::string& path, const OnnxModel& model, std::map<std::string, std::int64_t> bound_dims);

// FLOPs of one node: 2 x MACs + other ops (saturating).
std::uint64_t node_flops(const NodeCost& cost);

}  // namespace tarnwick
