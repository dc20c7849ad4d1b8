// Aliased FlatBuffers tables: each reference to a vector costs its items again.
#include <gtest/gtest.h>

#include "cbm/cbm_core_builder.h"
#include "cbm/cbm_core_reader.h"

namespace tarnwick {
namespace {

using testing::BuiltCore;
using testing::CoreModel;

// `features` float features, each with the borders 0.5, 1.5, ... (shared or each its own),
// and one depth-1 tree on the first border.
CoreModel float_model(std::size_t features, std::size_t borders, bool shared) {
  CoreModel model;
  std::vector<float> values;
  for (std::size_t i = 0; i < borders; ++i) values.push_back(static_cast<float>(i) + 0.5f);
  model.float_borders.assign(features, values);
  model.borders_shared = shared;
  model.splits = {0};
  model.sizes = {1};
  model.starts = {0};
  model.leaf_values = {-1.0, 1.0};
  return model;
}

// Items of the vectors every float_model core holds besides its features: one split, one size,
// one start, two leaf values.
constexpr std::uint64_t kTreeItems = 5;

TEST(CbmSharedTables, EveryReferenceToABordersVectorIsDrawn) {
  struct Case {
    const char* name;
    std::size_t features, borders;
    bool shared;
  };
  for (const Case& c :
       {Case{"own borders", 3, 4, false}, Case{"shared borders", 3, 4, true}, Case{"shared by many", 200, 50, true}}) {
    BuiltCore built = build_core(float_model(c.features, c.borders, c.shared));
    DecodeBudget budget(built.file().size());
    Result<TreeTable> table = decode_cbm_trees("model.cbm", built.file(), budget);
    ASSERT_TRUE(table.is_ok()) << c.name << ": " << table.message();
    std::uint64_t borders = c.features * c.borders;
    EXPECT_EQ(budget.drawn(), c.features + borders + kTreeItems) << c.name;
    std::uint64_t decoded = 0;
    for (const TreeFeature& feature : table.value().features) decoded += feature.borders.size();
    EXPECT_EQ(decoded, borders) << c.name;
  }
}

TEST(CbmSharedTables, FeaturesAllPointingAtOneBordersVectorAreRefused) {
  // 1500 features times 2000 borders would decode 3 million borders from about 56 KB.
  BuiltCore built = build_core(float_model(1500, 2000, true));
  ASSERT_LT(built.file().size(), 64u * 1024);
  DecodeBudget budget(built.file().size());
  Result<TreeTable> table = decode_cbm_trees("model.cbm", built.file(), budget);
  ASSERT_FALSE(table.is_ok());
  EXPECT_EQ(table.message(), "model.cbm: CatBoost core: decoding float feature borders exceeded the budget of " +
                                 std::to_string(budget.allowance()) + " elements for " +
                                 std::to_string(built.file().size()) + " input bytes");
  EXPECT_LE(budget.drawn(), budget.allowance());
  EXPECT_GT(budget.drawn(), budget.allowance() - 2000) << "refused at the first vector that does not fit";
}

TEST(CbmSharedTables, FeatureNamesAreDrawnByTheirLength) {
  CoreModel model = float_model(2, 1, false);
  model.float_names = {"age", "income"};
  BuiltCore built = build_core(model);
  DecodeBudget budget(built.file().size());
  ASSERT_TRUE(decode_cbm_trees("model.cbm", built.file(), budget).is_ok());
  EXPECT_EQ(budget.drawn(), 2 + 2 + 3 + 6 + kTreeItems);
}

}  // namespace
}  // namespace tarnwick
