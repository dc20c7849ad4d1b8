#include "model/executor.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "base/format.h"
#include "base/text.h"
#include "tensor/forward.h"

namespace tarnwick {

namespace {

struct StepOutcome {
  Tensor output;
  StepReport report;
};

class Executor {
 public:
  Executor(bool values, bool heatmap) : values_(values), heatmap_(heatmap) {}

  Result<StepOutcome> step(const Layer& layer, const Tensor& input) {
    return std::visit([&](const auto& kind) { return run(layer, kind, input); }, layer.kind);
  }

 private:
  Result<StepOutcome> run(const Layer& layer, const LinearLayer& plan, const Tensor& input) {
    LinearLayer linear{plan.weights.materialized(), plan.bias.materialized()};
    Result<LinearForward> pass = linear_forward(input, linear.weights, linear.bias);
    if (!pass.is_ok()) return pass.error();
    const Tensor& out = pass.value().output;
    std::uint64_t batch = input.shape[0], in = input.shape[1], outputs = linear.weights.shape[1];
    StepOutcome outcome{out, {}};
    outcome.report.title = layer.name + " (Linear)";
    outcome.report.lines =
        with_note(layer, "why: ",
                  {"operation: output = input @ weights + bias", "input: " + shape_text(input.shape),
                   "weights: " + shape_text(linear.weights.shape), "bias: " + shape_text(linear.bias.shape),
                   "output: " + shape_text(out.shape),
                   "memory: input " + count_text(input.bytes()) + " B, weights " + count_text(linear.weights.bytes()) +
                       " B, output " + count_text(out.bytes()) + " B",
                   "estimated ops: " + count_text(batch * outputs * (2 * in + 1))});
    if (values_) outcome.report.values = format_values("output", out);
    outcome.report.elapsed_ms = elapsed_ms(pass.value().elapsed);
    return outcome;
  }

  Result<StepOutcome> run(const Layer& layer, const AttentionLayer& plan, const Tensor& input) {
    AttentionLayer attention{plan.wq.materialized(), plan.wk.materialized(), plan.wv.materialized()};
    Result<AttentionForward> forward = attention_forward(input, attention.wq, attention.wk, attention.wv);
    if (!forward.is_ok()) return forward.error();
    const AttentionForward& pass = forward.value();
    std::uint64_t t = input.shape[0], f = input.shape[1], dh = attention.wq.shape[1], dv = attention.wv.shape[1];
    std::uint64_t ops = 2 * t * t * dh + 4 * t * f * dh + 2 * t * f * dv + 2 * t * t * dv;
    StepOutcome outcome{pass.output, {}};
    outcome.report.title = layer.name + " (SelfAttention)";
    outcome.report.lines = with_note(
        layer, "why: ",
        {"operation: softmax((X @ Wq) @ (X @ Wk)^T / sqrt(head_dim)) @ (X @ Wv)", "input: " + shape_text(input.shape),
         "Wq/Wk/Wv: " + shape_text(attention.wq.shape) + ", " + shape_text(attention.wk.shape) + ", " +
             shape_text(attention.wv.shape),
         "Q/K/V: " + shape_text(pass.q.shape) + ", " + shape_text(pass.k.shape) + ", " + shape_text(pass.v.shape),
         "scores: " + shape_text(pass.scores.shape), "attention: " + shape_text(pass.attention.shape),
         "output: " + shape_text(pass.output.shape),
         "memory: Q " + count_text(pass.q.bytes()) + " B, K " + count_text(pass.k.bytes()) + " B, V " +
             count_text(pass.v.bytes()) + " B, scores " + count_text(pass.scores.bytes()) + " B, output " +
             count_text(pass.output.bytes()) + " B",
         "estimated ops: " + count_text(ops)});
    if (values_) {
      // The score matrix is shown after the 1 / sqrt(head_dim) scaling, as softmax sees it.
      outcome.report.values = format_values("Q", pass.q) + "\n" + format_values("K", pass.k) + "\n" +
                              format_values("V", pass.v) + "\n" + format_values("scores", pass.scaled) + "\n" +
                              format_values("attention", pass.attention) + "\n" + format_values("output", pass.output);
    }
    if (heatmap_ && pass.attention.shape.size() == 2) outcome.report.heatmap = attention_heatmap(pass.attention);
    outcome.report.elapsed_ms = elapsed_ms(pass.elapsed);
    return outcome;
  }

  Result<StepOutcome> elementwise(const Layer& layer, const char* kind, const char* math, const char* ops_words,
                                  Result<OpResult> result, const Tensor& input) {
    if (!result.is_ok()) return result.error();
    StepOutcome outcome{result.value().output, {}};
    outcome.report.title = layer.name + " (" + kind + ")";
    outcome.report.lines = with_note(layer, "why: ",
                                     {"input/output: " + shape_text(input.shape), math,
                                      std::string(ops_words) + count_text(shape_product(input.shape))});
    if (values_) outcome.report.values = format_values("output", outcome.output);
    outcome.report.elapsed_ms = elapsed_ms(result.value().elapsed);
    return outcome;
  }

  Result<StepOutcome> run(const Layer& layer, const ReluLayer&, const Tensor& input) {
    return elementwise(layer, "ReLU", "math: max(0, x) element-wise", "estimated ops: ", relu(input), input);
  }
  Result<StepOutcome> run(const Layer& layer, const GeluLayer&, const Tensor& input) {
    return elementwise(layer, "GELU", "math: smooth gate that keeps positive values and dampens negatives",
                       "estimated element ops: ", gelu(input), input);
  }
  Result<StepOutcome> run(const Layer& layer, const SoftmaxLayer&, const Tensor& input) {
    return elementwise(layer, "Softmax", "math: exp(x - max) / sum(exp(x - max)) over last dim",
                       "estimated element ops: ", softmax(input), input);
  }

  bool values_, heatmap_;
};

// IEEE 754 total order as an integer key: -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
std::int32_t total_order_key(float value) {
  auto bits = std::bit_cast<std::int32_t>(value);
  return bits ^ static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 31) >> 1);
}

std::string bar(float probability) {
  float clamped = std::fmin(std::fmax(probability, 0.0f), 1.0f);
  int filled = std::min(10, static_cast<int>(clamped * 10.0f));
  return std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(10 - filled), '.');
}

}  // namespace

std::optional<std::string> predict(const std::vector<float>& output,
                                   const std::optional<std::vector<std::string>>& labels) {
  if (!labels || labels->empty() || output.empty()) return std::nullopt;
  std::size_t best = 0;
  for (std::size_t i = 1; i < output.size(); ++i) {
    if (total_order_key(output[i]) >= total_order_key(output[best])) best = i;
  }
  if (best < labels->size()) return (*labels)[best];
  return "class_" + std::to_string(best);
}

std::string attention_heatmap(const Tensor& attention) {
  std::size_t rows = attention.shape[0], cols = attention.shape[1];
  std::string text = "  attention heatmap:\n" + std::string(10, ' ');
  for (std::size_t j = 0; j < cols; ++j) text += pad_right("tok" + std::to_string(j), 7);
  for (std::size_t i = 0; i < rows; ++i) {
    text += "\n    " + pad_right("tok" + std::to_string(i), 3);
    for (std::size_t j = 0; j < cols; ++j) {
      std::string probability = format_fixed(attention.data[i * cols + j], 3);
      text += " " + std::string(probability.size() < 6 ? 6 - probability.size() : 0, ' ') + probability + " ";
    }
    text += "\n" + std::string(10, ' ');
    for (std::size_t j = 0; j < cols; ++j) text += pad_right(bar(attention.data[i * cols + j]), 11);
  }
  return text;
}

Result<RunResult> execute_model(const Model& model, bool values, bool heatmap) {
  RunResult result;
  result.model_name = model.name;
  result.input_shape = shape_text(model.input.shape);
  Executor executor(values, heatmap);
  Tensor current = model.input.materialized();
  for (std::size_t i = 0; i < model.layers.size(); ++i) {
    Result<StepOutcome> outcome = executor.step(model.layers[i], current);
    if (!outcome.is_ok()) return outcome.error();
    outcome.value().report.position = i + 1;
    result.steps.push_back(std::move(outcome.value().report));
    current = std::move(outcome.value().output);
  }
  result.prediction = predict(current.data, model.labels);
  result.output = std::move(current.data);
  return result;
}

}  // namespace tarnwick
