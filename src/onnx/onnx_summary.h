// What an ONNX model states: graph, operators, initializers, shapes and a static cost estimate.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/decode_budget.h"
#include "base/status.h"
#include "onnx/dim_list.h"

namespace tarnwick {

struct OpsetImport {
  std::string domain;
  std::optional<std::int64_t> version;
};

struct OnnxNode {
  std::string op_type = "Unknown";
  std::optional<std::string> name;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  std::map<std::string, std::int64_t> int_attributes;
};

struct OnnxInitializer {
  std::string name;
  DimList dims;
  std::optional<std::int32_t> data_type;
  std::uint64_t raw_data_bytes = 0;
  std::optional<std::uint64_t> data_fingerprint;
  std::uint64_t external_data_entries = 0;
  std::optional<std::uint64_t> external_data_fingerprint;
  std::optional<std::int32_t> data_location;
};

struct OnnxValueInfo {
  std::string name;
  std::optional<std::int32_t> elem_type;
  std::vector<std::string> shape;  // decimal value, symbolic name, or "?"
};

// A graph input, output or value info is kept as three elements, its name, element type and
// shape, whether or not the message states them: an empty message costs what a full one does.
inline constexpr std::uint64_t kValueInfoElements = 3;
// Draws for every input, output and value info of a GraphProto before any is decoded, so that a
// graph of millions of them is refused before it is held.
Status draw_value_infos(std::string_view graph, DecodeBudget& budget);

struct OpEstimate {
  std::optional<std::uint64_t> ops;
  std::string name;  // the node's name, or "node_{position}"
  std::string op_type;
};

struct OnnxSummary {
  std::string name;
  std::uint64_t file_size_bytes = 0;
  std::optional<std::int64_t> ir_version;
  std::optional<std::string> producer;
  std::optional<std::string> graph_name;
  std::vector<OpsetImport> opset_imports;
  // Nodes are read one at a time and not kept: their count, whether any node, input or output
  // name mentions "attention", the operator counts and the estimates are what reports use.
  std::uint64_t node_count = 0;
  bool node_names_mention_attention = false;
  std::vector<OnnxInitializer> initializers;
  std::vector<OnnxValueInfo> inputs;
  std::vector<OnnxValueInfo> outputs;
  std::uint64_t value_info_entries = 0;
  std::vector<std::pair<std::string, std::uint64_t>> op_counts;  // count descending, then op type
  // Nodes with an estimate, in graph order; of a very large graph only those that can be among
  // the ten most expensive by ops and then name, or by ops and then position.
  std::vector<OpEstimate> op_estimates;
  std::uint64_t parameter_values = 0;
  std::uint64_t parameter_memory_bytes = 0;
  std::uint64_t estimated_ops = 0;
  // Where estimated_ops is not the exact figure: the reasons, one line each. A shape the file
  // does not state is taken from the propagation through the whole graph; these say what even
  // that could not give.
  std::vector<std::string> estimate_notes;
};

using ShapeMap = std::map<std::string, std::vector<std::uint64_t>>;

Result<OnnxSummary> read_onnx_summary(const std::string& path);
Result<OnnxSummary> summarize_onnx_bytes(const std::string& path, std::string_view bytes);
// The same, drawing every decoded element from `budget`.
Result<OnnxSummary> summarize_onnx_bytes(const std::string& path, std::string_view bytes, DecodeBudget& budget);

// Estimates already worked out for a shape (or pair of shapes), so that a large shape named by
// many nodes has its dimensions multiplied once.
struct EstimateMemo {
  std::map<std::tuple<int, const void*, const void*>, std::optional<std::uint64_t>> known;
  std::uint64_t dimension_steps = 0;  // dimensions visited, for tests of the work done
};

// Whether estimate_node_ops has a formula for the operator at all.
bool has_cost_formula(const std::string& op_type);
std::optional<std::uint64_t> estimate_node_ops(const OnnxNode& node, const ShapeMap& shapes,
                                               EstimateMemo* memo = nullptr);
// Whether every tensor the node's formula looks up by name has a shape in `shapes` (a missing
// input or output position is the formula's own condition, not a missing shape).
bool cost_shapes_known(const OnnxNode& node, const ShapeMap& shapes);
std::string opset_label(const OpsetImport& opset);
std::string data_type_name(std::optional<std::int32_t> code);
std::uint64_t data_type_size(std::optional<std::int32_t> code);

// Derived per initializer; products wrap modulo 2^64.
std::uint64_t element_count(const OnnxInitializer& initializer);
std::uint64_t estimated_bytes(const OnnxInitializer& initializer);
bool is_external(const OnnxInitializer& initializer);

}  // namespace tarnwick
