#include <gtest/gtest.h>

#include <functional>

#include "cbm/cbm_core_builder.h"
#include "cbm/cbm_core_reader.h"
#include "tables/tree_contents.h"
#include "tables/tree_summary.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::BuiltCore;
using testing::CoreModel;
using testing::CoreStepNode;

constexpr std::uint32_t kNoLeaf = 0xFFFFFFFFu;

// Two float features, borders {0.5, 1.5} and {2.5}; a depth-2 tree and a depth-1 tree.
CoreModel symmetric_model() {
  CoreModel model;
  model.float_borders = {{0.5f, 1.5f}, {2.5f}};
  model.float_names = {"age", "in\ncome"};
  model.splits = {0, 2, 1};
  model.sizes = {2, 1};
  model.starts = {0, 2};
  model.leaf_values = {0.1, 0.2, 0.3, 0.4, -1.0, 1.0};
  model.scale = 2.0;
  model.multi_bias = {0.25};
  return model;
}

Result<TreeTable> decode(const BuiltCore& built) { return decode_cbm_trees("model.cbm", built.file()); }

TEST(CbmCoreReader, SymmetricTreesWithNamedFloatFeatures) {
  Result<TreeTable> table = decode(build_core(symmetric_model()));
  ASSERT_TRUE(table.is_ok()) << table.message();
  std::ostringstream out;
  print_tree_contents_text(out, table.value(), 20);
  testing::expect_golden(out.str(), "cbm/synthetic_core.contents.txt");
  const Tree& first = table.value().trees[0];
  EXPECT_EQ(first.leaf_values, (std::vector<double>{0.1, 0.2, 0.3, 0.4}));
  EXPECT_EQ(table.value().trees[1].leaf_values, (std::vector<double>{-1.0, 1.0}));
  EXPECT_EQ(table.value().features[0].split_count, 2u);
  EXPECT_EQ(table.value().features[1].split_count, 1u);
  EXPECT_EQ(first.splits[1].feature, 1u);
  EXPECT_EQ(first.splits[1].threshold, 2.5);
}

TEST(CbmCoreReader, AbsentScaleAndBiasTakeTheirDefaults) {
  CoreModel model = symmetric_model();
  model.scale.reset();
  model.multi_bias.clear();
  model.approx_dimension = 2;
  model.leaf_values.resize(12, 0.5);
  Result<TreeTable> table = decode(build_core(model));
  ASSERT_TRUE(table.is_ok()) << table.message();
  EXPECT_EQ(table.value().scale, 1.0);
  EXPECT_EQ(table.value().bias, std::vector<double>{0.0});
  EXPECT_EQ(table.value().approx_dimension, 2u);
  EXPECT_EQ(table.value().trees[0].leaf_values.size(), 8u);
}

TEST(CbmCoreReader, OneHotSplitsNameTheirCategoricalFeature) {
  CoreModel model;
  model.float_borders = {{0.5f}};
  model.categorical_names = {"city"};
  model.one_hot_values = {{7, 9}};
  model.splits = {2, 0};
  model.sizes = {2};
  model.starts = {0};
  model.leaf_values = {1, 2, 3, 4};
  Result<TreeTable> table = decode(build_core(model));
  ASSERT_TRUE(table.is_ok()) << table.message();
  ASSERT_EQ(table.value().features.size(), 2u);
  EXPECT_EQ(table.value().features[1].type, "categorical");
  EXPECT_EQ(table.value().features[1].flat_index, 1);
  const TreeSplit& split = table.value().trees[0].splits[0];
  EXPECT_EQ(split.feature, 1u);
  EXPECT_EQ(split.one_hot_value, 9);
  EXPECT_FALSE(split.threshold.has_value());
  EXPECT_EQ(split.binary_feature, 2u);
}

// Root splits into a leaf and a node whose children are two leaves.
CoreModel node_model() {
  CoreModel model;
  model.float_borders = {{0.5f, 1.5f}};
  model.splits = {0, 0, 1, 0, 0};
  model.sizes = {5};
  model.starts = {0};
  model.steps = {{1, 2}, {0, 0}, {1, 2}, {0, 0}, {0, 0}};
  model.leaf_ids = {kNoLeaf, 0, kNoLeaf, 1, 2};
  model.leaf_values = {10, 20, 30};
  return model;
}

TEST(CbmCoreReader, NodeTreesCountSplitsLeavesAndTheLongestPath) {
  Result<TreeTable> table = decode(build_core(node_model()));
  ASSERT_TRUE(table.is_ok()) << table.message();
  const Tree& tree = table.value().trees[0];
  EXPECT_FALSE(tree.symmetric);
  EXPECT_EQ(tree.depth, 2u);
  EXPECT_EQ(tree.leaves, 3u);
  ASSERT_EQ(tree.splits.size(), 2u);
  EXPECT_EQ(tree.splits[1].threshold, 1.5);
  EXPECT_EQ(tree.leaf_values, (std::vector<double>{10, 20, 30}));
}

// Every node sends both children to the next: 2^59 paths, yet one backward pass over 60 nodes.
TEST(CbmCoreReader, SharedChildrenAreMeasuredInOnePass) {
  CoreModel model;
  model.float_borders = {{0.5f}};
  for (int i = 0; i < 60; ++i) {
    bool last = i == 59;
    model.splits.push_back(0);
    model.steps.push_back(last ? CoreStepNode{0, 0} : CoreStepNode{1, 1});
    model.leaf_ids.push_back(last ? 0 : kNoLeaf);
  }
  model.sizes = {60};
  model.starts = {0};
  model.leaf_values = {1};
  Result<TreeTable> table = decode(build_core(model));
  ASSERT_TRUE(table.is_ok()) << table.message();
  EXPECT_EQ(table.value().trees[0].depth, 59u);
  EXPECT_EQ(table.value().trees[0].splits.size(), 59u);
  EXPECT_EQ(table.value().trees[0].leaves, 1u);
}

struct HostileCase {
  const char* name;
  std::function<std::string()> file;
  const char* message;
};

std::string broken_core(const CoreModel& model, const std::function<void(BuiltCore&)>& breaker) {
  BuiltCore built = build_core(model);
  breaker(built);
  return built.file();
}

template <class T>
void put(std::string& bytes, std::size_t position, T value) {
  std::memcpy(bytes.data() + position, &value, sizeof(T));
}

TEST(CbmCoreReader, HostileCoresGiveOneClearError) {
  const std::vector<HostileCase> cases = {
      {"no signature", [] { return std::string("CBM2abcdefgh"); }, "model.cbm does not look like a CatBoost CBM file"},
      {"core past the file",
       [] {
         std::string file = build_core(symmetric_model()).file();
         put<std::uint32_t>(file, 4, 0x7FFFFFFF);
         return file;
       },
       "model.cbm: CatBoost core of 2147483647 bytes runs past the end of the file"},
      {"root offset out of range",
       [] { return broken_core(symmetric_model(), [](BuiltCore& b) { put<std::uint32_t>(b.core, 0, 0xFFFFFFF0); }); },
       "model.cbm: CatBoost core: offset 4294967280 out of range at byte 0"},
      {"vtable past the end",
       [] {
         return broken_core(symmetric_model(), [](BuiltCore& b) {
           put<std::int32_t>(b.core, b.trees_table, -static_cast<std::int32_t>(b.core.size()));
         });
       },
       "vtable out of range"},
      {"vtable size past the end",
       [] {
         return broken_core(symmetric_model(), [](BuiltCore& b) {
           std::int32_t soffset;
           std::memcpy(&soffset, b.core.data() + b.trees_table, 4);
           put<std::uint16_t>(b.core, b.trees_table - static_cast<std::size_t>(soffset), 0xFFFE);
         });
       },
       "vtable of 65534 bytes past the end"},
      {"offset pointing at itself",
       [] { return broken_core(symmetric_model(), [](BuiltCore& b) { put<std::uint32_t>(b.core, b.first_feature_reference, 0); }); },
       "offset pointing at itself"},
      {"count of 2^31",
       [] {
         return broken_core(symmetric_model(), [](BuiltCore& b) { put<std::uint32_t>(b.core, b.splits_vector, 0x80000000u); });
       },
       "vector of 2147483648 elements past the end"},
      {"leaf values short",
       [] {
         CoreModel model = symmetric_model();
         model.leaf_values.pop_back();
         return build_core(model).file();
       },
       "tree 1 needs leaf values past the 5 stored"},
      {"split number out of range",
       [] {
         CoreModel model = symmetric_model();
         model.splits[1] = 3;
         return build_core(model).file();
       },
       "tree 0 splits on binary feature 3 of 3"},
      {"sizes and offsets disagree",
       [] {
         CoreModel model = symmetric_model();
         model.starts.pop_back();
         return build_core(model).file();
       },
       "2 tree sizes but 1 tree start offsets"},
      {"splits past the list",
       [] {
         CoreModel model = symmetric_model();
         model.starts[1] = 0x7FFFFFFF;
         return build_core(model).file();
       },
       "tree 1 claims splits 2147483647 to 2147483648 of 3"},
      {"depth beyond any real tree",
       [] {
         CoreModel model = symmetric_model();
         model.splits.assign(40, 0);
         model.sizes = {40};
         model.starts = {0};
         return build_core(model).file();
       },
       "tree 0 has depth 40"},
      {"node pointing past its tree",
       [] {
         CoreModel model = node_model();
         model.steps[2] = {1, 9};
         return build_core(model).file();
       },
       "tree 0 node 2 points past the tree's 5 nodes"},
      {"node ending without a leaf",
       [] {
         CoreModel model = node_model();
         model.leaf_ids[1] = kNoLeaf;
         return build_core(model).file();
       },
       "tree 0 node 1 ends without a leaf"},
      {"leaf id out of range",
       [] {
         CoreModel model = node_model();
         model.leaf_ids[4] = 0xFFFFFFF0u;
         return build_core(model).file();
       },
       "tree 0 leaf 4294967280 out of range"},
      {"trees claiming the same splits",
       [] {
         CoreModel model = symmetric_model();
         model.sizes = {2, 2};
         model.starts = {0, 0};
         return build_core(model).file();
       },
       "the tree sizes add up to 4 splits but the core holds 3"},
      {"leaves sharing their values",
       [] {
         CoreModel model = node_model();
         model.leaf_values = {10, 20};
         model.leaf_ids = {kNoLeaf, 0, kNoLeaf, 1, 1};
         return build_core(model).file();
       },
       "tree 0 takes leaf values past the 2 stored"},
      {"one-hot feature without its categorical feature",
       [] {
         CoreModel model;
         model.float_borders = {{0.5f}};
         model.categorical_names = {"city"};
         model.one_hot_values = {{7}, {8}};
         model.sizes = {0};
         model.starts = {0};
         model.leaf_values = {1};
         return build_core(model).file();
       },
       "one-hot feature names categorical feature 1, which the model does not have"},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    Result<TreeTable> table = decode_cbm_trees("model.cbm", c.file());
    ASSERT_FALSE(table.is_ok());
    EXPECT_NE(table.message().find(c.message), std::string::npos) << table.message();
    EXPECT_EQ(table.message().find('\n'), std::string::npos);
  }
}

// Every truncation of a valid file fails cleanly or decodes; none reads outside the bytes.
TEST(CbmCoreReader, EveryTruncationIsRejectedOrDecoded) {
  std::string file = build_core(node_model()).file();
  std::size_t rejected = 0;
  for (std::size_t size = 0; size < file.size(); ++size) {
    std::string cut = file.substr(0, size);
    if (size >= 8) put<std::uint32_t>(cut, 4, static_cast<std::uint32_t>(size - 8));
    if (!decode_cbm_trees("model.cbm", cut).is_ok()) ++rejected;
  }
  EXPECT_EQ(rejected, file.size());
}

}  // namespace
}  // namespace tarnwick
