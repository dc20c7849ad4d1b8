#include <gtest/gtest.h>

#include "model/model.h"
#include "model/run_budget.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;

// input [1, 4096], linear out 11008, GELU, linear out 4096: an ordinary LLM feed-forward block.
const char* kFeedForward =
    R"({"input_shape":[1,4096],"layers":[{"type":"linear","out":11008},{"type":"gelu"},{"type":"linear","out":4096}]})";
const char* kSquare4096 = R"({"input_shape":[4096,4096],"layers":[{"type":"linear","out":4096}]})";

std::string ten_linear_layers() {
  std::string layers;
  for (int i = 0; i < 10; ++i) layers += std::string(i ? "," : "") + R"({"type":"linear","out":4096})";
  return R"({"input_shape":[1,4096],"layers":[)" + layers + "]}";
}

std::uint64_t materialized_values(const Model& model) {
  std::uint64_t values = model.input.data.size();
  for (const Layer& layer : model.layers) {
    if (const auto* linear = std::get_if<LinearLayer>(&layer.kind)) {
      values += linear->weights.data.size() + linear->bias.data.size();
    }
    if (const auto* attention = std::get_if<AttentionLayer>(&layer.kind)) {
      values += attention->wq.data.size() + attention->wk.data.size() + attention->wv.data.size();
    }
  }
  return values;
}

TEST(ShapeOnlyPlans, LargePlansLoadWithoutAllocatingTheirZeros) {
  const std::string plans[] = {kFeedForward, kSquare4096, ten_linear_layers(),
                               R"({"input_shape":[100000,100000],"layers":[]})"};
  for (const std::string& plan : plans) {
    Result<Model> model = load_model_text("plan.json", plan);
    ASSERT_TRUE(model.is_ok()) << model.message();
    EXPECT_EQ(materialized_values(model.value()), 0u) << plan;
    EXPECT_TRUE(model.value().input.deferred_zeros);
  }
  Result<Model> feed_forward = load_model_text("plan.json", kFeedForward);
  const auto& first = std::get<LinearLayer>(feed_forward.value().layers[0].kind);
  EXPECT_EQ(first.weights.bytes(), 4u * 4096 * 11008) << "reports still see the full size";
}

TEST(ShapeOnlyPlans, AnalysisCommandsAcceptAnLlmSizedPlan) {
  testing::TempDir dir;
  std::string plan = dir.write("ffn.json", kFeedForward);
  for (const char* command : {"validate", "trace", "compare", "why", "tensor-inspect", "explain-model"}) {
    testing::CommandRun run = run_command({command, plan});
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    EXPECT_EQ(run.err, "") << command;
  }
  EXPECT_NE(run_command({"trace", plan}).out.find("[1, 11008]"), std::string::npos);
}

TEST(ShapeOnlyPlans, RunAndBenchRefusePlansOverTheirBudget) {
  testing::TempDir dir;
  struct Case {
    std::string plan;
    std::vector<std::string> args;  // the plan path goes last
    std::string error;
  };
  const Case cases[] = {
      {kSquare4096,
       {"run"},
       "error: plan needs about 68719476736 multiply-adds for a run, over the tensor lab's budget of 1073741824; "
       "shape-only commands such as `validate` and `trace` still work\n"},
      {kSquare4096,
       {"bench"},
       "error: plan needs about 68719476736 multiply-adds for a run, over the tensor lab's budget of 1073741824; "
       "shape-only commands such as `validate` and `trace` still work\n"},
      {ten_linear_layers(),
       {"run"},
       "error: plan needs about 640.3 MiB of tensors to run (671432704 bytes), over the tensor lab's budget of "
       "256.0 MiB; shape-only commands such as `validate` and `trace` still work\n"},
      {R"({"input_shape":[2048,2048],"layers":[{"type":"linear","out":1024}]})",
       {"run"},
       "error: plan needs about 4294967296 multiply-adds for a run, over the tensor lab's budget of 1073741824; "
       "shape-only commands such as `validate` and `trace` still work\n"},
      {kFeedForward,
       {"bench", "--iters", "100"},
       "error: plan needs about 344.2 MiB of tensors to run (360891392 bytes), over the tensor lab's budget of "
       "256.0 MiB; shape-only commands such as `validate` and `trace` still work\n"},
      {R"({"input_shape":[64,1024],"layers":[{"type":"linear","out":1024}]})",
       {"bench", "--iters", "1000"},
       "error: plan needs about 67108864000 multiply-adds for 1000 runs, over the tensor lab's budget of "
       "17179869184; shape-only commands such as `validate` and `trace` still work\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(dir.write("plan.json", c.plan));
    testing::CommandRun run = run_command(args);
    EXPECT_EQ(run.status, 1) << c.plan;
    EXPECT_EQ(run.err, c.error) << c.plan;
  }
}

TEST(ShapeOnlyPlans, RunCostFollowsTheShapes) {
  struct Case {
    std::string plan;
    std::uint64_t multiply_adds;
    std::uint64_t tensor_bytes;
  };
  const Case cases[] = {
      // input 4096 + weights 4096*11008 + bias 11008 + out 11008 + gelu 11008 + weights 11008*4096 + bias + out.
      {kFeedForward, 2 * 4096ull * 11008 + 11008,
       4 * (4096ull + 4096 * 11008 + 3 * 11008 + 11008ull * 4096 + 2 * 4096)},
      // tokens 3, features 4, head 2: projections 3*4*(2+2+2), scores and mix 3*3*(2+2).
      {R"({"input_shape":[3,4],"layers":[{"type":"self_attention","head_dim":2}]})", 3 * 4 * 6 + 3 * 3 * 4,
       4 * (12 + 3 * 8 + 3 * 6 + 3 * 9 + 6)},
      // The second layer does not fit the first one's output: counting stops there.
      {R"({"input":{"shape":[1,2],"data":[1,2]},"layers":[{"type":"linear","weights":{"shape":[2,3],"data":[1,2,3,4,5,6]},"out":3},
          {"type":"linear","weights":{"shape":[5,1],"data":[1,2,3,4,5]},"out":1}]})",
       6, 4 * (2 + 6 + 3 + 3)},
  };
  for (const Case& c : cases) {
    Result<Model> model = load_model_text("plan.json", c.plan);
    ASSERT_TRUE(model.is_ok()) << model.message();
    RunCost cost = estimate_run_cost(model.value());
    EXPECT_EQ(cost.multiply_adds, c.multiply_adds) << c.plan;
    EXPECT_EQ(cost.tensor_bytes, c.tensor_bytes) << c.plan;
  }
}

}  // namespace
}  // namespace tarnwick
