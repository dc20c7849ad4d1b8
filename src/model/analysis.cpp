#include "model/analysis.h"

#include <algorithm>
#include <iterator>

namespace tarnwick {

namespace {

using Lines = std::vector<std::string>;

Error validation_failed(const std::string& layer, const std::string& problem) {
  return fail("Validation failed\n\nLayer: " + layer + "\nProblem:\n  " + problem);
}

class Analyzer {
 public:
  explicit Analyzer(const Model& model) : shape_(model.input.shape) {
    result_.peak_activation_bytes = 4 * shape_product(shape_);
    result_.path.push_back("input");
    result_.shape_flow.emplace_back("input", shape_text(shape_));
  }

  Status visit(const Layer& layer, std::size_t position) {
    position_ = position;
    Result<Shape> output = std::visit([&](const auto& kind) { return analyze(layer, kind); }, layer.kind);
    if (!output.is_ok()) return output.error();
    result_.shape_flow.emplace_back(layer.name, shape_text(output.value()));
    shape_ = output.take();
    return Status::ok();
  }

  ModelAnalysis take() {
    result_.param_bytes = 4 * result_.total_params;
    return std::move(result_);
  }

 private:
  void record(const Layer& layer, std::uint64_t params, std::uint64_t ops, std::uint64_t activation,
              std::uint64_t cost_bytes, const std::string& ops_label, const std::string& cost_label) {
    result_.total_params += params;
    result_.total_ops += ops;
    result_.peak_activation_bytes = std::max(result_.peak_activation_bytes, activation);
    result_.ops.push_back({layer.name + ops_label, ops});
    result_.layer_costs.push_back({layer.name + cost_label, ops, cost_bytes});
  }

  void add_blocks(TextBlock explanation, TextBlock walkthrough, QuizQuestion question) {
    explanation.position = walkthrough.position = position_;
    result_.explanations.push_back(std::move(explanation));
    result_.walkthrough.push_back(std::move(walkthrough));
    result_.quiz.push_back(std::move(question));
  }

  Result<Shape> analyze(const Layer& layer, const LinearLayer& linear) {
    const Shape &w = linear.weights.shape, &b = linear.bias.shape;
    if (shape_.size() != 2) {
      return validation_failed(
          layer.name, "Linear expects rank-2 input [batch, in_features].\n  Got input " + shape_text(shape_) + ".");
    }
    if (w.size() != 2) {
      return validation_failed(
          layer.name,
          "Linear weights must be rank-2 [in_features, out_features].\n  Got weights " + shape_text(w) + ".");
    }
    std::uint64_t batch = shape_[0], in = shape_[1], rows = w[0], out = w[1];
    if (in != rows) {
      return validation_failed(
          layer.name,
          "Cannot multiply input " + shape_text(shape_) + " by weights " + shape_text(w) +
              ".\n\nWhy:\n  Linear uses input @ weights.\n  For A @ B, A columns must equal B rows.\n  Got " +
              count_text(in) + " and " + count_text(rows) + ".\n\nFix:\n  Change weights shape to [" + count_text(in) +
              ", " + count_text(out) + "], or change the previous layer output to [batch, " + count_text(rows) + "].");
    }
    if (b.size() != 1 || b[0] != out) {
      return validation_failed(layer.name,
                               "Bias shape " + shape_text(b) + " does not match output features [" + count_text(out) +
                                   "].\n\nWhy:\n  Linear computes input @ weights + bias.\n  Bias must have "
                                   "one value per output feature.\n\nFix:\n  Change bias shape to [" +
                                   count_text(out) + "].");
    }
    Shape output = {batch, out};
    std::uint64_t params = shape_product(w) + shape_product(b);
    std::uint64_t ops = batch * out * (2 * in + 1);
    std::uint64_t bytes = batch * out * 4;
    record(layer, params, ops, bytes, bytes, ": input @ weights + bias", " (linear)");
    result_.path.push_back("Linear");
    result_.tensors.push_back({layer.name + ".output", shape_text(output), bytes});

    std::string in_text = shape_text(shape_), w_text = shape_text(w), b_text = shape_text(b),
                out_text = shape_text(output);
    add_blocks(
        {layer.name + " (Linear)",
         with_note(layer, "why: ",
                   {"operation: output = input @ weights + bias", "input: " + in_text, "weights: " + w_text,
                    "bias: " + b_text, "output: " + out_text,
                    "shape rule: [batch, in_features] @ [in_features, out_features] -> [batch, out_features]",
                    "params: " + count_text(params) + " values / " + count_text(4 * params) + " B",
                    "compute: batch * out_features * in_features * 2 + bias adds = " + count_text(ops) + " ops"})},
        {layer.name + ": linear projection",
         with_note(
             layer, "Purpose: ",
             {"Input tensor: " + in_text, "Operation: output = input @ weights + bias", "weights: " + w_text,
              "bias: " + b_text, "Result shape: " + out_text,
              "Interpretation: each output feature is a weighted mixture of " + count_text(in) + " input features."})},
        {layer.name + " (Linear)",
         {"input: " + in_text, "weights: " + w_text, "bias: " + b_text},
         out_text,
         "[batch, in_features] @ [in_features, out_features] -> [batch, out_features], so " + in_text + " @ " + w_text +
             " -> " + out_text});
    return output;
  }

  Status check_projection(const Layer& layer, const Tensor& matrix, const char* label) {
    const Shape& m = matrix.shape;
    if (m.size() != 2) {
      return validation_failed(layer.name, std::string(label) + " must be rank-2 [features, projection_dim].\n  Got " +
                                               label + " " + shape_text(m) + ".");
    }
    if (m[0] != shape_[1]) {
      std::string l = label;
      return validation_failed(
          layer.name, "Input " + shape_text(shape_) + " cannot multiply " + l + " " + shape_text(m) +
                          ".\n\nWhy:\n  Self-attention starts with X @ " + l + ".\n  X columns must equal " + l +
                          " rows.\n  Got " + count_text(shape_[1]) + " and " + count_text(m[0]) +
                          ".\n\nFix:\n  Change " + l + " shape to [" + count_text(shape_[1]) + ", projection_dim].");
    }
    return Status::ok();
  }

  Result<Shape> analyze(const Layer& layer, const AttentionLayer& attention) {
    if (shape_.size() != 2) {
      return validation_failed(layer.name, "Self-attention expects rank-2 input [tokens, features].\n  Got input " +
                                               shape_text(shape_) + ".");
    }
    for (auto [matrix, label] :
         {std::pair{&attention.wq, "Wq"}, std::pair{&attention.wk, "Wk"}, std::pair{&attention.wv, "Wv"}}) {
      if (Status checked = check_projection(layer, *matrix, label); !checked.is_ok()) return checked.error();
    }
    std::uint64_t t = shape_[0], f = shape_[1], dh = attention.wq.shape[1], dk = attention.wk.shape[1],
                  dv = attention.wv.shape[1];
    if (dh != dk) {
      return validation_failed(layer.name, "Q shape [tokens, " + count_text(dh) +
                                               "] cannot score against K shape [tokens, " + count_text(dk) +
                                               "].\n\nWhy:\n  Attention scores use Q @ K^T, so Q and K must share "
                                               "head_dim.\n\nFix:\n  Make Wq and Wk output the same head_dim.");
    }
    AttentionCost cost{layer.name, 0, 2 * t * f * dh, 2 * t * f * dh, 2 * t * f * dv, 2 * t * t * dh, 2 * t * t * dv, t,
                       dh,         dv};
    cost.total = cost.q_projection + cost.k_projection + cost.v_projection + cost.scores + cost.value_mix;
    Shape output = {t, dv};
    std::uint64_t params =
        shape_product(attention.wq.shape) + shape_product(attention.wk.shape) + shape_product(attention.wv.shape);
    std::uint64_t cost_bytes = std::max({t * dh * 4, t * dv * 4, t * t * 4});
    record(layer, params, cost.total, std::max(t * dv * 4, t * t * 4), cost_bytes,
           ": QKV projections + Q @ K^T + attention @ V", " (attention)");
    result_.path.push_back("SelfAttention");
    std::string qk = "[" + count_text(t) + ", " + count_text(dh) + "]",
                v = "[" + count_text(t) + ", " + count_text(dv) + "]",
                tt = "[" + count_text(t) + ", " + count_text(t) + "]", out_text = shape_text(output),
                in_text = shape_text(shape_);
    const TensorFact intermediates[] = {
        {layer.name + ".Q", qk, t * dh * 4},        {layer.name + ".K", qk, t * dh * 4},
        {layer.name + ".V", v, t * dv * 4},         {layer.name + ".scores", tt, t * t * 4},
        {layer.name + ".attention", tt, t * t * 4}, {layer.name + ".output", v, t * dv * 4},
    };
    result_.tensors.insert(result_.tensors.end(), std::begin(intermediates), std::end(intermediates));
    result_.attention_costs.push_back(cost);

    std::string wq = shape_text(attention.wq.shape), wk = shape_text(attention.wk.shape),
                wv = shape_text(attention.wv.shape);
    add_blocks(
        {layer.name + " (SelfAttention)",
         with_note(layer, "why: ",
                   {"operation: attention = softmax(Q @ K^T / sqrt(head_dim)); output = attention @ V",
                    "input X: " + in_text, "Wq: " + wq + ", Wk: " + wk + ", Wv: " + wv, "Q/K: " + qk, "V: " + v,
                    "scores: " + tt, "output: " + out_text,
                    "shape rule: Q @ K^T maps [tokens, head_dim] @ [head_dim, tokens] -> [tokens, tokens]",
                    "params: " + count_text(params) + " values / " + count_text(4 * params) + " B",
                    "compute: QKV projections + score matmul + value mix = " + count_text(cost.total) + " ops"})},
        {layer.name + ": self-attention",
         with_note(layer, "Purpose: ",
                   {"Input tensor: [tokens=" + count_text(t) + ", features=" + count_text(f) + "]",
                    "The layer projects every token into query, key, and value vectors.", "Q = X @ Wq", "K = X @ Wk",
                    "V = X @ Wv", "Q/K shape: " + qk, "V shape: " + v,
                    "Why: queries represent what each token is looking for; keys represent what each token offers; "
                    "values carry information to share.",
                    "scores = Q @ K^T / sqrt(head_dim)", "scores shape: " + tt,
                    "Interpretation: each token compares with every token, producing " + count_text(t * t) +
                        " pairwise comparisons.",
                    "attention = softmax(scores)",
                    "Why: softmax converts raw scores into weights that sum to 1 for each token.",
                    "output = attention @ V", "Result shape: " + out_text})},
        {layer.name + " (SelfAttention)",
         {"input X: " + in_text, "Wq: " + wq, "Wk: " + wk, "Wv: " + wv},
         out_text,
         "Attention weights are " + tt + " and V is " + v + ", so attention @ V -> " + out_text + "."});
    return output;
  }

  struct ElementwiseText {
    const char* kind;       // path word and title: "ReLU"
    const char* op_name;    // ops label: "{}: ReLU"
    const char* cost_name;  // cost label: "{} (relu)"
    const char* shape_rule;
    const char* compute;  // after the element count
    const char* walk_title;
    const char* walk_operation;
    const char* walk_interpretation;
    const char* quiz_reason;
  };

  Result<Shape> analyze_elementwise(const Layer& layer, const ElementwiseText& text) {
    std::uint64_t n = shape_product(shape_);
    record(layer, 0, n, n * 4, n * 4, std::string(": ") + text.op_name, std::string(" (") + text.cost_name + ")");
    result_.path.push_back(text.kind);
    std::string s = shape_text(shape_);
    add_blocks({layer.name + " (" + text.kind + ")",
                with_note(layer, "why: ",
                          {"input/output: " + s, text.shape_rule, "params: 0 values / 0 B",
                           "compute: " + count_text(n) + text.compute})},
               {layer.name + text.walk_title,
                with_note(layer, "Purpose: ",
                          {"Input tensor: " + s, text.walk_operation, "Result shape: " + s, text.walk_interpretation})},
               {layer.name + " (" + text.kind + ")", {"input: " + s}, s, text.quiz_reason});
    return shape_;
  }

  Result<Shape> analyze(const Layer& layer, const ReluLayer&) {
    return analyze_elementwise(layer,
                               {"ReLU", "ReLU", "relu", "shape rule: element-wise operation keeps the same shape",
                                " element comparisons", ": ReLU activation", "Operation: max(0, x) element by element",
                                "Interpretation: negative values are clipped; the tensor shape does not change.",
                                "ReLU is element-wise, so it keeps the same shape."});
  }

  Result<Shape> analyze(const Layer& layer, const GeluLayer&) {
    return analyze_elementwise(
        layer, {"GELU", "GELU", "gelu", "shape rule: element-wise operation keeps the same shape",
                " element transforms", ": GELU activation", "Operation: smooth element-wise gating",
                "Interpretation: values are transformed independently, so the tensor shape stays fixed.",
                "GELU is element-wise, so it keeps the same shape."});
  }

  Result<Shape> analyze(const Layer& layer, const SoftmaxLayer&) {
    return analyze_elementwise(
        layer, {"Softmax", "softmax", "softmax", "shape rule: normalization over last dim keeps the same shape",
                " exponentials plus row reductions", ": softmax",
                "Operation: exp(x - max) / sum(exp(x - max)) over the last dimension",
                "Interpretation: raw scores become normalized weights or probabilities; shape is unchanged.",
                "Softmax normalizes over a dimension but keeps the same tensor shape."});
  }

  Shape shape_;
  std::size_t position_ = 0;
  ModelAnalysis result_;
};

}  // namespace

Result<ModelAnalysis> analyze_model(const Model& model) {
  Analyzer analyzer(model);
  for (std::size_t i = 0; i < model.layers.size(); ++i) {
    Status visited = analyzer.visit(model.layers[i], i + 1);
    if (!visited.is_ok()) return visited.error();
  }
  return analyzer.take();
}

}  // namespace tarnwick
