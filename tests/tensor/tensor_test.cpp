#include "tensor/tensor.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tensor/forward.h"

namespace tarnwick {
namespace {

Tensor make(Shape shape, std::vector<float> data) { return Tensor::create(std::move(shape), std::move(data)).take(); }

TEST(Tensor, ConstructionRule) {
  EXPECT_EQ(Tensor::create({2, 3}, {1, 2, 3, 4, 5}).message(), "shape [2, 3] expects 6 values, got 5");
  EXPECT_TRUE(Tensor::create({}, {1}).is_ok());
  EXPECT_EQ(Tensor::create({}, {}).message(), "shape [] expects 1 values, got 0");
  EXPECT_TRUE(Tensor::create({0, 4}, {}).is_ok());
  EXPECT_FALSE(Tensor::create({1ULL << 32, 1ULL << 32}, {}).is_ok()) << "a wrapping product is no match for 0 values";
  EXPECT_EQ(shape_text({}), "[]");
  EXPECT_EQ(shape_text({2, 3}), "[2, 3]");
  EXPECT_EQ(Tensor::zeros({2, 2}).data, std::vector<float>(4, 0.0f));
}

TEST(Tensor, OperationsAndTheirRefusals) {
  Tensor a = make({2, 3}, {1, 2, 3, 4, 5, 6});
  Tensor b = make({3, 2}, {1, 0, 0, 1, 1, 1});
  EXPECT_EQ(matmul(a, b).value().output.data, (std::vector<float>{4, 5, 10, 11}));
  EXPECT_EQ(matmul(make({2, 4}, std::vector<float>(8)), make({3, 8}, std::vector<float>(24))).message(),
            "cannot matmul [2, 4] @ [3, 8]; inner dimensions differ");
  EXPECT_EQ(matmul(make({3}, {1, 2, 3}), b).message(), "matmul currently expects rank-2 tensors");
  EXPECT_EQ(matmul(make({2, 0}, {}), make({0, 3}, {})).value().output.data, std::vector<float>(6, 0.0f));

  Tensor bias = make({3}, {10, 20, 30});
  EXPECT_EQ(add(a, bias).value().output.data, (std::vector<float>{11, 22, 33, 14, 25, 36}));
  EXPECT_EQ(add(a, make({2}, {1, 2})).message(), "cannot add [2, 3] and [2]");
  EXPECT_EQ(add(bias, bias).value().output.data, (std::vector<float>{20, 40, 60}));
  EXPECT_EQ(add(make({}, {1}), make({1}, {1})).message(), "cannot add [] and [1]");

  OpResult transposed = transpose2d(a).take();
  EXPECT_EQ(transposed.output.shape, (Shape{3, 2}));
  EXPECT_EQ(transposed.output.data, (std::vector<float>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(transpose2d(bias).message(), "transpose2d expects a rank-2 tensor");

  EXPECT_EQ(relu(make({3}, {-0.5f, 2.0f, NAN})).output.data, (std::vector<float>{0.0f, 2.0f, 0.0f}));
  EXPECT_EQ(scale(bias, 0.5f).output.data, (std::vector<float>{5, 10, 15}));
}

TEST(Tensor, SoftmaxAndGelu) {
  std::vector<float> uniform = softmax(make({2, 4}, std::vector<float>(8, 3.0f))).value().output.data;
  for (float p : uniform) EXPECT_FLOAT_EQ(p, 0.25f);
  EXPECT_EQ(softmax(make({1, 2}, {1000, 1000})).value().output.data, (std::vector<float>{0.5f, 0.5f}));
  std::vector<float> rows = softmax(make({2, 3}, {1, 2, 3, -1, 0, 9})).value().output.data;
  EXPECT_NEAR(rows[0] + rows[1] + rows[2], 1.0f, 1e-6);
  EXPECT_NEAR(rows[3] + rows[4] + rows[5], 1.0f, 1e-6);
  EXPECT_EQ(softmax(make({}, {1})).message(), "softmax needs at least one dimension");
  EXPECT_TRUE(softmax(make({2, 0}, {})).value().output.data.empty());

  std::vector<float> g = gelu(make({4}, {0.0f, 10.0f, -10.0f, 1.0f})).output.data;
  EXPECT_EQ(g[0], 0.0f);
  EXPECT_NEAR(g[1], 10.0f, 1e-5);
  EXPECT_NEAR(g[2], 0.0f, 1e-5);
  EXPECT_NEAR(g[3], 0.841192f, 1e-5);
}

TEST(Tensor, ValuesPrintout) {
  EXPECT_EQ(format_values("Q", make({2, 2}, {1.0f, -1.25f, 0.5f, 0.0f})),
            "  Q values:\n    [1.0000, -1.2500]\n    [0.5000, 0.0000]");
  EXPECT_EQ(format_values("b", make({3}, {0.5f, 1, 2})), "  b values: [0.5000, 1.0000, 2.0000]");
  EXPECT_EQ(format_values("e", make({0, 3}, {})), "  e values:\n");
  EXPECT_EQ(format_values("z", make({2, 0}, {})), "  z values:\n    []\n    []");
}

TEST(Tensor, AttentionForwardPassKeepsItsIntermediates) {
  Tensor x = make({2, 2}, {1.0f, 0.0f, 0.5f, 1.0f});
  AttentionForward pass =
      attention_forward(x, make({2, 2}, {1.0f, 0.2f, 0.0f, 0.8f}), make({2, 2}, {0.7f, 0.1f, 0.3f, 1.0f}),
                        make({2, 2}, {1.0f, -0.4f, 0.2f, 0.9f}))
          .take();
  const float expected_q[] = {1.0f, 0.2f, 0.5f, 0.9f};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(pass.q.data[i], expected_q[i], 1e-6);
  EXPECT_NEAR(pass.scaled.data[0], pass.scores.data[0] / std::sqrt(2.0f), 1e-6);
  EXPECT_NEAR(pass.attention.data[0] + pass.attention.data[1], 1.0f, 1e-6);
  EXPECT_EQ(pass.output.shape, (Shape{2, 2}));
}

}  // namespace
}  // namespace tarnwick
