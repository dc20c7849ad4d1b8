#include <gtest/gtest.h>

#include "test_support.h"

namespace tarnwick {
namespace {

using testing::example;
using testing::run_command;

TEST(Quiz, ScriptedAnswersRightWrongAndEndOfInput) {
  testing::CommandRun run = run_command({"quiz", example("mlp.json")}, "[1,8]\n[ 1, 8 ]\n[1 3]\n");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "Shape quiz: tiny-mlp\n"
      "Type shapes like [1, 8].\n"
      "\n"
      "Question 1: hidden (Linear)\n"
      "  input: [1, 4]\n"
      "  weights: [4, 8]\n"
      "  bias: [8]\n"
      "output shape> Correct.\n"
      "Why: [batch, in_features] @ [in_features, out_features] -> [batch, out_features], so [1, 4] @ [4, 8] -> [1, 8]\n"
      "\n"
      "Question 2: hidden_relu (ReLU)\n"
      "  input: [1, 8]\n"
      "output shape> Correct.\n"
      "Why: ReLU is element-wise, so it keeps the same shape.\n"
      "\n"
      "Question 3: classifier (Linear)\n"
      "  input: [1, 8]\n"
      "  weights: [8, 3]\n"
      "  bias: [3]\n"
      "output shape> Answer: [1, 3]\n"
      "Why: [batch, in_features] @ [in_features, out_features] -> [batch, out_features], so [1, 8] @ [8, 3] -> [1, 3]\n"
      "\n"
      "Question 4: probabilities (Softmax)\n"
      "  input: [1, 3]\n"
      "output shape> Answer: [1, 3]\n"
      "Why: Softmax normalizes over a dimension but keeps the same tensor shape.\n"
      "\n"
      "Score: 2/4\n");

  testing::TempDir dir;
  std::string empty = dir.write("empty.json", R"({"name": "none", "input_shape": [1], "layers": []})");
  EXPECT_EQ(run_command({"quiz", empty}).out, "Shape quiz: none\nType shapes like [1, 8].\n\nScore: 0/0\n");
}

TEST(TopicLessons, StepModeViewsAndQuiz) {
  testing::CommandRun step = run_command({"explain", "softmax", "--step", "--quiz"}, "\n[3,5]\n");
  ASSERT_EQ(step.status, 0) << step.err;
  EXPECT_EQ(step.out,
            "tarnwick step mode. Press Enter for each operation.\n"
            "\n"
            "Step 1: normalize last dimension\n"
            "  input: [4, 4], output: [4, 4]\n"
            "  same shape, same output size; implementations may reuse buffers\n"
            "  softmax(x_i) = exp(x_i - max(x)) / sum(exp(x_j - max(x)))\n"
            "  PyTorch: probs = torch.softmax(scores, dim=-1)\n"
            "  Subtracting the row max improves numerical stability.\n"
            "\n"
            "next> Quiz\n"
            "----\n"
            "Softmax over last dim keeps shape [3, 5] as what?\n"
            "> Correct.\n");
  EXPECT_TRUE(run_command({"explain", "tensor", "--quiz"}, "24\n").out.ends_with("> Correct.\n"));
  EXPECT_TRUE(run_command({"explain", "matmul", "--quiz"}, "").out.ends_with("> Answer: [4, 2]\n"));
  testing::CommandRun math = run_command({"explain", "--math", "linear", "--shapes"});
  EXPECT_EQ(math.out,
            "Linear layer: matmul plus bias\n------------------------------\nStep 1: matrix multiply\n"
            "  x: [1, 4], W: [4, 8], x @ W: [1, 8]\n\nStep 2: add bias\n  bias: [8] broadcasts across batch rows\n\n");
  testing::CommandRun demo = run_command({"demo", "--step"}, "");
  EXPECT_EQ(demo.status, 0);
  EXPECT_NE(demo.out.find("\nnext> Step 2: create Q, K, V\n"), std::string::npos);
}

}  // namespace
}  // namespace tarnwick
