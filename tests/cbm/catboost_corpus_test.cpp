// Real CatBoost models from ../shared/corpus/catboost, checked against CatBoost's own JSON exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "catboost_export.h"
#include "cbm/cbm_summary.h"
#include "test_support.h"

namespace tarnwick {
namespace {

TEST(CatboostCorpus, SummariesAgreeWithTheJsonExports) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  for (const char* model : {"codrna", "creditgermany"}) {
    SCOPED_TRACE(model);
    Result<CbmSummary> read = read_cbm_summary((corpus / (std::string(model) + ".cbm")).string());
    ASSERT_TRUE(read.is_ok()) << read.message();
    const CbmSummary& summary = read.value();
    nlohmann::json exported = testing::load_catboost_export(corpus / (std::string(model) + ".catboost-export.json"));
    const nlohmann::json& trees = exported["oblivious_trees"];
    std::size_t deepest = 0;
    for (const nlohmann::json& tree : trees) deepest = std::max(deepest, tree["splits"].size());
    const nlohmann::json& params = exported["model_info"]["params"];

    // The configured count; a model may stop before it (creditgermany keeps fewer trees).
    EXPECT_EQ(summary.iterations, params["boosting_options"]["iterations"].get<std::uint64_t>());
    EXPECT_GE(*summary.iterations, trees.size());
    EXPECT_EQ(summary.depth, deepest);
    EXPECT_EQ(summary.depth, params["tree_learner_options"]["depth"].get<std::uint64_t>());
    EXPECT_EQ(summary.loss_function, params["loss_function"]["type"].get<std::string>());
    EXPECT_EQ(summary.grow_policy, params["tree_learner_options"]["grow_policy"].get<std::string>());
    EXPECT_EQ(summary.train_finish_time, exported["model_info"]["train_finish_time"].get<std::string>());
    EXPECT_NEAR(*summary.learning_rate, params["boosting_options"]["learning_rate"].get<double>(), 1e-9);
    EXPECT_TRUE(summary.metadata_fingerprint.has_value());
    EXPECT_NE(summary.learned_state_fingerprint, summary.full_artifact_fingerprint);
  }
  // Every tree of codrna has the full depth, so trees and iterations agree exactly there.
  nlohmann::json codrna = testing::load_catboost_export(corpus / "codrna.catboost-export.json");
  EXPECT_EQ(read_cbm_summary((corpus / "codrna.cbm").string()).value().iterations, codrna["oblivious_trees"].size());
}

TEST(CatboostCorpus, WholeReportsOfTheRealModels) {
  TARNWICK_REQUIRE_CORPUS("catboost");
  // No interpreter anywhere: the fallback names the first candidate that could not start.
  testing::ScopedEnv python("VESPRINE_PYTHON", "/nonexistent/python");
  testing::ScopedEnv no_path("PATH", "/nonexistent");
  std::string codrna = (corpus / "codrna.cbm").string();
  std::string credit = (corpus / "creditgermany.cbm").string();
  struct Case {
    std::vector<std::string> args;
    const char* golden;
  };
  const Case cases[] = {
      {{"inspect", codrna}, "cbm/codrna.inspect.txt"},
      {{"inspect", "--json", credit}, "cbm/creditgermany.inspect.json"},
      {{"explain", credit}, "cbm/creditgermany.explain.txt"},
      {{"diff", codrna, credit}, "cbm/codrna_vs_creditgermany.diff.txt"},
      {{"diff", "--json", codrna, credit}, "cbm/codrna_vs_creditgermany.diff.json"},
      {{"diff", codrna, codrna}, "cbm/codrna_vs_itself.diff.txt"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = testing::run_command(c.args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    testing::expect_golden(run.out, c.golden);
  }
}

}  // namespace
}  // namespace tarnwick
