// Builds .cbm files around a hand-written core: float features with borders, categorical features
// with one-hot values, symmetric or node trees, leaf values, scale and bias.
#pragma once

#include <optional>

#include "cbm/flatbuffer_builder.h"

namespace tarnwick::testing {

struct CoreStepNode {
  std::uint16_t left = 0;
  std::uint16_t right = 0;
};

struct CoreModel {
  std::vector<std::vector<float>> float_borders;
  std::vector<std::string> float_names;  // empty or one per float feature
  bool borders_shared = false;           // every float feature points at one vector: the first one's borders
  std::vector<std::string> categorical_names;
  std::vector<std::vector<std::int32_t>> one_hot_values;  // per categorical feature, in order
  std::vector<std::int32_t> splits, sizes, starts;
  std::vector<double> leaf_values;
  std::vector<CoreStepNode> steps;
  std::vector<std::uint32_t> leaf_ids;
  std::optional<std::int32_t> approx_dimension;
  std::optional<double> scale;
  std::vector<double> multi_bias;
};

// Where the built core's parts landed, so that a test can break them (positions in the core).
struct BuiltCore {
  std::string core;
  std::size_t trees_table = 0;
  std::size_t splits_vector = 0;
  std::size_t leaf_values_vector = 0;
  std::size_t first_feature_reference = 0;

  std::string file() const {
    std::string bytes = "CBM1" + FlatBufferBuilder::raw(static_cast<std::uint32_t>(core.size())) + core;
    return bytes;
  }
};

inline BuiltCore build_core(const CoreModel& model) {
  using B = FlatBufferBuilder;
  B builder;
  B::Table root = builder.table({{0, B::reference()}, {1, B::reference()}});
  std::map<int, std::string> fields = {
      {1, B::reference()}, {2, B::reference()}, {3, B::reference()}, {5, B::reference()}, {8, B::reference()}};
  if (model.approx_dimension) fields[0] = B::raw(*model.approx_dimension);
  if (!model.categorical_names.empty()) fields[4] = B::reference();
  if (!model.one_hot_values.empty()) fields[6] = B::reference();
  if (!model.steps.empty()) fields[10] = fields[11] = B::reference();
  if (model.scale) fields[14] = B::raw(*model.scale);
  if (!model.multi_bias.empty()) fields[16] = B::reference();
  B::Table trees = builder.table(fields);
  builder.set_root(root);
  builder.point(root.fields[0], builder.string("FlabuffersModel_v1"));
  builder.point(root.fields[1], trees.position);

  BuiltCore built;
  built.trees_table = trees.position;
  built.splits_vector = builder.vector(model.splits);
  builder.point(trees.fields[1], built.splits_vector);
  builder.point(trees.fields[2], builder.vector(model.sizes));
  builder.point(trees.fields[3], builder.vector(model.starts));
  built.leaf_values_vector = builder.vector(model.leaf_values);
  builder.point(trees.fields[8], built.leaf_values_vector);
  if (!model.steps.empty()) {
    std::vector<std::uint32_t> packed;
    for (const CoreStepNode& step : model.steps) packed.push_back(step.left | std::uint32_t{step.right} << 16);
    builder.point(trees.fields[10], builder.vector(packed));
    builder.point(trees.fields[11], builder.vector(model.leaf_ids));
  }
  if (!model.multi_bias.empty()) builder.point(trees.fields[16], builder.vector(model.multi_bias));

  std::size_t features = builder.reference_vector(model.float_borders.size());
  builder.point(trees.fields[5], features);
  built.first_feature_reference = features + 4;
  std::vector<std::size_t> shared_borders_fields;
  for (std::size_t i = 0; i < model.float_borders.size(); ++i) {
    std::map<int, std::string> feature = {
        {1, B::raw(std::int32_t(i))}, {2, B::raw(std::int32_t(i))}, {3, B::reference()}};
    if (!model.float_names.empty()) feature[4] = B::reference();
    B::Table table = builder.table(feature);
    builder.point(features + 4 + 4 * i, table.position);
    if (model.borders_shared) {
      shared_borders_fields.push_back(table.fields[3]);
    } else {
      builder.point(table.fields[3], builder.vector(model.float_borders[i]));
    }
    if (!model.float_names.empty()) builder.point(table.fields[4], builder.string(model.float_names[i]));
  }
  // Offsets only point forward, so the shared vector follows every feature that points at it.
  if (!shared_borders_fields.empty()) {
    std::size_t shared = builder.vector(model.float_borders[0]);
    for (std::size_t field : shared_borders_fields) builder.point(field, shared);
  }
  if (!model.categorical_names.empty()) {
    std::size_t categorical = builder.reference_vector(model.categorical_names.size());
    builder.point(trees.fields[4], categorical);
    for (std::size_t i = 0; i < model.categorical_names.size(); ++i) {
      std::int32_t flat = static_cast<std::int32_t>(model.float_borders.size() + i);
      B::Table table = builder.table({{0, B::raw(std::int32_t(i))}, {1, B::raw(flat)}, {2, B::reference()}});
      builder.point(categorical + 4 + 4 * i, table.position);
      builder.point(table.fields[2], builder.string(model.categorical_names[i]));
    }
  }
  if (!model.one_hot_values.empty()) {
    std::size_t one_hot = builder.reference_vector(model.one_hot_values.size());
    builder.point(trees.fields[6], one_hot);
    for (std::size_t i = 0; i < model.one_hot_values.size(); ++i) {
      B::Table table = builder.table({{0, B::raw(std::int32_t(i))}, {1, B::reference()}});
      builder.point(one_hot + 4 + 4 * i, table.position);
      builder.point(table.fields[1], builder.vector(model.one_hot_values[i]));
    }
  }
  built.core = builder.bytes();
  return built;
}

}  // namespace tarnwick::testing
