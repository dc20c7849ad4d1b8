#include <algorithm>
#include <ostream>

#include "base/format.h"
#include "base/text.h"
#include "model/plan_args.h"
#include "model/plan_commands.h"

namespace tarnwick {

namespace {

void print_description(std::ostream& out, const Model& model) {
  if (model.description) out << "Description: " << *model.description << "\n";
}

void print_totals(std::ostream& out, const ModelAnalysis& analysis) {
  out << "Parameter memory: " << analysis.param_bytes << " B\n";
  out << "Peak activation memory: " << analysis.peak_activation_bytes << " B\n";
  out << "Estimated ops: " << analysis.total_ops << "\n";
}

// The entry with the most operations; the later one on ties.
template <class Entry>
const Entry* most_ops(const std::vector<Entry>& entries) {
  const Entry* best = nullptr;
  for (const Entry& entry : entries) {
    if (best == nullptr || entry.ops >= best->ops) best = &entry;
  }
  return best;
}

std::string percent_of(std::uint64_t part, std::uint64_t total) {
  return format_fixed(total == 0 ? 0.0 : static_cast<double>(part) * 100.0 / static_cast<double>(total), 1);
}

}  // namespace

Status validate_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick validate examples/mlp.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  io.out << "Validation: ok\nModel: " << model.name << "\n";
  print_description(io.out, model);
  print_totals(io.out, analysis);
  io.out << "\nShape flow:\n";
  for (const auto& [label, shape] : analysis.shape_flow) io.out << "  " << pad_right(label, 16) << " " << shape << "\n";
  return Status::ok();
}

Status trace_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick trace examples/tiny_attention.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  std::ostream& out = io.out;

  OpFact hot = analysis.ops.empty() ? OpFact{"none", 0} : *most_ops(analysis.ops);
  TensorFact largest{"input", shape_text(model.input.shape), model.input.bytes()};
  for (const TensorFact& tensor : analysis.tensors) {
    if (&tensor == &analysis.tensors.front() || tensor.bytes >= largest.bytes) largest = tensor;
  }
  std::vector<OpFact> bottlenecks = analysis.ops;
  std::stable_sort(bottlenecks.begin(), bottlenecks.end(),
                   [](const OpFact& a, const OpFact& b) { return a.ops > b.ops; });
  if (bottlenecks.size() > 3) bottlenecks.resize(3);
  std::uint64_t memory = 0;
  for (const LayerCost& cost : analysis.layer_costs) memory += cost.bytes;

  out << "Model Summary\n-------------\nModel: " << model.name << "\n";
  print_description(out, model);
  out << "Layers: " << model.layers.size() << "\n";
  out << "Parameters: " << analysis.total_params << " values / " << analysis.param_bytes << " B\n\n";
  out << "Execution Plan:\n";
  for (std::size_t i = 0; i < analysis.path.size(); ++i)
    out << (i ? "   |\n   v\n" : "") << "  " << analysis.path[i] << "\n";
  out << "\nEstimated Cost: " << analysis.total_ops << " ops\n";
  out << "Estimated Memory: " << format_bytes(memory) << "\n";
  out << "Hot Path:\n  " << hot.label << " (" << percent_of(hot.ops, analysis.total_ops) << "%)\n\n";
  out << "Largest Tensor:\n  " << largest.label << "\n  shape " << largest.shape << "\n  memory " << largest.bytes
      << " B\n\n";
  out << "Most Expensive Operation:\n  " << hot.label << "\n  " << hot.ops << " ops\n\n";
  out << "Potential Bottlenecks:\n";
  for (const OpFact& op : bottlenecks) out << "  " << op.label << " (" << op.ops << ") ops\n";
  return Status::ok();
}

Status compare_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick compare examples/tiny_attention.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  std::ostream& out = io.out;
  std::uint64_t memory = 0;
  for (const LayerCost& cost : analysis.layer_costs) memory += cost.bytes;
  const std::string rule(70, '-');
  out << "Execution Summary\n-----------------\nModel: " << model.name << "\n\n";
  out << pad_right("Layer", 34) << " " << pad_left("Ops", 10) << " " << pad_left("Memory", 12) << " "
      << pad_left("Compute", 10) << "\n"
      << rule << "\n";
  for (const LayerCost& cost : analysis.layer_costs) {
    out << pad_right(cost.label, 34) << " " << pad_left(std::to_string(cost.ops), 10) << " "
        << pad_left(format_bytes(cost.bytes), 12) << " " << pad_left(percent_of(cost.ops, analysis.total_ops), 9)
        << "%\n";
  }
  out << rule << "\n";
  out << pad_right("Total", 34) << " " << pad_left(std::to_string(analysis.total_ops), 10) << " "
      << pad_left(format_bytes(memory), 12) << " " << pad_left("100.0%", 9) << "\n";
  if (const LayerCost* heaviest = most_ops(analysis.layer_costs)) {
    out << "\n"
        << heaviest->label << " consumes " << percent_of(heaviest->ops, analysis.total_ops) << "% of compute.\n";
  }
  return Status::ok();
}

Status why_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick why examples/tiny_attention.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  std::ostream& out = io.out;
  out << "Why is attention expensive?\n" << std::string(27, '-') << "\nModel: " << model.name << "\n";
  if (analysis.attention_costs.empty()) {
    out << "\nNo self-attention layers found.\n";
    return Status::ok();
  }
  for (const AttentionCost& cost : analysis.attention_costs) {
    out << "\nAttention layer: " << cost.layer << "\n  " << cost.total << " ops\n\nBreakdown:\n";
    for (auto [label, ops] :
         {std::pair{"Q projection", cost.q_projection}, std::pair{"K projection", cost.k_projection},
          std::pair{"V projection", cost.v_projection}, std::pair{"Q @ K^T", cost.scores},
          std::pair{"attention @ V", cost.value_mix}}) {
      out << "  " << pad_right(label, 18) << " " << pad_left(std::to_string(ops), 8) << " ops\n";
    }
    std::uint64_t t = cost.tokens;
    out << "\nTotal:\n  " << cost.total << " ops\n\nExplanation:\n"
        << "  Every token must compare itself against every other token.\n"
        << "  This layer has " << t << " tokens, so scores contains " << t << " x " << t << " = " << t * t
        << " pairwise comparisons.\n"
        << "  Each comparison spans head_dim=" << cost.head_dim << ", then attention mixes value_dim=" << cost.value_dim
        << " values.\n"
        << "  The score and value-mixing terms grow roughly with tokens^2.\n"
        << "\nToken growth:\n";
    for (std::uint64_t tokens : {t, std::uint64_t{128}, std::uint64_t{256}}) {
      out << "  " << pad_left(std::to_string(tokens), 3) << " tokens -> "
          << pad_left(std::to_string(tokens * tokens), 6) << " pairwise comparisons\n";
    }
  }
  return Status::ok();
}

Status tensor_inspect_command(const Args& args, Io& io) {
  Result<AnalysedPlan> plan = load_and_analyse(args, "usage: tarnwick tensor-inspect examples/mlp.json");
  if (!plan.is_ok()) return plan.error();
  const auto& [model, analysis] = plan.value();
  std::ostream& out = io.out;
  out << "Model: " << model.name << "\n";
  print_description(out, model);
  out << "Input: " << shape_text(model.input.shape) << "\nLayers: " << model.layers.size() << "\n";
  print_totals(out, analysis);
  out << "\n";
  for (const TextBlock& block : analysis.explanations) {
    out << "Layer " << block.position << ": " << block.title << "\n";
    for (const std::string& line : block.lines) out << "  " << line << "\n";
    out << "\n";
  }
  return Status::ok();
}

}  // namespace tarnwick
