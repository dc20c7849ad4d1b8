#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "cbm/cbm_core_builder.h"
#include "base/json_output.h"
#include "cbm/cbm_core_reader.h"
#include "lightgbm/lightgbm_trees.h"
#include "tables/tree_contents.h"
#include "test_support.h"

namespace tarnwick {
namespace {

struct Printed {
  Status status;
  std::string out;
};

// Paths in the reports as the golden files hold them: relative to the corpus folder.
std::string corpus_relative(std::string text) {
  std::string prefix = testing::corpus_dir().string() + "/";
  for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at)) {
    text.erase(at, prefix.size());
  }
  return text;
}

// The tree table of either tree kind, told apart by the CatBoost signature.
Result<TreeTable> read_trees(const std::string& path) {
  if (testing::read_file(path).starts_with("CBM1")) return read_cbm_trees(path);
  return read_lightgbm_trees(path);
}

Printed contents(const std::string& path, bool json, std::size_t limit = 20) {
  std::istringstream in;
  std::ostringstream out;
  Io io{in, out};
  Result<TreeTable> table = read_trees(path);
  if (!table.is_ok()) return {table.error(), ""};
  Status status = print_tree_contents(table.value(), json, limit, io);
  return {status, corpus_relative(out.str())};
}

Printed contents_diff(const std::string& old_path, const std::string& new_path, bool json) {
  std::istringstream in;
  std::ostringstream out;
  Io io{in, out};
  Result<TreeTable> old_table = read_trees(old_path);
  if (!old_table.is_ok()) return {old_table.error(), ""};
  Result<TreeTable> new_table = read_trees(new_path);
  if (!new_table.is_ok()) return {new_table.error(), ""};
  Status status = print_tree_contents_diff(old_table.value(), new_table.value(), json, 20, io);
  return {status, corpus_relative(out.str())};
}

TEST(TreeContentsReport, CreditgermanyText) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  Printed printed = contents((corpus / "creditgermany.cbm").string(), false);
  ASSERT_TRUE(printed.status.is_ok()) << printed.status.message();
  testing::expect_golden(printed.out, "cbm/creditgermany.contents.txt");
}

TEST(TreeContentsReport, CodrnaJsonHoldsEveryTree) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  Printed printed = contents((corpus / "codrna.cbm").string(), true, 1);
  ASSERT_TRUE(printed.status.is_ok()) << printed.status.message();
  Json document = Json::parse(printed.out);
  EXPECT_EQ(document["kind"], "tree_contents");
  EXPECT_EQ(document["format"], "catboost");
  EXPECT_EQ(document["tree_count"], 1000);
  EXPECT_EQ(document["trees"].size(), 1000u);  // --limit never cuts JSON
  EXPECT_EQ(document["split_checks_per_row"], 6000);
  EXPECT_EQ(document["leaf_count"], 64000);
  EXPECT_EQ(document["features"].size(), 8u);
  EXPECT_EQ(document["features"][0]["borders"].size(), 179u);
  EXPECT_EQ(document["trees"][0]["splits"][1],
            Json({{"feature", 1}, {"threshold", 0.36363649368286133}, {"split_index", 194}}));
  EXPECT_EQ(printed.out.back(), '\n');
}

TEST(TreeContentsReport, LightgbmTextAndJson) {
  TARNWICK_REQUIRE_CORPUS("lightgbm");
  Printed text = contents((corpus / "mixed_categorical.txt").string(), false);
  ASSERT_TRUE(text.status.is_ok()) << text.status.message();
  testing::expect_golden(text.out, "lightgbm/mixed_categorical.contents.txt");
  Printed json = contents((corpus / "mixed_categorical.txt").string(), true);
  ASSERT_TRUE(json.status.is_ok()) << json.status.message();
  testing::expect_golden(json.out, "lightgbm/mixed_categorical.contents.json");
}

TEST(TreeContentsReport, DiffsOfCorpusPairs) {
  TARNWICK_REQUIRE_CORPUS("");
  struct Pair {
    const char* old_path;
    const char* new_path;
    const char* golden;
  };
  for (const Pair& pair :
       {Pair{"catboost/codrna.cbm", "catboost/creditgermany.cbm", "cbm/codrna_vs_creditgermany.contents-diff"},
        Pair{"lightgbm/mtpl2.txt", "lightgbm/mtpl2_small.txt", "lightgbm/mtpl2_vs_mtpl2_small.contents-diff"}}) {
    SCOPED_TRACE(pair.golden);
    for (bool json : {false, true}) {
      Printed printed = contents_diff((corpus / pair.old_path).string(), (corpus / pair.new_path).string(), json);
      ASSERT_TRUE(printed.status.is_ok()) << printed.status.message();
      testing::expect_golden(printed.out, std::string(pair.golden) + (json ? ".json" : ".txt"));
    }
  }
}

TEST(TreeContentsReport, DiffOfAModelWithItselfFindsNoChange) {
  TARNWICK_REQUIRE_CORPUS("lightgbm");
  std::string path = (corpus / "multiclass.txt").string();
  Printed printed = contents_diff(path, path, true);
  ASSERT_TRUE(printed.status.is_ok()) << printed.status.message();
  Json document = Json::parse(printed.out);
  EXPECT_EQ(document["unchanged_tree_count"], 120);
  EXPECT_EQ(document["splits_changed"], Json::array());
  EXPECT_EQ(document["leaf_values_changed"], Json::array());
  EXPECT_EQ(document["borders_changed"], Json::array());
}

// The command line reaches the same reports: contents and diff --contents route tree kinds here.
TEST(TreeContentsReport, CommandLineGivesTheSameReports) {
  TARNWICK_REQUIRE_CORPUS("");
  std::string credit = (corpus / "catboost/creditgermany.cbm").string();
  std::string codrna = (corpus / "catboost/codrna.cbm").string();
  testing::CommandRun text = testing::run_command({"contents", credit});
  ASSERT_EQ(text.status, 0) << text.err;
  testing::expect_golden(corpus_relative(text.out), "cbm/creditgermany.contents.txt");
  testing::CommandRun diff = testing::run_command({"diff", "--contents", "--json", codrna, credit});
  ASSERT_EQ(diff.status, 0) << diff.err;
  testing::expect_golden(corpus_relative(diff.out), "cbm/codrna_vs_creditgermany.contents-diff.json");
  testing::CommandRun limited =
      testing::run_command({"contents", "--limit", "1", (corpus / "lightgbm/mixed_categorical.txt").string()});
  ASSERT_EQ(limited.status, 0) << limited.err;
  EXPECT_NE(limited.out.find("  Column_0 (categorical): 0 splits\n  ... 4 more\n"), std::string::npos);
  EXPECT_NE(limited.out.find("    Column_4 <= 0.7909287073472474\n    ... 17 more\n"), std::string::npos);
}

TEST(TreeContentsReport, ErrorsAreOneMessage) {
  testing::TempDir dir;
  testing::CoreModel model;
  model.sizes = {0};
  model.starts = {0};
  model.leaf_values = {0.5};
  std::string cbm = dir.write("stump.cbm", build_core(model).file());
  std::string broken = dir.write("broken.cbm", std::string("CBM1\xff\xff\xff\x7f", 8));
  std::string lgb = dir.write("model.txt", "tree\nfeature_names=a\n\nTree=0\nnum_leaves=1\nleaf_value=1\n\nend of trees\n");
  struct Case {
    std::function<Printed()> run;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[&] { return contents(broken, false); },
       broken + ": CatBoost core of 2147483647 bytes runs past the end of the file (8 bytes)"},
      {[&] { return contents_diff(lgb, broken, true); },
       broken + ": CatBoost core of 2147483647 bytes runs past the end of the file (8 bytes)"},
      {[&] { return contents_diff(lgb, cbm, false); }, "diff --contents compares models of one format: " + lgb +
                                                           " is LightGBM text model, " + cbm +
                                                           " is CatBoost binary model"},
  };
  for (const Case& c : cases) {
    Printed printed = c.run();
    ASSERT_FALSE(printed.status.is_ok());
    EXPECT_EQ(printed.status.message(), c.message);
    EXPECT_EQ(printed.out, "");
  }
  Printed stump = contents(cbm, false);
  ASSERT_TRUE(stump.status.is_ok()) << stump.status.message();
  EXPECT_NE(stump.out.find("  0: 1 tree\n"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
