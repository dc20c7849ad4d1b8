#include <ostream>

#include "base/figure_notes.h"
#include "base/text.h"
#include "onnx/onnx_architecture.h"
#include "onnx/onnx_commands.h"

namespace tarnwick {

namespace {

std::string ascii_lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool mentions(const std::string& text, const char* word) { return ascii_lower(text).find(word) != std::string::npos; }

bool initializer_names_mention_embeddings(const OnnxSummary& summary) {
  for (const OnnxInitializer& initializer : summary.initializers) {
    if (mentions(initializer.name, "embedding")) return true;
  }
  return false;
}

void print_count_evidence(std::ostream& out, std::uint64_t count, const char* label) {
  if (count == 0) return;
  if (count == 1) {
    out << "  - 1 " << label << "\n";
  } else {
    out << "  - " << count << " " << label << "s\n";
  }
}

}  // namespace

Status explain_onnx(const std::string& path, Io& io) {
  Result<OnnxSummary> read = read_onnx_summary(path);
  if (!read.is_ok()) return read.error();
  const OnnxSummary& summary = read.value();
  std::ostream& out = io.out;

  std::uint64_t softmax = count_of(summary, "Softmax"), matmul = count_of(summary, "MatMul"),
                gemm = count_of(summary, "Gemm"), layer_norm = count_of(summary, "LayerNormalization"),
                attention = count_of(summary, "Attention");
  int score = (softmax > 0) + (layer_norm > 0) + (gemm + matmul >= 2) + (attention > 0);
  std::optional<std::uint64_t> layers = estimate_attention_layers(summary);
  std::optional<std::uint64_t> hidden = estimate_hidden_size(summary);

  out << "ONNX Architecture Explanation\n-----------------------------\n";
  out << "Model: " << escape_control(summary.name) << "\n\n";
  if (score >= 3) {
    out << "This model appears to be a transformer.\n";
  } else if (score == 2) {
    out << "This model has transformer-like signals.\n";
  } else {
    out << "This model does not strongly look like a transformer from static ops alone.\n";
  }
  out << "\nEvidence:\n";
  print_count_evidence(out, softmax, "Softmax node");
  print_count_evidence(out, matmul, "MatMul node");
  print_count_evidence(out, gemm, "Gemm node");
  print_count_evidence(out, layer_norm, "LayerNormalization operator");
  print_count_evidence(out, attention, "Attention operator");
  if (summary.node_names_mention_attention) out << "  - node names mention attention\n";
  if (initializer_names_mention_embeddings(summary)) out << "  - initializer names mention embeddings\n";
  if (score == 0) out << "  - no Softmax/MatMul/LayerNormalization pattern found\n";

  out << "\nEstimated Architecture:\n";
  out << "  Encoder/attention layers: " << (layers ? "~" + std::to_string(*layers) : "unknown") << "\n";
  out << "  Hidden size: " << (hidden ? "~" + std::to_string(*hidden) : "unknown") << "\n";
  out << "  Parameters: " << summary.parameter_values << " values\n";
  out << "  Estimated ops: " << summary.estimated_ops << "\n";

  out << "\nWhy:\n";
  if (matmul > 0 && softmax > 0) {
    out << "  Transformers repeatedly use MatMul for projections and attention scores.\n"
           "  Softmax usually appears where attention scores become probabilities.\n";
  }
  if (layer_norm > 0) out << "  LayerNormalization is common around transformer attention/MLP blocks.\n";
  if (hidden) out << "  Hidden size is inferred from common weight dimensions, not model config.\n";

  out << "\nNote:\n"
         "  This is a static heuristic over ONNX nodes, names, and initializer shapes.\n"
         "  It is useful for quick orientation, not a guaranteed architecture decoder.\n";
  print_note_lines(out, summary.estimate_notes);
  return Status::ok();
}

}  // namespace tarnwick
