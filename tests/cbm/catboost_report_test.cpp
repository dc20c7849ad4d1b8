#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

// A model with every field the reports print, and 25 recovered names.
std::string full_model() {
  std::string bytes = std::string("CBM1\x01\x02", 6);
  bytes += R"({"boosting_options":{"iterations":1000},"flat_params":{"iterations":1000,"depth":6,)"
           R"("learning_rate":0.03,"loss_function":"RMSE","l2_leaf_reg":3},"tree_learner_options":)"
           R"({"grow_policy":"SymmetricTree","bootstrap":{"type":"MVS"}},"metrics":{"eval_metric":{"type":"RMSE"}}})";
  bytes += std::string("\x00", 1) + R"({"metrics":{"learn_best_error":{"RMSE":0.5}}})";
  bytes += std::string("\x00", 1) + "2024-05-06T07:08:09Z" + std::string("\x00", 1) + "train_finish_time";
  for (char letter = 'a'; letter < 'a' + 25; ++letter) {
    bytes += std::string("\x00", 1) + "feat_" + letter + letter;
  }
  return bytes;
}

TEST(CatboostReport, TextSummaryWithLimitAndNames) {
  TempDir dir;
  std::string path = dir.write("full.cbm", full_model());
  testing::CommandRun run = run_command({"catboost", path, "--limit", "+3"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "CatBoost Model Summary\n"
            "----------------------\n"
            "Model: full.cbm\n"
            "Format: CatBoost binary model (CBM1)\n"
            "File size: 559 B\n"
            "\n"
            "Execution Plan:\n"
            "  Input row\n"
            "   |\n   v\n  Quantize numeric/categorical features\n"
            "   |\n   v\n  Traverse symmetric tree ensemble\n"
            "   |\n   v\n  Sum leaf values\n"
            "\n"
            "Estimated Cost:\n"
            "  Trees / row: 1000\n"
            "  Configured/max split checks / row: 6000\n"
            "  Max leaf slots: 64000\n"
            "  Why: 1000 trees * depth 6 = 6000 split checks / row\n"
            "\n"
            "Training:\n"
            "  Loss: RMSE\n"
            "  Eval metric: RMSE\n"
            "  Learning rate: 0.0300\n"
            "  Best learn RMSE: 0.500000\n"
            "  Train finished: 2024-05-06T07:08:09Z\n"
            "\n"
            "Tree Config:\n"
            "  Iterations: 1000\n"
            "  Depth: 6\n"
            "  Grow policy: SymmetricTree\n"
            "  L2 leaf reg: 3\n"
            "  Bootstrap: MVS\n"
            "\n"
            "Recovered Feature Names:\n"
            "  recovered: 25\n"
            "  feat_aa\n"
            "  feat_bb\n"
            "  feat_cc\n"
            "  ... 22 more\n"
            "\n"
            "Note:\n"
            "  This inspects embedded CatBoost metadata without executing the model.\n"
            "  Feature names are recovered best-effort from CBM strings.\n"
            "  Feature importance and exact tree structure need CatBoost's native tooling.\n");

  testing::CommandRun none = run_command({"cbm", "--limit", "0", path});
  EXPECT_NE(none.out.find("  recovered: 25\n  ... 25 more\n"), std::string::npos);
}

TEST(CatboostReport, JsonDocumentsAndFailures) {
  TempDir dir;
  std::string full = dir.write("full.cbm", full_model());
  std::string bare = dir.write("bare.cbm", "CBM1");
  std::string bad = dir.write("bad.cbm", "CBMX");

  testing::CommandRun one = run_command({"inspect", "--json", bare});
  ASSERT_EQ(one.status, 0) << one.err;
  testing::expect_golden(one.out, "cbm/bare.inspect.json");

  testing::CommandRun two = run_command({"catboost", "--json", full, bare});
  ASSERT_EQ(two.status, 0) << two.err;
  nlohmann::json documents = nlohmann::json::parse(two.out);
  ASSERT_TRUE(documents.is_array());
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_EQ(documents[0]["features"]["recovered_names"].size(), 25u);  // --limit does not apply
  EXPECT_EQ(documents[0]["summary"]["max_leaf_slots"], 64000);
  EXPECT_EQ(documents[1]["fingerprints"]["metadata"], nullptr);

  testing::CommandRun failed = run_command({"catboost", "--json", full, bad});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "error: " + bad + " does not look like a CatBoost CBM file: missing CBM1 signature\n");

  testing::CommandRun combined = run_command({"catboost", "--deep", "--json", dir.path().string() + "/none.cbm"});
  EXPECT_EQ(combined.err, "error: --deep cannot be combined with --json yet.\n");
  EXPECT_EQ(run_command({"catboost", "--limit", "3x", full}).err,
            "error: parse --limit: invalid digit found in string\n");
}

TEST(CatboostReport, DerivedCostAtTheEdges) {
  TempDir dir;
  auto model = [](const std::string& flat) { return "CBM1{\"boosting_options\":{},\"flat_params\":{" + flat + "}}"; };
  testing::CommandRun depth64 =
      run_command({"inspect", "--json", dir.write("d64.cbm", model(R"("iterations":10,"depth":64)"))});
  nlohmann::json summary = nlohmann::json::parse(depth64.out)["summary"];
  EXPECT_EQ(summary["configured_max_split_checks_per_row"], 640);
  EXPECT_EQ(summary["max_leaf_slots"], nullptr);

  testing::CommandRun no_depth = run_command({"inspect", dir.write("nodepth.cbm", model(R"("iterations":10)"))});
  EXPECT_NE(no_depth.out.find("  Configured/max split checks / row: unknown\n  Max leaf slots: unknown\n\nTraining:"),
            std::string::npos);
  EXPECT_EQ(no_depth.out.find("Why:"), std::string::npos);

  testing::CommandRun overflow =
      run_command({"inspect", "--json", dir.write("big.cbm", model(R"("iterations":18446744073709551615,"depth":2)"))});
  EXPECT_EQ(nlohmann::json::parse(overflow.out)["summary"]["configured_max_split_checks_per_row"], nullptr);
}

TEST(CatboostReport, ExplanationWithoutPythonPrintsTheFallback) {
  TempDir dir;
  std::string path = dir.write("full.cbm", full_model());
  // No interpreter anywhere: the fallback names the first candidate that could not start.
  testing::ScopedEnv python("VESPRINE_PYTHON", "/nonexistent/python");
  testing::ScopedEnv no_path("PATH", "/nonexistent");
  testing::CommandRun run = run_command({"explain", path});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  testing::expect_golden(run.out, "cbm/full.explain.txt");
  EXPECT_NE(run.out.find("Feature Processing:\n"
                         "  Exact float/categorical feature typing unavailable.\n"
                         "  Reason: /nonexistent/python: No such file or directory\n"
                         "  Recovered feature names: 25\n"
                         "    feat_aa\n"),
            std::string::npos);
  EXPECT_NE(run.out.find("    feat_xx\n    ... 1 more\n\nLearned State:\n"), std::string::npos);
}

TEST(CatboostReport, DiffOfModelsThatDifferInMetricsAndNames) {
  TempDir dir;
  std::string old_path = dir.write("old.cbm", full_model());
  std::string changed = full_model();
  changed.replace(changed.find("\"RMSE\":0.5"), 10, "\"RMSE\":0.4");
  changed.replace(changed.find("feat_aa"), 7, "feat_zz");
  changed += std::string("\x05", 1);
  std::string new_path = dir.write("new.cbm", changed);
  testing::CommandRun run = run_command({"diff", old_path, new_path});
  ASSERT_EQ(run.status, 0) << run.err;
  testing::expect_golden(run.out, "cbm/synthetic_pair.diff.txt");
  EXPECT_NE(run.out.find("  Note: learn RMSE decreased by 20.00%. Lower is usually better if this metric is "
                         "comparable.\n"),
            std::string::npos);

  testing::CommandRun json = run_command({"diff", "--json", old_path, new_path});
  ASSERT_EQ(json.status, 0) << json.err;
  nlohmann::json document = nlohmann::json::parse(json.out);
  EXPECT_EQ(document["kind"], "catboost_diff");
  EXPECT_EQ(document["features"]["added"], nlohmann::json::array({"feat_zz"}));
  EXPECT_EQ(document["features"]["removed"], nlohmann::json::array({"feat_aa"}));
  EXPECT_EQ(document["changes"]["best_learn_rmse"]["changed"], true);
  EXPECT_EQ(document["changes"]["file_size_bytes"]["delta"], 1);
  EXPECT_EQ(document["fingerprints"]["metadata"]["changed"], true);
  EXPECT_EQ(document["fingerprints"]["learned_state"]["changed"], true);
}

}  // namespace
}  // namespace tarnwick
