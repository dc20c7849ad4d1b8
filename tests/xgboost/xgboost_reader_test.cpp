// XGBoost models built by hand in both encodings: whole reports of a small model, detection by
// content, and hostile inputs. tests/xgboost/xgboost_oracle.py holds real models against xgboost.
#include <gtest/gtest.h>

#include "base/json_output.h"
#include "tables/tree_contents_diff.h"
#include "test_support.h"
#include "xgboost/content_test.h"
#include "xgboost/xgboost_model.h"
#include "xgboost/xgboost_summary.h"

namespace tarnwick {
namespace {

// Two trees over three features: tree 0 splits on x0 < 0.5, then on the category set {1, 3} of
// "color" (whose categorical node states NaN, as XGBoost writes it); tree 1 is one leaf.
const char* const kTree0 =
    R"({"base_weights":[0,0,0,0,0],"categories":[1,3],"categories_nodes":[2],"categories_segments":[0],)"
    R"("categories_sizes":[2],"default_left":[1,0,0,0,0],"id":0,"left_children":[1,-1,3,-1,-1],)"
    R"("loss_changes":[1,0,1,0,0],"parents":[2147483647,0,0,2,2],"right_children":[2,-1,4,-1,-1],)"
    R"("split_conditions":[0.5,0.1,NaN,-0.25,0.375],"split_indices":[0,0,2,0,0],"split_type":[0,0,1,0,0],)"
    R"("sum_hessian":[9,4,5,2,3],"tree_param":{"num_deleted":"0","num_feature":"3","num_nodes":"5",)"
    R"("size_leaf_vector":"0"}})";
const char* const kTree1 =
    R"({"base_weights":[0.05],"categories":[],"categories_nodes":[],"categories_segments":[],)"
    R"("categories_sizes":[],"default_left":[0],"id":1,"left_children":[-1],"loss_changes":[0],)"
    R"("parents":[2147483647],"right_children":[-1],"split_conditions":[0.05],"split_indices":[0],)"
    R"("split_type":[0],"sum_hessian":[9],"tree_param":{"num_deleted":"0","num_feature":"3",)"
    R"("num_nodes":"1","size_leaf_vector":"0"}})";

std::string model_json(const std::string& trees = std::string(kTree0) + "," + kTree1,
                       const std::string& booster_name = "gbtree") {
  return R"({"learner":{"attributes":{},"feature_names":["x0","x1","color"],"feature_types":["q","q","c"],)"
         R"("gradient_booster":{"model":{"gbtree_model_param":{"num_parallel_tree":"1","num_trees":"2"},)"
         R"("tree_info":[0,0],"trees":[)" +
         trees + R"(]},"name":")" + booster_name +
         R"("},"learner_model_param":{"base_score":"5E-1","boost_from_average":"1","num_class":"0",)"
         R"("num_feature":"3","num_target":"1"},"objective":{"name":"binary:logistic",)"
         R"("reg_loss_param":{"scale_pos_weight":"1"}}},"version":[1,7,4]})";
}

// The same document as UBJSON, written by nlohmann (keys in document order, floats as float64).
std::string as_ubjson(const std::string& json, bool use_size) {
  std::string text = json;
  for (std::size_t at; (at = text.find("NaN")) != std::string::npos;) text.replace(at, 3, "null");
  OrderedJson document = OrderedJson::parse(text);
  document["learner"]["gradient_booster"]["model"]["trees"][0]["split_conditions"][2] = NAN;
  std::vector<std::uint8_t> bytes = OrderedJson::to_ubjson(document, use_size, false);
  return {bytes.begin(), bytes.end()};
}

std::string ubjson_key(const std::string& key) { return "i" + std::string(1, static_cast<char>(key.size())) + key; }

TEST(XgboostReports, WholeReportsOfASmallModel) {
  testing::TempDir dir;
  const std::string json = dir.write("small.json", model_json());
  const std::string ubj = dir.write("small.ubj", as_ubjson(model_json(), false));
  // The retrain: another leaf value, a renamed feature, and another objective.
  std::string retrained_text = model_json();
  retrained_text.replace(retrained_text.find("0.375]"), 5, "0.5");
  retrained_text.replace(retrained_text.find(R"("x1")"), 4, R"("tenure")");
  retrained_text.replace(retrained_text.find("binary:logistic"), 15, "binary:hinge");
  const std::string retrained = dir.write("retrained.json", retrained_text);
  struct Run {
    std::vector<std::string> args;
    std::string golden;
    int status = 0;
  };
  const std::vector<Run> runs{
      {{"contents", json}, "xgboost/small.contents.txt"},
      {{"contents", "--json", json}, "xgboost/small.contents.json"},
      {{"inspect", json}, "xgboost/small.inspect.txt"},
      {{"inspect", "--json", ubj}, "xgboost/small_ubj.inspect.json"},
      {{"explain-diff", json, ubj}, "xgboost/small_json_vs_ubj.explain-diff.txt"},
      {{"diff", json, retrained}, "xgboost/small_vs_retrained.diff.txt"},
      {{"diff", "--contents", json, retrained}, "xgboost/small_vs_retrained.contents-diff.txt"},
      {{"explain-diff", json, retrained}, "xgboost/small_vs_retrained.explain-diff.txt"},
      {{"check", "--json", "--max-size-growth", "5", "--fail-on-feature-change", "--fail-on-training-config-change",
        json, retrained},
       "xgboost/small_vs_retrained.check.json",
       1},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.golden);
    testing::CommandRun done = testing::run_command(run.args);
    ASSERT_EQ(done.status, run.status) << done.err;
    testing::expect_golden(testing::with_dir_placeholder(done.out, dir), run.golden);
  }
}

// Both encodings, with and without counted containers, give one tree table.
TEST(XgboostReader, EncodingsReadAlike) {
  Result<XgboostModel> json = parse_xgboost_model("m.json", model_json());
  ASSERT_TRUE(json.is_ok()) << json.message();
  for (bool use_size : {false, true}) {
    std::string bytes = as_ubjson(model_json(), use_size);
    EXPECT_TRUE(looks_like_xgboost_model(bytes));
    Result<XgboostModel> ubj = parse_xgboost_model("m.ubj", bytes);
    ASSERT_TRUE(ubj.is_ok()) << ubj.message();
    EXPECT_EQ(ubj.value().encoding, "UBJSON");
    ASSERT_EQ(ubj.value().trees.trees.size(), 2u);
    for (std::size_t t = 0; t < 2; ++t) {
      const Tree& a = json.value().trees.trees[t];
      const Tree& b = ubj.value().trees.trees[t];
      EXPECT_EQ(a.leaf_values, b.leaf_values);
      ASSERT_EQ(a.splits.size(), b.splits.size());
      for (std::size_t s = 0; s < a.splits.size(); ++s) {
        EXPECT_EQ(a.splits[s].threshold, b.splits[s].threshold);
        EXPECT_EQ(a.splits[s].categories, b.splits[s].categories);
        EXPECT_EQ(a.splits[s].default_left, b.splits[s].default_left);
      }
    }
  }
}

TEST(XgboostReader, DetectsModelsByContent) {
  struct Case {
    std::string head;
    bool claimed;
  };
  const Case cases[] = {
      {model_json(), true},
      {"  \n{ \"learner\" : {}}", true},
      {R"({"version":[1,7,4],"learner":{}})", false},  // XGBoost always writes "learner" first
      {R"({"tensors":[]})", false},
      {"{" + ubjson_key("learner") + "{}}", true},
      {"{#i\x02" + ubjson_key("learner"), true},
      {"{" + ubjson_key("learners"), false},
      {"{L\x00\x00\x00\x00\x00\x00\x00\x07learner", false},  // cut inside the key
      {std::string("{L\x00\x00\x00\x00\x00\x00\x00\x07learner", 18), true},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(looks_like_xgboost_model(c.head), c.claimed) << c.head;
}

TEST(XgboostReader, RefusesBrokenAndHostileModels) {
  const std::string deep_json = R"({"learner":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
  const std::string deep_ubjson = "{" + ubjson_key("learner") + std::string(100000, '[');
  const std::string ubjson_head = "{" + ubjson_key("learner");
  std::string one_leaf = kTree1;
  struct Case {
    std::string name;
    std::string bytes;
    std::string message;  // what the single error line holds
  };
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  auto cut_before = [](const std::string& text, const std::string& mark) { return text.substr(0, text.find(mark)); };
  const Case cases[] = {
      {"deep JSON", deep_json, "invalid JSON: values nested deeper than 512 levels"},
      {"deep UBJSON", deep_ubjson, "invalid UBJSON at byte 522: values nested deeper than 512 levels"},
      {"count beyond the input", ubjson_head + "[$Z#L" + std::string("\x7f\xff\xff\xff\xff\xff\xff\xff", 8),
       "decoding UBJSON values exceeded the budget of"},
      {"string beyond the input", ubjson_head + "SL" + std::string("\x00\x00\x00\x00\x7f\xff\xff\xff", 8) + "ab",
       "string runs past the end of the input"},
      {"negative length", ubjson_head + "Si\xff", "negative length"},
      {"unknown marker", ubjson_head + "X", "unknown marker 0x58"},
      {"trailing bytes", ubjson_head + "Z}}", "trailing bytes after the value"},
      {"duplicate UBJSON key", ubjson_head + "Z" + ubjson_key("learner") + "Z}", "duplicate key \"learner\""},
      {"no learner", R"({"learner":[]})", "not an XGBoost model: no \"learner\" object"},
      {"no trees", replaced(model_json(), R"("trees":[)", R"("forest":[)"), "XGBoost model has no \"trees\" list"},
      {"child out of range", replaced(model_json(), "[1,-1,3,-1,-1]", "[1,-1,9,-1,-1]"),
       "XGBoost tree 0: node 2 has a child out of range"},
      {"cycle to the root", replaced(model_json(), "[2,-1,4,-1,-1]", "[2,-1,0,-1,-1]"),
       "XGBoost tree 0: node 0 is reached twice"},
      {"feature beyond the model", replaced(model_json(), "[0,0,2,0,0]", "[0,0,7,0,0]"),
       "XGBoost tree 0: node 2 splits on feature 7, beyond the model's 3 features"},
      {"unequal arrays", replaced(model_json(), "[0,0,2,0,0]", "[0,0,2,0]"), "node arrays differ in length"},
      {"category segment past the list",
       replaced(model_json(), R"("categories_sizes":[2])", R"("categories_sizes":[5])"),
       "XGBoost tree 0: category segment 0 runs past the category list"},
      {"categorical node without categories",
       replaced(model_json(), R"("categories_nodes":[2])", R"("categories_nodes":[4])"),
       "categorical node 2 lists no categories"},
      {"tree without nodes", model_json(replaced(one_leaf, R"("left_children":[-1])", R"("left_children":[])")),
       "XGBoost tree 0: has no nodes"},
      {"text where a number belongs", replaced(model_json(), "[0.5,0.1,NaN", R"(["half",0.1,NaN)"),
       "split_conditions holds a value that is not a number"},
      {"text where a direction belongs", replaced(model_json(), "[1,0,0,0,0]", R"([1,0,"left",0,0])"),
       "XGBoost tree 0: default_left holds a value that is not an integer"},
      {"directions of fewer nodes", replaced(model_json(), "[1,0,0,0,0]", "[1,0]"), "node arrays differ in length"},
      {"tree that is not an object", model_json(std::string(kTree0) + ",[1]"), "XGBoost tree 1: not an object"},
      // Faults come in tree and node order, though features are known only after the trees.
      {"feature fault before a broken tree",
       model_json(replaced(kTree0, "[0,0,2,0,0]", "[0,0,7,0,0]") + "," +
                  replaced(one_leaf, R"("left_children":[-1])", R"("left_children":[])")),
       "XGBoost tree 0: node 2 splits on feature 7, beyond the model's 3 features"},
      {"feature and categories faults on one node",
       model_json(replaced(replaced(kTree0, "[0,0,2,0,0]", "[0,0,-1,0,0]"), R"("categories_nodes":[2])",
                           R"("categories_nodes":[4])")),
       "XGBoost tree 0: node 2 splits on feature -1, beyond the model's 3 features"},
      {"syntax fault after a tree fault",
       cut_before(replaced(model_json(), "[2,-1,4,-1,-1]", "[2,-1,0,-1,-1]"), R"("id":1)"), "invalid JSON: "},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("hostile.ubj", c.bytes);
    testing::CommandRun run = testing::run_command({"contents", path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("error: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
}

// default_left sends a missing value left; a model whose only change is a direction has changed
// splits and another learned-state fingerprint, and a tree without the array states no direction.
TEST(XgboostReader, DefaultDirectionsAreReadAndCompared) {
  Result<XgboostModel> model = parse_xgboost_model("m.json", model_json());
  ASSERT_TRUE(model.is_ok()) << model.message();
  const std::vector<TreeSplit>& splits = model.value().trees.trees[0].splits;
  ASSERT_EQ(splits.size(), 2u);
  EXPECT_EQ(splits[0].default_left, true);
  EXPECT_EQ(splits[1].default_left, false);

  std::string flipped_text = model_json();
  flipped_text.replace(flipped_text.find("[1,0,0,0,0]"), 11, "[0,0,0,0,0]");
  Result<XgboostModel> flipped = parse_xgboost_model("m.json", flipped_text);
  ASSERT_TRUE(flipped.is_ok()) << flipped.message();
  TreeContentsDiff diff = diff_tree_tables(model.value().trees, flipped.value().trees);
  EXPECT_EQ(diff.splits_changed, std::vector<std::uint64_t>{0});
  EXPECT_TRUE(diff.leaf_values_changed.empty());
  EXPECT_NE(xgboost_figures(model.value()).learned_state_fingerprint,
            xgboost_figures(flipped.value()).learned_state_fingerprint);

  std::string undirected_text = model_json();
  undirected_text.erase(undirected_text.find(R"("default_left":[1,0,0,0,0],)"), 27);
  Result<XgboostModel> undirected = parse_xgboost_model("m.json", undirected_text);
  ASSERT_TRUE(undirected.is_ok()) << undirected.message();
  EXPECT_EQ(undirected.value().trees.trees[0].splits[0].default_left, std::nullopt);
}

// Thresholds are float32 as XGBoost stores them: a value beyond float's range is infinite, and
// the JSON words for non-finite values read as such.
TEST(XgboostReader, ThresholdsAreFloat32) {
  std::string text = model_json();
  text.replace(text.find("[0.5,0.1,NaN,-0.25,0.375]"), 25, "[1e300,0.1,NaN,-Infinity,0.30000000000000004]");
  Result<XgboostModel> read = parse_xgboost_model("m.json", text);
  ASSERT_TRUE(read.is_ok()) << read.message();
  const Tree& tree = read.value().trees.trees[0];
  EXPECT_EQ(tree.splits[0].threshold, std::numeric_limits<double>::infinity());
  EXPECT_EQ(tree.leaf_values, (std::vector<double>{static_cast<double>(0.1f), -std::numeric_limits<double>::infinity(),
                                                   static_cast<double>(0.3f)}));
}

// A multi-target tree keeps a vector per node in base_weights; its leaves list their vectors.
TEST(XgboostReader, ReadsLeafVectorsOfMultiTargetTrees) {
  const std::string tree =
      R"({"base_weights":[0,0,0.25,-0.5,1.5,2],"left_children":[1,-1,-1],"right_children":[2,-1,-1],)"
      R"("split_conditions":[0.5,0,0],"split_indices":[1,0,0],"tree_param":{"size_leaf_vector":"2"}})";
  Result<XgboostModel> read = parse_xgboost_model("m.json", model_json(tree));
  ASSERT_TRUE(read.is_ok()) << read.message();
  EXPECT_EQ(read.value().trees.trees[0].leaf_values, (std::vector<double>{0.25, -0.5, 1.5, 2}));

  std::string short_weights = tree;
  short_weights.replace(short_weights.find("0,0,0.25"), 8, "0.25");
  Result<XgboostModel> refused = parse_xgboost_model("m.json", model_json(short_weights));
  ASSERT_FALSE(refused.is_ok());
  EXPECT_EQ(refused.message(), "m.json: XGBoost tree 0: base_weights does not hold 2 weights per node");
}

// A model of another booster has no trees; a dart model reads the gbtree inside it.
TEST(XgboostReader, ReadsDartAndLinearBoosters) {
  std::string dart = model_json();
  std::size_t at = dart.find(R"("gradient_booster":{)") + 20;
  dart.insert(at, R"("gbtree":{)");
  std::size_t close = dart.find(R"(,"name":"gbtree"})");
  dart.replace(close, 17, R"(,"name":"gbtree"},"name":"dart","weight_drop":[1,0.5]})");
  Result<XgboostModel> read = parse_xgboost_model("dart.json", dart);
  ASSERT_TRUE(read.is_ok()) << read.message();
  EXPECT_EQ(read.value().booster, "dart");
  EXPECT_EQ(read.value().dart_weights, 2u);
  EXPECT_EQ(read.value().trees.trees.size(), 2u);
  EXPECT_EQ(read.value().boosting_rounds, 2u);

  Result<XgboostModel> linear = parse_xgboost_model(
      "linear.json", R"({"learner":{"gradient_booster":{"model":{"weights":[0.5,0.25]},"name":"gblinear"},)"
                     R"("learner_model_param":{"num_feature":"1"}},"version":[1,7,4]})");
  ASSERT_TRUE(linear.is_ok()) << linear.message();
  EXPECT_EQ(linear.value().booster, "gblinear");
  EXPECT_TRUE(linear.value().trees.trees.empty());
}

}  // namespace
}  // namespace tarnwick
