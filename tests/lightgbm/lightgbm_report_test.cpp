#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

const char* kOldModel =
    "tree\nversion=v3\nnum_class=1\nmax_feature_idx=2\nobjective=regression\n"
    "feature_names=age income city\n\nTree=0\nleaf_value=0.5 -0.25\n\nTree=1\nleaf_value=1\n\n"
    "parameters:\n[boosting: gbdt]\n[objective: regression]\n[metric: l2]\n[num_leaves: 31]\n"
    "[learning_rate: 0.05]\n[max_depth: -1]\n[num_iterations: 2]\nend of parameters\n";

const char* kNewModel =
    "tree\nversion=v3\nnum_class=1\nmax_feature_idx=2\nobjective=regression\n"
    "feature_names=age income zone\n\nTree=0\nleaf_value=0.5 -0.25\n\nTree=1\nleaf_value=1\n\n"
    "parameters:\n[boosting: gbdt]\n[objective: regression]\n[metric: l2]\n[num_leaves: 31]\n"
    "[learning_rate: 0.05]\n[max_depth: -1]\n[num_iterations: 3]\nend of parameters\n";

TEST(LightgbmReport, TextSummary) {
  TempDir dir;
  std::string path = dir.write("old.txt", kOldModel);
  testing::CommandRun run = run_command({"lightgbm", "--limit", "2", path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "LightGBM Model Summary\n"
            "----------------------\n"
            "Model: old.txt\n"
            "Format: LightGBM text model\n"
            "File size: 307 B\n"
            "Format version: v3\n"
            "\n"
            "Structure:\n"
            "  Trees: 2\n"
            "  Configured leaves / tree: 31\n"
            "  Max leaf slots (trees * leaves): 62\n"
            "  Classes: 1\n"
            "  Features: 3\n"
            "\n"
            "Training Config:\n"
            "  Objective: regression\n"
            "  Boosting: gbdt\n"
            "  Metric: l2\n"
            "  Learning rate: 0.0500\n"
            "  Configured iterations: 2\n"
            "  Max depth: unlimited\n"
            "\n"
            "Parameter-like Internals:\n"
            "  Full artifact fingerprint: 0x53bd6a406d67fc03\n"
            "  Metadata fingerprint: 0x5b740803dae2dafd\n"
            "  Learned-state fingerprint: 0x7e3fbec34bc87cb7\n"
            "  Note: learned-state fingerprint hashes the leaf-value lines as a proxy for the learned tree "
            "outputs.\n"
            "\n"
            "Feature Names:\n"
            "  found: 3\n"
            "  age\n"
            "  income\n"
            "  ... 1 more\n");
}

TEST(LightgbmReport, TextDiffOfNeighbouringModels) {
  TempDir dir;
  std::string old_path = dir.write("old.txt", kOldModel);
  std::string new_path = dir.write("new.lgb", kNewModel);
  testing::CommandRun run = run_command({"diff", old_path, new_path});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(run.out, "lightgbm/synthetic_pair.diff.txt");
  // Only num_iterations changed: config lines stay unchanged in the interpretation.
  EXPECT_NE(run.out.find("  Training config looks unchanged (objective, boosting, learning rate, leaves, depth, "
                         "metric).\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("Configured iterations:\n  2 -> 3 (+1)\n"), std::string::npos);
  EXPECT_NE(run.out.find("Max depth:\n  unlimited -> unlimited (same)\n"), std::string::npos);
}

TEST(LightgbmReport, JsonSummaryIsAnObjectOrAnArrayInRecordOrder) {
  TempDir dir;
  std::string old_path = dir.write("old.txt", kOldModel);
  std::string new_path = dir.write("new.txt", kNewModel);
  testing::CommandRun one = run_command({"lightgbm", "--json", old_path});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(
      one.out.starts_with("{\n  \"path\": \"old.txt\",\n  \"bytes\": 307,\n  \"is_lgbm\": true,\n"
                          "  \"file_fingerprint\": "));
  EXPECT_NE(one.out.find("  \"max_depth\": -1,\n  \"num_iterations\": 2,\n  \"metric\": \"l2\",\n"
                         "  \"feature_names\": [\n    \"age\",\n"),
            std::string::npos);
  testing::CommandRun two = run_command({"lgbm", old_path, "--json", new_path});
  ASSERT_EQ(two.status, 0) << two.err;
  EXPECT_TRUE(two.out.starts_with("[\n  {\n    \"path\": \"old.txt\",\n"));

  testing::CommandRun diff = run_command({"diff", "--json", old_path, new_path});
  ASSERT_EQ(diff.status, 0) << diff.err;
  EXPECT_TRUE(diff.out.starts_with("{\n  \"new\": {\n    \"boosting\": \"gbdt\",\n    \"bytes\": 307,\n"));
  EXPECT_TRUE(diff.out.ends_with("  },\n  \"type\": \"lightgbm\"\n}\n"));
}

TEST(LightgbmReport, CommandLineRefusals) {
  TempDir dir;
  std::string path = dir.write("m.txt", kOldModel);
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"lightgbm"}, "usage: tarnwick lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]"},
      {{"lightgbm", "--json"}, "usage: tarnwick lightgbm [--json] [--limit 20] <model.lgb|model.txt> [more...]"},
      {{"lightgbm", path, "--deep"}, "--deep inspection is currently only supported for CatBoost artifacts."},
      {{"inspect", "--deep", path}, "--deep inspection is currently only supported for CatBoost artifacts."},
      {{"lightgbm", path, "--limit"}, "--limit needs a number"},
      {{"lightgbm", "--limit", "-1", path}, "parse --limit: invalid digit found in string"},
      {{"lightgbm", path, dir.path().string() + "/missing.txt"},
       "read " + dir.path().string() + "/missing.txt: No such file or directory"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: " + c.error + "\n");
  }
  // A failing second path leaves the first report printed in text mode, and nothing in JSON mode.
  EXPECT_NE(run_command({"lightgbm", path, dir.path().string() + "/missing.txt"}).out, "");
  EXPECT_EQ(run_command({"lightgbm", "--json", path, dir.path().string() + "/missing.txt"}).out, "");
}

}  // namespace
}  // namespace tarnwick
