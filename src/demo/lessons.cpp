#include <array>
#include <ostream>
#include <vector>

#include "base/change_lines.h"
#include "base/text.h"
#include "demo/teaching.h"

namespace tarnwick {

namespace {

struct LessonStep {
  const char* heading;
  std::array<const char*, 5> facets;  // shape, memory, math, compare, all
};

struct Lesson {
  const char* title;
  std::vector<LessonStep> steps;
};

const std::vector<LessonStep> kAttentionSteps = {
    {"Step 1: create Q, K, V",
     {"X: [4, 768], Wq/Wk/Wv: [768, 768], Q/K/V: [4, 768]", "Q + K + V: 3 * 4 * 768 * 4 bytes = 36 KiB",
      "Q = X @ Wq, K = X @ Wk, V = X @ Wv", "PyTorch: q, k, v = x @ Wq, x @ Wk, x @ Wv",
      "Each token gets query, key, and value vectors."}},
    {"Step 2: attention scores",
     {"Q: [4, 768], K^T: [768, 4], scores: [4, 4]", "scores memory: 4 * 4 * 4 bytes = 64 bytes",
      "scores = Q @ K^T / sqrt(768)", "PyTorch: scores = q @ k.T / math.sqrt(q.shape[-1])",
      "Each row asks how strongly one token should look at all tokens."}},
    {"Step 3: probabilities",
     {"softmax keeps [4, 4]", "attention probabilities use another 64 bytes if stored separately",
      "attention = softmax(scores)", "PyTorch: attention = torch.softmax(scores, dim=-1)",
      "Rows sum to 1, so every token has a distribution over tokens."}},
    {"Step 4: weighted values",
     {"attention: [4, 4], V: [4, 768], output: [4, 768]", "output memory: 4 * 768 * 4 bytes = 12 KiB",
      "output = attention @ V", "PyTorch: out = attention @ v",
      "The output mixes value vectors according to attention weights."}},
};

Lesson build_lesson(Topic topic) {
  switch (topic) {
    case Topic::Tensor:
      return {"Tensor: data plus shape",
              {{"Step 1: raw values",
                {"values: 6 float32 numbers", "memory: 6 * 4 bytes = 24 bytes",
                 "flat index for [row, col] is row * cols + col", "PyTorch: torch.tensor([[1, 2, 3], [4, 5, 6]])",
                 "A tensor is a flat buffer interpreted through a shape."}},
               {"Step 2: shaped view",
                {"shape: [2, 3] means 2 rows and 3 columns", "reshaping does not have to copy values",
                 "value[1, 2] reads flat index 1 * 3 + 2 = 5", "PyTorch: x.shape, x.reshape(2, 3)",
                 "The shape tells every operation how to walk the buffer."}}}};
    case Topic::Matmul:
      return {"Matmul: combine rows with columns",
              {{"Step 1: A @ B",
                {"A: [4, 8], B: [8, 2], output: [4, 2]", "output memory: 4 * 2 * 4 bytes = 32 bytes",
                 "out[i, j] = sum(A[i, k] * B[k, j]) for k in 0..8", "PyTorch: out = A @ B",
                 "The shared inner dimension disappears; outer dimensions remain."}}}};
    case Topic::Linear:
      return {
          "Linear layer: matmul plus bias",
          {{"Step 1: matrix multiply",
            {"x: [1, 4], W: [4, 8], x @ W: [1, 8]", "activation memory: 1 * 8 * 4 bytes = 32 bytes", "hidden = x @ W",
             "PyTorch: hidden = x @ weight", "Each output feature is a weighted mixture of the input features."}},
           {"Step 2: add bias",
            {"bias: [8] broadcasts across batch rows", "bias memory: 8 * 4 bytes = 32 bytes",
             "out[i, j] = hidden[i, j] + bias[j]", "PyTorch: out = hidden + bias",
             "Bias shifts each output feature after the weighted sum."}}}};
    case Topic::Softmax:
      return {"Softmax: scores into probabilities",
              {{"Step 1: normalize last dimension",
                {"input: [4, 4], output: [4, 4]", "same shape, same output size; implementations may reuse buffers",
                 "softmax(x_i) = exp(x_i - max(x)) / sum(exp(x_j - max(x)))",
                 "PyTorch: probs = torch.softmax(scores, dim=-1)",
                 "Subtracting the row max improves numerical stability."}}}};
    case Topic::Attention: return {"Attention: every token compares with every token", kAttentionSteps};
    case Topic::Transformer: {
      Lesson lesson{"Tiny transformer: attention plus feed-forward", kAttentionSteps};
      lesson.steps.push_back(
          {"Step 5: feed-forward block",
           {"[4, 768] -> linear [4, 3072] -> GELU -> linear [4, 768]",
            "the hidden feed-forward activation is often the largest temporary tensor",
            "ffn(x) = GELU(x @ W1 + b1) @ W2 + b2", "PyTorch: y = W2(torch.nn.functional.gelu(W1(x)))",
            "Transformers alternate token mixing with per-token feature mixing."}});
      return lesson;
    }
  }
  return {"", {}};
}

struct TopicQuestion {
  const char* question;
  const char* answer;
};

TopicQuestion topic_question(Topic topic) {
  switch (topic) {
    case Topic::Tensor: return {"A float32 tensor has shape [2, 3]. How many bytes?", "24"};
    case Topic::Matmul: return {"A is [4, 8], B is [8, 2]. What is A @ B?", "[4, 2]"};
    case Topic::Linear: return {"x is [1, 4], W is [4, 8], b is [8]. What is output shape?", "[1, 8]"};
    case Topic::Softmax: return {"Softmax over last dim keeps shape [3, 5] as what?", "[3, 5]"};
    default: return {"Q is [4, 768], K^T is [768, 4]. What is Q @ K^T?", "[4, 4]"};
  }
}

std::string normalized_answer(const std::string& text) {
  std::string compact = remove_whitespace(text);
  for (char& c : compact) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return compact;
}

Status topic_quiz(Topic topic, Io& io) {
  TopicQuestion question = topic_question(topic);
  io.out << "Quiz\n----\n" << question.question << "\n";
  Result<std::string> reply = prompt_line(io, "> ");
  if (!reply.is_ok()) return reply.error();
  if (normalized_answer(reply.value()) == normalized_answer(question.answer)) {
    io.out << "Correct.\n";
  } else {
    io.out << "Answer: " << question.answer << "\n";
  }
  return Status::ok();
}

}  // namespace

Result<Topic> parse_topic(const std::string& word) {
  if (word == "tensor") return Topic::Tensor;
  if (word == "matmul") return Topic::Matmul;
  if (word == "linear") return Topic::Linear;
  if (word == "softmax") return Topic::Softmax;
  if (word == "attention") return Topic::Attention;
  if (word == "transformer" || word == "tiny-transformer") return Topic::Transformer;
  return fail("unknown topic `" + word + "`");
}

Status explain_topic(const std::string& word, LessonView view, bool step, bool quiz, Io& io) {
  Result<Topic> topic = parse_topic(word);
  if (!topic.is_ok()) return topic.error();
  Lesson lesson = build_lesson(topic.value());
  if (step) {
    io.out << "tarnwick step mode. Press Enter for each operation.\n\n";
  } else {
    print_title(io.out, lesson.title);
  }
  for (const LessonStep& lesson_step : lesson.steps) {
    io.out << lesson_step.heading << "\n";
    if (view == LessonView::All) {
      for (const char* facet : lesson_step.facets) io.out << "  " << facet << "\n";
    } else {
      io.out << "  " << lesson_step.facets[static_cast<std::size_t>(view) - 1] << "\n";
    }
    io.out << "\n";
    if (step) {
      if (Status waited = wait_for_enter(io); !waited.is_ok()) return waited;
    }
  }
  if (quiz) return topic_quiz(topic.value(), io);
  return Status::ok();
}

}  // namespace tarnwick
