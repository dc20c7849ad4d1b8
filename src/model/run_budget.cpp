#include "model/run_budget.h"

#include <optional>

#include "base/format.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kSaturated = ~std::uint64_t{0};

std::uint64_t mul(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? kSaturated : product;
}

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum;
  return __builtin_add_overflow(a, b, &sum) ? kSaturated : sum;
}

std::uint64_t tensor_bytes(const Shape& shape) {
  std::uint64_t values = 1;
  for (std::uint64_t dim : shape) values = mul(values, dim);
  return mul(values, 4);
}

// Adds one layer's cost and returns its output shape, or nothing when the shapes do not fit.
class CostWalk {
 public:
  std::optional<Shape> layer(const LayerKind& kind, const Shape& input) {
    return std::visit([&](const auto& layer) { return step(layer, input); }, kind);
  }
  RunCost cost;

 private:
  std::optional<Shape> step(const LinearLayer& linear, const Shape& input) {
    const Shape& w = linear.weights.shape;
    if (input.size() != 2 || w.size() != 2 || input[1] != w[0]) return std::nullopt;
    Shape output{input[0], w[1]};
    cost.multiply_adds = add(cost.multiply_adds, mul(mul(input[0], w[0]), w[1]));
    charge({&w, &linear.bias.shape, &output});
    return output;
  }
  std::optional<Shape> step(const AttentionLayer& attention, const Shape& input) {
    const Shape &q = attention.wq.shape, &k = attention.wk.shape, &v = attention.wv.shape;
    if (input.size() != 2 || q.size() != 2 || k.size() != 2 || v.size() != 2) return std::nullopt;
    if (q[0] != input[1] || k[0] != input[1] || v[0] != input[1] || q[1] != k[1]) return std::nullopt;
    std::uint64_t tokens = input[0], features = input[1];
    Shape projected_q{tokens, q[1]}, projected_k{tokens, k[1]}, projected_v{tokens, v[1]}, scores{tokens, tokens};
    Shape output{tokens, v[1]};
    std::uint64_t work = mul(mul(tokens, features), add(add(q[1], k[1]), v[1]));
    work = add(work, mul(mul(tokens, tokens), add(q[1], v[1])));
    cost.multiply_adds = add(cost.multiply_adds, work);
    // Scores appear three times (raw, scaled, softmax) and the projections once each.
    charge({&q, &k, &v, &projected_q, &projected_k, &projected_v, &scores, &scores, &scores, &output});
    return output;
  }
  template <class Elementwise>
  std::optional<Shape> step(const Elementwise&, const Shape& input) {
    cost.multiply_adds = add(cost.multiply_adds, tensor_bytes(input) / 4);
    charge({&input});
    return input;
  }
  void charge(std::initializer_list<const Shape*> shapes) {
    for (const Shape* shape : shapes) cost.tensor_bytes = add(cost.tensor_bytes, tensor_bytes(*shape));
  }
};

}  // namespace

RunCost estimate_run_cost(const Model& model) {
  CostWalk walk;
  walk.cost.tensor_bytes = tensor_bytes(model.input.shape);
  std::optional<Shape> current = model.input.shape;
  for (const Layer& layer : model.layers) {
    current = walk.layer(layer.kind, *current);
    if (!current) break;
  }
  return walk.cost;
}

Status check_run_budget(const Model& model, std::uint64_t iterations, std::uint64_t work_budget) {
  RunCost cost = estimate_run_cost(model);
  if (cost.tensor_bytes > kRunMemoryBudget) {
    return fail("plan needs about " + format_bytes(cost.tensor_bytes) + " of tensors to run (" +
                std::to_string(cost.tensor_bytes) + " bytes), over the tensor lab's budget of " +
                format_bytes(kRunMemoryBudget) + "; shape-only commands such as `validate` and `trace` still work");
  }
  std::uint64_t work = mul(cost.multiply_adds, iterations);
  if (work > work_budget) {
    std::string runs = iterations == 1 ? "a run" : std::to_string(iterations) + " runs";
    return fail("plan needs about " + std::to_string(work) + " multiply-adds for " + runs +
                ", over the tensor lab's budget of " + std::to_string(work_budget) +
                "; shape-only commands such as `validate` and `trace` still work");
  }
  return Status::ok();
}

}  // namespace tarnwick
