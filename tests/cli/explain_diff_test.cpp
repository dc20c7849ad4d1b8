#include <gtest/gtest.h>

#include "../onnx/proto_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::Message;
using testing::node;
using testing::run_command;
using testing::TempDir;

TEST(ExplainDiff, ArgumentsAndKinds) {
  const std::string usage = "usage: tarnwick explain-diff <old-model> <new-model>  (.onnx, .cbm, or .lgb/.txt)";
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"explain-diff"}, usage},
      {{"explain-diff", "a.onnx", "--json"}, usage},
      {{"explain-diff", "a.onnx", "b.onnx", "c.onnx"}, usage},
      {{"explain-diff", "a.json", "b.json"},
       "explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): tensor plan JSON vs "
       "tensor plan JSON"},
      {{"explain-diff", "a.onnx", "b.cbm"},
       "explain-diff needs two artifacts of the same supported type (.onnx, .cbm, .lgb, .pt): ONNX vs CatBoost"},
      {{"explain-diff", "/nonexistent/a.onnx", "/nonexistent/b.onnx"},
       "read /nonexistent/a.onnx: No such file or directory"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: " + c.error + "\n");
  }
}

std::string onnx_with(const std::vector<std::pair<std::string, int>>& ops) {
  Message graph;
  for (const auto& [op, count] : ops) {
    for (int i = 0; i < count; ++i) graph.add_message(1, node(op, "", {"x"}, {"y"}));
  }
  return testing::model(graph);
}

TEST(ExplainDiff, OnnxAttentionEstimatesAndIdenticalFiles) {
  TempDir dir;
  std::string same = dir.write("same.onnx", onnx_with({{"Relu", 2}}));
  testing::CommandRun identical = run_command({"explain-diff", "--json", same, same});
  ASSERT_EQ(identical.status, 0) << identical.err;
  EXPECT_EQ(identical.out,
            "Model Change Explanation\n"
            "------------------------\n"
            "Type: ONNX\n"
            "Old: same.onnx\n"
            "New: same.onnx\n"
            "\n"
            "Architecture:\n"
            "  Attention layers:  unknown -> unknown\n"
            "  Hidden size:       unknown -> unknown\n"
            "  Parameters:        0 -> 0 (same)\n"
            "  Nodes:             2 -> 2 (same)\n"
            "\n"
            "Estimated inference cost (static op proxy): same\n"
            "\n"
            "New operators introduced: none\n"
            "\n"
            "Summary:\n"
            "  Parameters same, estimated cost same.\n"
            "\n"
            "Note: static heuristic over ONNX ops and shapes; cost is an op-count proxy, not measured latency.\n"
            // Neither the file nor the propagation knows x's shape, so the estimate is not exact.
            "Note: Old model: Estimated ops leave out 2 of 2 nodes with a cost formula: their shapes could not be "
            "propagated.\n"
            "Note: New model: Estimated ops leave out 2 of 2 nodes with a cost formula: their shapes could not be "
            "propagated.\n");

  std::string softmax = dir.write("softmax.onnx", onnx_with({{"Softmax", 12}, {"Relu", 1}}));
  std::string norms = dir.write("norms.onnx", onnx_with({{"LayerNormalization", 25}}));
  std::string one_norm = dir.write("one.onnx", onnx_with({{"LayerNormalization", 1}}));
  testing::CommandRun grew = run_command({"explain-diff", softmax, norms});
  EXPECT_NE(grew.out.find("  Attention layers:  12 -> 12\n"), std::string::npos);
  EXPECT_NE(grew.out.find("New operators introduced:\n  LayerNormalization\nOperators removed:\n  Relu\n  Softmax\n"),
            std::string::npos);
  testing::CommandRun shrank = run_command({"explain-diff", norms, one_norm});
  EXPECT_NE(shrank.out.find("  Attention layers:  12 -> unknown\n"), std::string::npos);
  testing::CommandRun verdict = run_command({"explain-diff", one_norm, softmax});
  EXPECT_NE(verdict.out.find("Summary:\n  Parameters same, estimated cost same.\n"), std::string::npos);
  testing::CommandRun layers =
      run_command({"explain-diff", dir.write("two.onnx", onnx_with({{"Softmax", 2}})), softmax});
  EXPECT_NE(
      layers.out.find("Summary:\n  Grew from ~2 to ~12 attention layers; parameters same, estimated cost same.\n"),
      std::string::npos);
}

std::string lightgbm_model(int trees, const std::string& names = "a b") {
  std::string text = "tree\nversion=v3\nmax_feature_idx=1\nfeature_names=" + names + "\n";
  for (int i = 0; i < trees; ++i) text += "\nTree=" + std::to_string(i) + "\nleaf_value=0.1\n";
  return text + "\nparameters:\n[num_leaves: 31]\n[learning_rate: 0.1]\nend of parameters\n";
}

TEST(ExplainDiff, TreeModelVerdicts) {
  TempDir dir;
  std::string hundred = dir.write("a.txt", lightgbm_model(100));
  testing::CommandRun more_trees = run_command({"explain-diff", hundred, dir.write("b.txt", lightgbm_model(150))});
  ASSERT_EQ(more_trees.status, 0) << more_trees.err;
  EXPECT_NE(
      more_trees.out.find("Summary:\n  same spec, retrained with more/fewer trees; trees +50%, features unchanged.\n"),
      std::string::npos);
  testing::CommandRun identical = run_command({"explain-diff", hundred, hundred});
  EXPECT_NE(identical.out.find("Learned state: unchanged (identical leaf values)\n\nSummary:\n"
                               "  same spec and features, retrained; trees same, features unchanged.\n"),
            std::string::npos);
  testing::CommandRun renamed =
      run_command({"explain-diff", hundred, dir.write("c.txt", lightgbm_model(100, "a c d"))});
  EXPECT_NE(renamed.out.find("  Features:          2 -> 2 (+2 added, -1 removed)\n    added:   c, d\n    removed: b\n"),
            std::string::npos);
  EXPECT_NE(renamed.out.find("  feature set changed; trees same, features +2/-1.\n"), std::string::npos);

  std::string deep = dir.write("d.cbm", R"(CBM1{"boosting_options":{},"flat_params":{"iterations":10,"depth":6}})");
  std::string shallow = dir.write("s.cbm", R"(CBM1{"boosting_options":{},"flat_params":{"iterations":10}})");
  testing::CommandRun catboost = run_command({"explain-diff", deep, shallow});
  ASSERT_EQ(catboost.status, 0) << catboost.err;
  testing::expect_golden(catboost.out, "main/catboost_depth_lost.explain-diff.txt");
  EXPECT_NE(catboost.out.find("Estimated leaf-slot growth: unknown\n"), std::string::npos);
  EXPECT_NE(catboost.out.find("  same spec, retrained with different tree count/depth.\n"), std::string::npos);
}

TEST(ExplainDiff, CorpusPairs) {
  TARNWICK_REQUIRE_CORPUS("");
  struct Case {
    const char* old_path;
    const char* new_path;
    const char* golden;
  };
  const Case cases[] = {
      {"catboost/codrna.cbm", "catboost/creditgermany.cbm", "main/codrna_vs_creditgermany.explain-diff.txt"},
      {"lightgbm/mtpl2.txt", "lightgbm/mtpl2_small.txt", "main/mtpl2_vs_small.explain-diff.txt"},
      {"pytorch/mlp.pt", "pytorch/mlp_retrained.pt", "main/mlp_vs_retrained.explain-diff.txt"},
      {"pytorch/mlp.pt", "pytorch/mlp_wider.pt", "main/mlp_vs_wider.explain-diff.txt"},
      {"pytorch/mlp_legacy.pth", "pytorch/mlp.pt", "main/mlp_legacy_vs_zip.explain-diff.txt"},
      {"pytorch/mlp.onnx", "pytorch/encoder.onnx", "main/mlp_vs_encoder.explain-diff.txt"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run =
        run_command({"explain-diff", (corpus / c.old_path).string(), (corpus / c.new_path).string()});
    ASSERT_EQ(run.status, 0) << run.err;
    testing::expect_golden(run.out, c.golden);
  }
}

}  // namespace
}  // namespace tarnwick
