#include <ostream>

#include "base/change_lines.h"
#include "base/format.h"
#include "demo/teaching.h"
#include "tensor/forward.h"

namespace tarnwick {

namespace {

struct DemoStep {
  std::string heading;
  std::vector<std::string> lines;
  std::vector<std::pair<const char*, const Tensor*>> values;
};

Tensor matrix(std::vector<float> data) { return Tensor::create({2, 2}, std::move(data)).take(); }

std::string ms(std::chrono::nanoseconds elapsed) { return format_fixed(elapsed_ms(elapsed), 3); }

Status run_attention_demo(bool step, bool values, Io& io) {
  Tensor x = matrix({1.0f, 0.0f, 0.5f, 1.0f});
  Result<AttentionForward> forward = attention_forward(
      x, matrix({1.0f, 0.2f, 0.0f, 0.8f}), matrix({0.7f, 0.1f, 0.3f, 1.0f}), matrix({1.0f, -0.4f, 0.2f, 0.9f}));
  if (!forward.is_ok()) return forward.error();
  const AttentionForward& pass = forward.value();
  Shape kt = {pass.k.shape[1], pass.k.shape[0]};
  const std::vector<DemoStep> steps = {
      {"Step 1: input tokens",
       {"X shape: " + shape_text(x.shape), "memory: " + std::to_string(x.bytes()) + " B",
        "meaning: two token vectors, each with two features"},
       {{"X", &x}}},
      {"Step 2: create Q, K, V",
       {"Q = X @ Wq -> " + shape_text(pass.q.shape), "K = X @ Wk -> " + shape_text(pass.k.shape),
        "V = X @ Wv -> " + shape_text(pass.v.shape),
        "time: Q " + ms(pass.q_time) + " ms, K " + ms(pass.k_time) + " ms, V " + ms(pass.v_time) + " ms",
        "meaning: queries ask, keys match, values carry information"},
       {{"Q", &pass.q}, {"K", &pass.k}, {"V", &pass.v}}},
      {"Step 3: score token-to-token matches",
       {"K^T shape: " + shape_text(kt), "scores = Q @ K^T -> " + shape_text(pass.scores.shape),
        "scaled = scores / sqrt(2) -> " + shape_text(pass.scaled.shape),
        "meaning: each row scores how much one token looks at all tokens"},
       {{"scores", &pass.scores}, {"scaled", &pass.scaled}}},
      {"Step 4: turn scores into probabilities",
       {"attention = softmax(scaled) -> " + shape_text(pass.attention.shape), "check: each row sums to 1",
        "meaning: every token now has a distribution over context tokens"},
       {{"attention", &pass.attention}}},
      {"Step 5: mix values",
       {"output = attention @ V -> " + shape_text(pass.output.shape), "time: " + ms(pass.output_time) + " ms",
        "output memory: " + std::to_string(pass.output.bytes()) + " B",
        "PyTorch: out = torch.softmax(q @ k.T / math.sqrt(2), dim=-1) @ v"},
       {{"output", &pass.output}}},
  };

  print_title(io.out, "Numeric attention demo");
  for (const DemoStep& demo_step : steps) {
    io.out << demo_step.heading << "\n";
    for (const std::string& line : demo_step.lines) io.out << "  " << line << "\n";
    if (values) {
      std::string block;
      for (const auto& [name, tensor] : demo_step.values)
        block += (block.empty() ? "" : "\n") + format_values(name, *tensor);
      io.out << block << "\n";
    }
    io.out << "\n";
    if (step) {
      if (Status waited = wait_for_enter(io); !waited.is_ok()) return waited;
    }
  }
  return Status::ok();
}

}  // namespace

Status demo_command(const Args& args, Io& io) {
  bool step = false, values = false;
  std::optional<std::string> name;
  for (const std::string& arg : args) {
    if (arg == "--step") {
      step = true;
    } else if (arg == "--values") {
      values = true;
    } else if (name) {
      return fail("unexpected argument `" + arg + "`");
    } else {
      name = arg;
    }
  }
  std::string demo = name.value_or("attention");
  if (demo != "attention") return fail("unknown demo `" + demo + "`. Try `tarnwick demo attention`.");
  return run_attention_demo(step, values, io);
}

}  // namespace tarnwick
