#include "lightgbm/lightgbm_trees.h"

#include <gtest/gtest.h>

#include "tables/tree_contents.h"
#include "tables/tree_contents_diff.h"
#include "tables/tree_contents_json.h"
#include "test_support.h"

namespace tarnwick {
namespace {

const char* kHeader =
    "tree\nversion=v3\nnum_class=1\nmax_feature_idx=2\nobjective=regression\n"
    "feature_names=age city income\nfeature_infos=[1:90] 3:7:40 [0:1]\n\n";

// Tree 0: age <= 30.5, then city in {3, 40} on the right; tree 1 is a single leaf.
const char* kTrees =
    "Tree=0\nnum_leaves=3\nnum_cat=1\nsplit_feature=0 1\nthreshold=30.5 0\ndecision_type=2 1\n"
    "left_child=-1 -2\nright_child=1 -3\nleaf_value=0.5 -0.25 1.5\ncat_boundaries=0 2\n"
    "cat_threshold=8 256\nshrinkage=1\n\n\n"
    "Tree=1\nnum_leaves=1\nnum_cat=0\nleaf_value=0.125\nshrinkage=1\n\n\nend of trees\n";

// A whole model text: the header, the trees, and the closing line LightGBM writes after them.
std::string model_with_trees(std::string trees) {
  if (trees.find("end of") == std::string::npos) trees += "\n\nend of trees\n";
  return std::string(kHeader) + trees;
}

TEST(LightgbmTrees, NumericalAndCategoricalSplits) {
  Result<TreeTable> table = parse_lightgbm_trees("model.txt", model_with_trees(kTrees));
  ASSERT_TRUE(table.is_ok()) << table.message();
  std::ostringstream out;
  print_tree_contents_text(out, table.value(), 20);
  testing::expect_golden(out.str(), "lightgbm/synthetic_trees.contents.txt");
  std::ostringstream json;
  ASSERT_TRUE(print_json_document(json, tree_contents_json(table.value())).is_ok());
  testing::expect_golden(json.str(), "lightgbm/synthetic_trees.contents.json");
  const Tree& first = table.value().trees[0];
  ASSERT_EQ(first.splits.size(), 2u);
  EXPECT_EQ(first.splits[0].threshold, 30.5);
  EXPECT_EQ(first.splits[1].categories, (std::vector<std::uint32_t>{3, 40}));
  EXPECT_EQ(first.depth, 2u);
  EXPECT_EQ(table.value().trees[1].leaves, 1u);
  EXPECT_EQ(table.value().trees[1].depth, 0u);
  EXPECT_EQ(table.value().features[1].type, "categorical");
  EXPECT_EQ(table.value().features[2].split_count, 0u);
}

TEST(LightgbmTrees, BrokenTreesGiveOneClearError) {
  struct Case {
    const char* name;
    const char* tree;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"child pointing at its parent",
       "Tree=0\nnum_leaves=3\nsplit_feature=0 0\nthreshold=1 2\ndecision_type=2 2\nleft_child=1 0\n"
       "right_child=-1 -2\nleaf_value=1 2 3\n",
       "LightGBM tree 0: node 0 is out of range or reached twice"},
      {"leaf reached twice",
       "Tree=0\nnum_leaves=2\nsplit_feature=0\nthreshold=1\ndecision_type=2\nleft_child=-1\nright_child=-1\n"
       "leaf_value=1 2\n",
       "LightGBM tree 0: leaf 0 is out of range or reached twice"},
      {"feature out of range",
       "Tree=0\nnum_leaves=2\nsplit_feature=7\nthreshold=1\ndecision_type=2\nleft_child=-1\nright_child=-2\n"
       "leaf_value=1 2\n",
       "LightGBM tree 0: node 0 splits on feature 7 of 3"},
      {"leaf count beyond its values", "Tree=0\nnum_leaves=4294967296\nleaf_value=1\n",
       "LightGBM tree 0: num_leaves 4294967296 does not match its leaf values"},
      {"too few leaf values",
       "Tree=0\nnum_leaves=2\nsplit_feature=0\nthreshold=1\ndecision_type=2\nleft_child=-1\nright_child=-2\n"
       "leaf_value=1\n",
       "LightGBM tree 0: leaf_value holds 1 values, expected 2"},
      {"categorical split without boundaries",
       "Tree=0\nnum_leaves=2\nsplit_feature=1\nthreshold=3\ndecision_type=1\nleft_child=-1\nright_child=-2\n"
       "leaf_value=1 2\ncat_boundaries=0 1\ncat_threshold=1\n",
       "LightGBM tree 0: categorical threshold 3 has no cat_boundaries entry"},
      {"boundaries past the bitset",
       "Tree=0\nnum_leaves=2\nsplit_feature=1\nthreshold=0\ndecision_type=1\nleft_child=-1\nright_child=-2\n"
       "leaf_value=1 2\ncat_boundaries=0 9\ncat_threshold=1\n",
       "LightGBM tree 0: cat_boundaries run past cat_threshold"},
      {"bitset range used twice",
       "Tree=0\nnum_leaves=3\nsplit_feature=1 1\nthreshold=0 0\ndecision_type=1 1\nleft_child=-1 -2\n"
       "right_child=1 -3\nleaf_value=1 2 3\ncat_boundaries=0 1\ncat_threshold=1\n",
       "LightGBM tree 0: categorical threshold 0 is used twice"},
      {"bad number", "Tree=0\nnum_leaves=1\nleaf_value=x\n", "LightGBM tree 0: leaf_value: invalid float literal: x"},
      {"missing split line", "Tree=0\nnum_leaves=2\nleaf_value=1 2\n", "LightGBM tree 0: split_feature is missing"},
      {"cut inside the trees", "Tree=0\nnum_leaves=1\nleaf_value=1\nend of tr",
       "the LightGBM model text is cut short: no \"end of trees\" line"},
      {"cut inside the parameters",
       "Tree=0\nnum_leaves=1\nleaf_value=1\nend of trees\n\nparameters:\n[boosting: gbdt]\n",
       "the LightGBM model text is cut short: no \"end of parameters\" line"},
      {"cut inside the closing line",
       "Tree=0\nnum_leaves=1\nleaf_value=1\nend of trees\n\nparameters:\nend of "
       "parameters\n\npandas_categorical:[[\"a\", \"b",
       "the LightGBM model text is cut short: the pandas_categorical line is not whole JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<TreeTable> table = parse_lightgbm_trees("model.txt", model_with_trees(c.tree));
    ASSERT_FALSE(table.is_ok());
    EXPECT_EQ(table.message(), std::string("model.txt: ") + c.message);
  }
}

// decision_type bit 1 sends the values its missing type (bits 2-3) names to the left; a split of
// missing type None has no default direction, as LightGBM compares NaN there as 0. The same model
// with another direction is a changed split.
TEST(LightgbmTrees, DefaultDirectionsFollowTheMissingType) {
  struct Case {
    unsigned decision_type;
    std::string line;  // the split in the contents text
    const char* missing_type;
  };
  const Case cases[] = {
      {0, "age <= 30.5", "none"},
      {2, "age <= 30.5", "none"},
      {8, "age <= 30.5, missing right", "nan"},
      {10, "age <= 30.5, missing left", "nan"},
      {4, "age <= 30.5, missing and zero right", "zero"},
      {6, "age <= 30.5, missing and zero left", "zero"},
      {14, "age <= 30.5, missing left", "unknown(3)"},
  };
  auto read = [](unsigned decision_type) {
    std::string tree =
        "Tree=0\nnum_leaves=2\nsplit_feature=0\nthreshold=30.5\ndecision_type=" + std::to_string(decision_type) +
        "\nleft_child=-1\nright_child=-2\nleaf_value=1 2\n";
    Result<TreeTable> table = parse_lightgbm_trees("model.txt", model_with_trees(tree));
    EXPECT_TRUE(table.is_ok()) << table.message();
    return table.take();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decision_type);
    TreeTable table = read(c.decision_type);
    std::ostringstream out;
    print_tree_contents_text(out, table, 20);
    EXPECT_NE(out.str().find("\n    " + c.line + "\n"), std::string::npos) << out.str();
    Json split = tree_contents_json(table)["trees"][0]["splits"][0];
    EXPECT_EQ(split["missing_type"], c.missing_type);
    std::optional<bool> left = table.trees[0].splits[0].default_left;
    EXPECT_EQ(split["default_left"], left ? Json(*left) : Json(nullptr));
    EXPECT_EQ(diff_tree_tables(read(10), table).splits_changed.empty(), c.decision_type == 10);
  }
}

// A chain of a thousand nodes is walked once per node: the depth comes out exact.
TEST(LightgbmTrees, DeepChainIsWalkedOncePerNode) {
  const int nodes = 1000;
  std::string features, thresholds, decisions, left, right, values;
  for (int i = 0; i < nodes; ++i) {
    features += "0 ";
    thresholds += "1 ";
    decisions += "2 ";
    left += std::to_string(-(i + 1)) + " ";
    right += (i + 1 < nodes ? std::to_string(i + 1) : std::to_string(-(nodes + 1))) + " ";
    values += "1 ";
  }
  values += "1";
  std::string tree = "Tree=0\nnum_leaves=" + std::to_string(nodes + 1) + "\nsplit_feature=" + features +
                     "\nthreshold=" + thresholds + "\ndecision_type=" + decisions + "\nleft_child=" + left +
                     "\nright_child=" + right + "\nleaf_value=" + values + "\n";
  Result<TreeTable> table = parse_lightgbm_trees("model.txt", model_with_trees(tree));
  ASSERT_TRUE(table.is_ok()) << table.message();
  EXPECT_EQ(table.value().trees[0].depth, static_cast<std::uint64_t>(nodes));
  EXPECT_EQ(table.value().features[0].split_count, static_cast<std::uint64_t>(nodes));
}

}  // namespace
}  // namespace tarnwick
