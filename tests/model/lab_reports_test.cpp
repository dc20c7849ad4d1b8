#include <gtest/gtest.h>

#include <regex>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::example;
using testing::run_command;
using testing::TempDir;

// Timings differ from run to run; the rest of a report is fixed.
std::string without_timings(const std::string& text) {
  return std::regex_replace(text, std::regex("[0-9]+\\.[0-9]+ ms"), "<t> ms");
}

TEST(LabReports, ExamplePlansWholeOutputs) {
  struct Case {
    std::vector<std::string> args;
    const char* golden;
  };
  const Case cases[] = {
      {{"validate", example("mlp.json")}, "lab/mlp.validate.txt"},
      {{"trace", example("tiny_attention_plan.json")}, "lab/tiny_attention_plan.trace.txt"},
      {{"summary", example("tiny_attention.json")}, "lab/tiny_attention.trace.txt"},
      {{"compare", example("tiny_attention_plan.json")}, "lab/tiny_attention_plan.compare.txt"},
      {{"why", example("tiny_attention_plan.json")}, "lab/tiny_attention_plan.why.txt"},
      {{"tensor-inspect", example("mlp.json")}, "lab/mlp.tensor-inspect.txt"},
      {{"inspect", example("tiny_attention.json")}, "lab/tiny_attention.tensor-inspect.txt"},
      {{"explain-model", example("tiny_attention.json")}, "lab/tiny_attention.explain-model.txt"},
      {{"explain", example("mlp.json")}, "lab/mlp.explain-model.txt"},
      {{"run", "--values", example("mlp.json")}, "lab/mlp.run-values.txt"},
      {{"run", example("tiny_attention.json"), "--heatmap", "--values"}, "lab/tiny_attention.run-heatmap.txt"},
      {{"demo", "--values"}, "lab/demo-attention-values.txt"},
      {{"explain"}, "lab/explain-attention.txt"},
      {{"explain", "transformer", "--memory"}, "lab/explain-transformer-memory.txt"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    ASSERT_EQ(run.status, 0) << c.golden << ": " << run.err;
    EXPECT_EQ(run.err, "");
    testing::expect_golden(without_timings(run.out), c.golden);
  }
  EXPECT_EQ(run_command({"walkthrough", example("mlp.json")}).out,
            run_command({"explain-model", example("mlp.json")}).out);
  EXPECT_EQ(run_command({"explain", "tiny-transformer"}).out, run_command({"explain", "transformer"}).out);
}

TEST(LabReports, BrokenPlanFailsValidationWithTheReport) {
  for (const char* command : {"validate", "trace", "compare", "why", "tensor-inspect", "quiz", "explain-model"}) {
    testing::CommandRun run = run_command({command, example("broken_shape.json")});
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.out, "") << command;
    EXPECT_TRUE(
        run.err.starts_with("error: Validation failed\n\nLayer: decoder\nProblem:\n  Cannot multiply input [1, 8] "
                            "by weights [6, 2].\n"))
        << run.err;
  }
  testing::CommandRun run = run_command({"run", example("broken_shape.json")});
  EXPECT_EQ(run.err, "error: cannot matmul [1, 8] @ [6, 2]; inner dimensions differ\n");
}

TEST(LabReports, EdgesOfTraceCompareWhyAndRun) {
  TempDir dir;
  std::string empty = dir.write("empty.json", R"({"name": "empty", "input_shape": [2, 3], "layers": []})");
  testing::CommandRun trace = run_command({"trace", empty});
  EXPECT_NE(trace.out.find("Execution Plan:\n  input\n\nEstimated Cost: 0 ops\nEstimated Memory: 0 B\nHot Path:\n"
                           "  none (0.0%)\n\nLargest Tensor:\n  input\n  shape [2, 3]\n  memory 24 B\n"),
            std::string::npos)
      << trace.out;
  EXPECT_TRUE(trace.out.ends_with("Potential Bottlenecks:\n"));

  std::string twins = dir.write("twins.json", R"({"input_shape": [2, 2], "layers": [{"type": "relu", "name": "a"},
      {"type": "gelu", "name": "b"}]})");
  testing::CommandRun tied = run_command({"trace", twins});
  EXPECT_NE(tied.out.find("Hot Path:\n  b: GELU (50.0%)\n"), std::string::npos);
  EXPECT_TRUE(tied.out.ends_with("Potential Bottlenecks:\n  a: ReLU (4) ops\n  b: GELU (4) ops\n"));
  testing::CommandRun compare_tied = run_command({"compare", twins});
  EXPECT_TRUE(compare_tied.out.ends_with("\nb (gelu) consumes 50.0% of compute.\n"));

  std::string zero = dir.write("zero.json", R"({"input_shape": [0, 3], "layers": [{"type": "relu", "name": "r"}]})");
  EXPECT_NE(run_command({"compare", zero})
                .out.find("r (relu)                                    0          0 B       0.0%\n"),
            std::string::npos);

  testing::CommandRun why = run_command({"why", example("mlp.json")});
  EXPECT_EQ(
      why.out,
      "Why is attention expensive?\n---------------------------\nModel: tiny-mlp\n\nNo self-attention layers found.\n");
  testing::CommandRun no_heatmap = run_command({"run", "--heatmap", example("mlp.json")});
  EXPECT_EQ(no_heatmap.out.find("heatmap"), std::string::npos);

  std::string two_labels = dir.write(
      "labels.json", R"({"input": {"shape": [1, 2], "data": [0.2, 0.8]}, "labels": ["no", "yes"], "layers": []})");
  EXPECT_TRUE(run_command({"run", two_labels}).out.ends_with("Output: [0.2000, 0.8000]\nPrediction: yes\n"));
  std::string one_label =
      dir.write("label.json", R"({"input": {"shape": [3], "data": [0.2, 0.8, 0.8]}, "labels": ["no"], "layers": []})");
  EXPECT_TRUE(run_command({"run", one_label}).out.ends_with("Prediction: class_2\n")) << "ties go to the later index";
}

TEST(LabReports, CommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string error;
  };
  const Case cases[] = {
      {{"run"}, "usage: tarnwick run examples/mlp.json [--values] [--heatmap]"},
      {{"run", "--values"}, "usage: tarnwick run examples/mlp.json [--values] [--heatmap]"},
      {{"run", "a.json", "b.json"}, "unexpected argument `b.json`"},
      {{"bench"}, "usage: tarnwick bench examples/mlp.json [--iters 1000]"},
      {{"bench", "--iters", "5"}, "usage: tarnwick bench examples/mlp.json"},
      {{"bench", "a.json", "--iters"}, "--iters needs a number"},
      {{"bench", "a.json", "--iters", "0"}, "--iters must be greater than 0"},
      {{"bench", "a.json", "--iters", "x"}, "parse --iters: invalid digit found in string"},
      {{"validate"}, "usage: tarnwick validate examples/mlp.json"},
      {{"trace"}, "usage: tarnwick trace examples/tiny_attention.json"},
      {{"summary"}, "usage: tarnwick trace examples/tiny_attention.json"},
      {{"compare"}, "usage: tarnwick compare examples/tiny_attention.json"},
      {{"why"}, "usage: tarnwick why examples/tiny_attention.json"},
      {{"tensor-inspect"}, "usage: tarnwick tensor-inspect examples/mlp.json"},
      {{"quiz"}, "usage: tarnwick quiz examples/mlp.json"},
      {{"explain-model"}, "usage: tarnwick explain-model examples/tiny_attention.json"},
      {{"walkthrough"}, "usage: tarnwick explain-model examples/tiny_attention.json"},
      {{"validate", "a.json", "b.json"}, "unexpected argument `b.json`"},
      {{"demo", "other"}, "unknown demo `other`. Try `tarnwick demo attention`."},
      {{"demo", "attention", "again"}, "unexpected argument `again`"},
      {{"explain", "Attention"}, "unknown topic `Attention`"},
      {{"explain", "attention", "softmax"}, "unexpected argument `softmax`"},
  };
  for (const Case& c : cases) {
    testing::CommandRun run = run_command(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: " + c.error + "\n");
  }
  testing::CommandRun bench = run_command({"bench", example("mlp.json"), "--iters", "3"});
  ASSERT_EQ(bench.status, 0) << bench.err;
  EXPECT_EQ(without_timings(bench.out),
            "Benchmark: tiny-mlp\nIterations: 3\nTotal time: <t> ms\nAverage time: <t> ms\n"
            "Last output: [0.1695, 0.2528, 0.5777]\nLast prediction: bird\n");
  // The default count, on the cheapest plan: a thousand attention passes are slow under sanitizers.
  EXPECT_NE(run_command({"bench", example("mlp.json")}).out.find("Iterations: 1000\n"), std::string::npos);
  testing::CommandRun shape_only = run_command({"bench", example("tiny_attention_plan.json"), "--iters", "1"});
  EXPECT_EQ(shape_only.status, 0) << shape_only.err;
  EXPECT_NE(shape_only.out.find("Benchmark: tiny-attention-plan\nIterations: 1\n"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
