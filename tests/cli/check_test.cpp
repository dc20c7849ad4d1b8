#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "../onnx/proto_builder.h"
#include "base/check_rules.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

TEST(CheckRules, Percentages) {
  for (const char* text : {"20", "20%", "20%%", " 20 ", "+20", "2e1%"})
    EXPECT_EQ(parse_percentage(text).value(), 20.0) << text;
  EXPECT_EQ(parse_percentage("-5").message(), "percentage must be non-negative: -5");
  EXPECT_EQ(parse_percentage("-0").message(), "percentage must be non-negative: -0");
  EXPECT_EQ(parse_percentage("abc").message(), "parse percentage `abc`: invalid float literal");
  EXPECT_EQ(parse_percentage("%").message(), "parse percentage `%`: cannot parse float from empty string");
  EXPECT_EQ(parse_percentage(" 1 0 ").message(), "parse percentage ` 1 0 `: invalid float literal");
  EXPECT_TRUE(std::isinf(parse_percentage("inf").value()));
  EXPECT_TRUE(std::isnan(parse_percentage("NaN").value()));
}

TEST(CheckRules, GrowthChecks) {
  struct Case {
    std::uint64_t old_value, new_value;
    double limit;
    bool passed;
    const char* detail;
  };
  const Case cases[] = {
      {1000, 1200, 20, true, "20.00% <= 20.00% (1000 -> 1200)"},
      {1000, 1201, 20, false, "20.10% <= 20.00% (1000 -> 1201)"},
      {1000, 800, 0, true, "-20.00% <= 0.00% (1000 -> 800)"},
      {0, 10, 1e9, false, "undefined growth from zero baseline (0 -> 10)"},
      {0, 0, 0, true, "0.00% <= 0.00% (0 -> 0)"},
      {10, 10, std::nan(""), false, "0.00% <= NaN% (10 -> 10)"},
      {10, 10, -std::nan(""), false, "0.00% <= NaN% (10 -> 10)"},
      {10, 20, std::numeric_limits<double>::infinity(), true, "100.00% <= inf% (10 -> 20)"},
  };
  for (const Case& c : cases) {
    CheckResult result = growth_check("file size growth", c.old_value, c.new_value, c.limit);
    EXPECT_EQ(result.passed, c.passed) << c.detail;
    EXPECT_EQ(result.detail, c.detail);
  }
}

std::string lightgbm_model(const std::string& names, const std::string& learning_rate, int trees) {
  std::string text = "tree\nversion=v3\nmax_feature_idx=1\nfeature_names=" + names + "\n";
  for (int i = 0; i < trees; ++i) text += "\nTree=" + std::to_string(i) + "\nleaf_value=0.1\n";
  return text + "\nparameters:\n[learning_rate: " + learning_rate + "]\nend of parameters\n";
}

TEST(CheckCommand, ArgumentsKindsAndRefusalsComeBeforeAnyRead) {
  TempDir dir;
  std::string a = dir.write("a.txt", lightgbm_model("x y", "0.1", 1));
  const std::string usage =
      "usage: tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
      "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>";
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"check"}, usage},
      {{"check", "a.cbm"}, usage},
      {{"check", "a.cbm", "b.cbm", "c.cbm"}, usage},
      {{"check", "--jsonl", "a.cbm", "b.cbm"}, "unknown check option `--jsonl`"},
      {{"check", "--json=1", "a.cbm", "b.cbm"}, "unknown check option `--json=1`"},
      {{"check", "--", "a.cbm", "b.cbm"}, "unknown check option `--`"},
      {{"check", "a.cbm", "b.cbm", "--max-size-growth"}, "--max-size-growth needs a percentage"},
      {{"check", "--max-ops-growth", "x", "a.cbm", "b.cbm"}, "parse percentage `x`: invalid float literal"},
      {{"check", "a.cbm", "b.onnx"}, "cannot check different or unsupported artifact types: CatBoost vs ONNX"},
      {{"check", "a.json", "b.json"},
       "check supports CatBoost, LightGBM, ONNX, and PyTorch artifacts, not tensor plan JSON."},
      {{"check", "a.json", "b.cbm"},
       "cannot check different or unsupported artifact types: tensor plan JSON vs CatBoost"},
      {{"check", "--max-ops-growth", "10", "missing1.cbm", "missing2.cbm"},
       "--max-ops-growth is only supported for ONNX artifacts."},
      {{"check", "--fail-on-new-op", "--max-parameter-growth", "1", "m.cbm", "n.cbm"},
       "--max-parameter-growth is only supported for ONNX artifacts."},
      {{"check", "--fail-on-new-op", a, a}, "--fail-on-new-op is only supported for ONNX artifacts."},
      {{"check", "--fail-on-feature-change", "a.onnx", "b.onnx"},
       "--fail-on-feature-change is only supported for CatBoost artifacts."},
      {{"check", "--fail-on-training-config-change", "a.onnx", "b.onnx"},
       "--fail-on-training-config-change is only supported for CatBoost artifacts."},
      {{"check", "--fail-on-training-config-change", "a.pt", "b.pt"},
       "--fail-on-training-config-change is only supported for CatBoost/LightGBM artifacts."},
      {{"check", "--max-ops-growth", "5", "a.pt", "b.pt"}, "--max-ops-growth is only supported for ONNX artifacts."},
      {{"check", "/nonexistent/a.cbm", "/nonexistent/b.cbm"}, "read /nonexistent/a.cbm: No such file or directory"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "") << c.error;
    EXPECT_EQ(run.err, "error: " + c.error + "\n");
  }
}

TEST(CheckCommand, ReportsForLightgbmAndOnnx) {
  TempDir dir;
  std::string old_path = dir.write("old.txt", lightgbm_model("x y", "0.1", 1));
  std::string new_path = dir.write("new.txt", lightgbm_model("x z", "0.2", 3));
  testing::CommandRun run = run_command({"check", "--fail-on-feature-change", old_path, "--max-size-growth", "500",
                                         "--fail-on-training-config-change", new_path});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "error: check failed\n");
  EXPECT_EQ(run.out,
            "Model Check\n"
            "-----------\n"
            "Type: LightGBM\n"
            "Old: old.txt\n"
            "New: new.txt\n"
            "\n"
            "Checks:\n"
            "  PASS file size growth: 36.22% <= 500.00% (127 -> 173)\n"
            "  FAIL feature names unchanged: 2 -> 2 feature names\n"
            "  FAIL training config unchanged: objective/boosting/learning rate/leaves/max depth/metric\n"
            "\n"
            "Status: FAIL\n");

  testing::CommandRun readable = run_command({"check", old_path, old_path});
  EXPECT_EQ(readable.status, 0);
  EXPECT_EQ(readable.err, "");
  EXPECT_NE(readable.out.find("Checks:\n  PASS artifact pair is readable; no check rules were configured\n\n"
                              "Status: PASS\n"),
            std::string::npos);

  using testing::Message;
  using testing::node;
  Message old_graph, new_graph;
  old_graph.add_message(1, node("Relu", "r", {"x"}, {"y"})).add_message(1, node("Gemm", "g", {"x"}, {"y"}));
  new_graph.add_message(1, node("Relu", "r", {"x"}, {"y"}))
      .add_message(1, node("Softmax", "s", {"x"}, {"y"}))
      .add_message(1, node("Erf", "e", {"x"}, {"y"}));
  std::string old_onnx = dir.write("old.onnx", testing::model(old_graph));
  std::string new_onnx = dir.write("new.onnx", testing::model(new_graph));
  testing::CommandRun onnx = run_command({"check", "--fail-on-new-op", "--max-ops-growth", "0", old_onnx, new_onnx});
  EXPECT_EQ(onnx.status, 1);
  // x has no shape anywhere, so neither figure is exact: the notes say so before the status.
  EXPECT_NE(onnx.out.find("  PASS estimated ops growth: 0.00% <= 0.00% (0 -> 0)\n"
                          "  FAIL no new ONNX operators: new operators: Erf, Softmax\n"
                          "\nNote:\n"
                          "  Old model: Estimated ops leave out 2 of 2 nodes with a cost formula: their shapes could "
                          "not be propagated.\n"
                          "  New model: Estimated ops leave out 2 of 2 nodes with a cost formula: their shapes could "
                          "not be propagated.\n"
                          "\nStatus: FAIL\n"),
            std::string::npos)
      << onnx.out;
  testing::CommandRun removed_only =
      run_command({"check", "--fail-on-new-op", new_onnx,
                   dir.write("less.onnx", testing::model(Message().add_message(1, node("Relu", "r", {"x"}, {"y"}))))});
  EXPECT_EQ(removed_only.status, 0);
  EXPECT_NE(removed_only.out.find("  PASS no new ONNX operators: operator set unchanged\n"), std::string::npos);
}

TEST(CheckCommand, NewOperatorRuleCountsTypesNotTheirText) {
  using testing::Message;
  using testing::node;
  TempDir dir;
  std::string relu = dir.write("relu.onnx", testing::model(Message().add_message(1, node("Relu", "r", {"x"}, {"y"}))));
  struct Case {
    std::vector<std::string> new_ops;
    int status;
    std::string line;
  };
  const Case cases[] = {
      {{"Relu", ""}, 1, "  FAIL no new ONNX operators: new operators: \n"},
      {{"", "Erf"}, 1, "  FAIL no new ONNX operators: new operators: , Erf\n"},
      {{"Relu"}, 0, "  PASS no new ONNX operators: operator set unchanged\n"},
      {{"Relu", "Evil\nStatus: PASS"}, 1, "  FAIL no new ONNX operators: new operators: Evil\\nStatus: PASS\n"},
  };
  for (const Case& c : cases) {
    Message graph;
    for (const std::string& op : c.new_ops) graph.add_message(1, node(op, "n", {"x"}, {"y"}));
    std::string new_path = dir.write("new.onnx", testing::model(graph));
    testing::CommandRun run = run_command({"check", "--fail-on-new-op", relu, new_path});
    EXPECT_EQ(run.status, c.status) << c.line;
    EXPECT_NE(run.out.find("Checks:\n" + c.line + "\nStatus: "), std::string::npos) << run.out;
  }
}

TEST(CheckCommand, AModelWithNonFiniteFieldsEqualsItself) {
  TempDir dir;
  struct Case {
    std::string learning_rate, diff_line;
  };
  const Case cases[] = {
      {"nan", "Learning rate:\n  NaN -> NaN (same)\n"},
      {"inf", "Learning rate:\n  inf -> inf (same)\n"},
      {"-inf", "Learning rate:\n  -inf -> -inf (same)\n"},
  };
  for (const Case& c : cases) {
    std::string path = dir.write("m.txt", lightgbm_model("x y", c.learning_rate, 1));
    testing::CommandRun check = run_command({"check", "--fail-on-training-config-change", path, path});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("  PASS training config unchanged: "), std::string::npos) << check.out;
    testing::CommandRun diff = run_command({"diff", path, path});
    EXPECT_NE(diff.out.find(c.diff_line), std::string::npos) << diff.out;
    EXPECT_NE(diff.out.find("  Training config looks unchanged"), std::string::npos) << diff.out;
    testing::CommandRun explained = run_command({"explain-diff", path, path});
    EXPECT_EQ(explained.out.find("training config changed"), std::string::npos) << explained.out;
    EXPECT_EQ(explained.out.find("nan"), std::string::npos) << explained.out;
  }
}

TEST(CheckCommand, CatboostTrainingConfigNeedsBothSidesToRecordAField) {
  TempDir dir;
  std::string with_rate = dir.write("a.cbm", R"(CBM1{"boosting_options":{},"flat_params":{"learning_rate":0.1}})");
  std::string without = dir.write("b.cbm", R"(CBM1{"boosting_options":{},"flat_params":{}})");
  testing::CommandRun run = run_command({"check", "--fail-on-training-config-change", with_rate, without});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("  FAIL training config unchanged: loss/eval metric/learning rate/L2/grow policy/bootstrap\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tarnwick
