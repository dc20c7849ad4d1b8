// The decoded CatBoost core against CatBoost's own JSON export of the same model, and the LightGBM
// trees against the counts their text states.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <regex>

#include "catboost_export.h"
#include "cbm/cbm_core_reader.h"
#include "lightgbm/lightgbm_trees.h"
#include "tables/tree_summary.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using Json = nlohmann::json;

struct Compared {
  std::uint64_t trees = 0, splits = 0, leaf_values = 0, borders = 0;
};

void compare_with_export(const TreeTable& table, const Json& exported, Compared& compared) {
  const Json& float_features = exported.at("features_info").at("float_features");
  ASSERT_EQ(table.features.size(), float_features.size());
  for (std::size_t i = 0; i < float_features.size(); ++i) {
    const TreeFeature& feature = table.features[i];
    EXPECT_EQ(feature.type, "float");
    EXPECT_EQ(feature.flat_index, float_features[i].at("flat_feature_index").get<std::int64_t>());
    std::vector<double> borders = float_features[i].at("borders").get<std::vector<double>>();
    EXPECT_EQ(feature.borders, borders) << "feature " << i;
    compared.borders += borders.size();
  }
  const Json& trees = exported.at("oblivious_trees");
  ASSERT_EQ(table.trees.size(), trees.size());
  for (std::size_t t = 0; t < trees.size(); ++t) {
    const Tree& tree = table.trees[t];
    const Json& splits = trees[t].at("splits");
    ASSERT_EQ(tree.splits.size(), splits.size()) << "tree " << t;
    EXPECT_TRUE(tree.symmetric);
    EXPECT_EQ(tree.depth, splits.size());
    for (std::size_t s = 0; s < splits.size(); ++s) {
      const TreeSplit& split = tree.splits[s];
      EXPECT_EQ(split.feature, splits[s].at("float_feature_index").get<std::uint64_t>()) << "tree " << t;
      EXPECT_EQ(split.threshold, splits[s].at("border").get<double>()) << "tree " << t;
      EXPECT_EQ(split.binary_feature, splits[s].at("split_index").get<std::uint64_t>()) << "tree " << t;
    }
    EXPECT_EQ(tree.leaf_values, trees[t].at("leaf_values").get<std::vector<double>>()) << "tree " << t;
    compared.splits += splits.size();
    compared.leaf_values += tree.leaf_values.size();
    ++compared.trees;
  }
  const Json& scale_and_bias = exported.at("scale_and_bias");
  EXPECT_EQ(table.scale, scale_and_bias.at(0).get<double>());
  EXPECT_EQ(table.bias, scale_and_bias.at(1).get<std::vector<double>>());
}

TEST(CbmCoreConformance, EveryTreeSplitLeafAndBorderEqualsCatBoostsExport) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  for (const char* name : {"codrna", "creditgermany"}) {
    SCOPED_TRACE(name);
    Result<TreeTable> table = read_cbm_trees((corpus / (std::string(name) + ".cbm")).string());
    ASSERT_TRUE(table.is_ok()) << table.message();
    Compared compared;
    Json exported = testing::load_catboost_export(corpus / (std::string(name) + ".catboost-export.json"));
    compare_with_export(table.value(), exported, compared);
    std::cout << name << ": compared " << compared.trees << " trees, " << compared.splits << " splits, "
              << compared.leaf_values << " leaf values, " << compared.borders << " borders\n";
  }
}

TEST(CbmCoreConformance, CreditgermanyHoldsFewerTreesThanConfigured) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  Result<TreeTable> table = read_cbm_trees((corpus / "creditgermany.cbm").string());
  ASSERT_TRUE(table.is_ok()) << table.message();
  TreeTotals totals = tree_totals(table.value());
  EXPECT_EQ(table.value().trees.size(), 992u);
  EXPECT_EQ(totals.split_checks, 5883u);
  EXPECT_TRUE(totals.all_symmetric);
  EXPECT_EQ(totals.trees_by_depth, (std::map<std::uint64_t, std::uint64_t>{{1, 5}, {2, 7}, {3, 4}, {4, 2}, {6, 974}}));
}

// The counts straight from the text: one Tree= line per tree, then its num_leaves line.
std::vector<std::uint64_t> stated_leaf_counts(const std::string& text) {
  std::vector<std::uint64_t> counts;
  static const std::regex num_leaves("^num_leaves=([0-9]+)\r?$");
  std::istringstream in(text);
  std::string line;
  bool in_tree = false;
  while (std::getline(in, line)) {
    std::smatch match;
    if (line.rfind("Tree=", 0) == 0) {
      in_tree = true;
    } else if (in_tree && std::regex_match(line, match, num_leaves)) {
      counts.push_back(std::stoull(match[1]));
      in_tree = false;
    } else if (line == "end of trees") {
      break;
    }
  }
  return counts;
}

TEST(LightgbmTreesConformance, TreeCountAndLeavesEqualTheText) {
  TARNWICK_REQUIRE_CORPUS("lightgbm");
  std::uint64_t models = 0, trees = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string text = testing::read_file(entry.path().string());
    Result<TreeTable> table = parse_lightgbm_trees(entry.path().string(), text);
    ASSERT_TRUE(table.is_ok()) << table.message();
    std::vector<std::uint64_t> stated = stated_leaf_counts(text);
    ASSERT_EQ(table.value().trees.size(), stated.size());
    for (std::size_t i = 0; i < stated.size(); ++i) {
      const Tree& tree = table.value().trees[i];
      EXPECT_EQ(tree.leaves, stated[i]) << "tree " << i;
      EXPECT_EQ(tree.leaf_values.size(), stated[i]) << "tree " << i;
      EXPECT_EQ(tree.splits.size(), stated[i] - 1) << "tree " << i;
    }
    ++models;
    trees += stated.size();
  }
  EXPECT_GE(models, 11u);
  std::cout << "LightGBM: " << models << " models, " << trees << " trees compared\n";
}

}  // namespace
}  // namespace tarnwick
