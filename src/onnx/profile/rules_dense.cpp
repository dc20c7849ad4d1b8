// Dense ops and windows: MatMul, Gemm, Conv, ConvTranspose, pools, recurrent layers, Einsum.
#include <array>
#include <map>
#include <string>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

Outputs matmul_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* a = in.shape(0);
  const Dims* b = in.shape(1);
  if (outputs.empty() || !a || !b || a->empty() || b->empty()) return outputs;
  Dims left = a->size() == 1 ? Dims{1, (*a)[0]} : *a;
  Dims right = b->size() == 1 ? Dims{(*b)[0], 1} : *b;
  if (left.back() != right[right.size() - 2]) return outputs;
  std::optional<Dims> batch =
      broadcast(Dims(left.begin(), left.end() - 2), Dims(right.begin(), right.end() - 2));
  if (!batch) return outputs;
  Dims result = *batch;
  if (a->size() != 1) result.push_back(left[left.size() - 2]);
  if (b->size() != 1) result.push_back(right.back());
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

Outputs gemm_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* a = in.shape(0);
  const Dims* b = in.shape(1);
  if (outputs.empty() || !a || !b || a->size() != 2 || b->size() != 2) return outputs;
  bool trans_a = in.int_attribute("transA", 0) != 0, trans_b = in.int_attribute("transB", 0) != 0;
  std::int64_t m = trans_a ? (*a)[1] : (*a)[0], k = trans_a ? (*a)[0] : (*a)[1];
  std::int64_t k2 = trans_b ? (*b)[1] : (*b)[0], n = trans_b ? (*b)[0] : (*b)[1];
  if (k != k2) return outputs;
  if (const Dims* c = in.shape(2); c && !broadcast(Dims{m, n}, *c)) return outputs;
  outputs[0] = shaped(in.type(0), Dims{m, n});
  return outputs;
}

// Kernel dims from the attribute, or from the weight's trailing dims.
std::optional<Dims> kernel_of(const RuleInput& in, std::size_t spatial, const Dims* weight) {
  const std::vector<std::int64_t>* stored = in.ints_attribute("kernel_shape");
  if (stored && !stored->empty()) {
    if (stored->size() != spatial) return std::nullopt;
    return *stored;
  }
  if (!weight || weight->size() != spatial + 2) return std::nullopt;
  return Dims(weight->begin() + 2, weight->end());
}

std::optional<Dims> windowed_spatial(const RuleInput& in, const Dims& x, const Dims& kernel) {
  std::optional<WindowParams> params = window_params(in, kernel);
  if (!params) return std::nullopt;
  Dims spatial;
  for (std::size_t k = 0; k < kernel.size(); ++k) {
    std::optional<std::int64_t> size = window_output(x[k + 2], k, *params);
    if (!size) return std::nullopt;
    spatial.push_back(*size);
  }
  return spatial;
}

Outputs conv_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  const Dims* w = in.shape(1);
  if (outputs.empty() || !x || !w || x->size() < 3 || w->size() != x->size()) return outputs;
  std::int64_t group = in.int_attribute("group", 1);
  std::int64_t channels;
  if (group <= 0 || __builtin_mul_overflow((*w)[1], group, &channels) || (*x)[1] != channels) return outputs;
  std::optional<Dims> kernel = kernel_of(in, x->size() - 2, w);
  if (!kernel) return outputs;
  std::optional<Dims> spatial = windowed_spatial(in, *x, *kernel);
  if (!spatial) return outputs;
  Dims result{(*x)[0], (*w)[0]};
  result.insert(result.end(), spatial->begin(), spatial->end());
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

Outputs conv_transpose_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  const Dims* w = in.shape(1);
  if (outputs.empty() || !x || !w || x->size() < 3 || w->size() != x->size()) return outputs;
  std::int64_t group = in.int_attribute("group", 1);
  std::size_t spatial = x->size() - 2;
  if (group <= 0 || (*x)[1] != (*w)[0]) return outputs;
  std::optional<Dims> kernel = kernel_of(in, spatial, w);
  if (!kernel) return outputs;
  std::optional<WindowParams> params = window_params(in, *kernel);
  if (!params) return outputs;
  std::int64_t channels;
  if (__builtin_mul_overflow((*w)[1], group, &channels)) return outputs;
  Dims result{(*x)[0], channels};
  const std::vector<std::int64_t>* output_shape = in.ints_attribute("output_shape");
  const std::vector<std::int64_t>* output_padding = in.ints_attribute("output_padding");
  if (output_padding && !output_padding->empty() && output_padding->size() != spatial) return outputs;
  if (output_shape && !output_shape->empty()) {
    if (output_shape->size() < spatial) return outputs;
    result.insert(result.end(), output_shape->end() - static_cast<std::ptrdiff_t>(spatial), output_shape->end());
  } else {
    for (std::size_t k = 0; k < spatial; ++k) {
      std::int64_t padding = output_padding && !output_padding->empty() ? (*output_padding)[k] : 0;
          WideInt size;
      if (params->auto_pad == "SAME_UPPER" || params->auto_pad == "SAME_LOWER") {
        size = WideInt((*x)[k + 2]) * params->strides[k];
      } else {
        WideInt pads = params->auto_pad == "VALID" ? 0 : WideInt(params->pads[k]) + params->pads[k + spatial];
        size = WideInt(params->strides[k]) * ((*x)[k + 2] - 1) + padding +
               (WideInt((*kernel)[k]) - 1) * params->dilations[k] + 1 - pads;
      }
      if (size < 0 || size > INT64_MAX) return outputs;
      result.push_back(static_cast<std::int64_t>(size));
    }
  }
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

Outputs pool_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x || x->size() < 3) return outputs;
  std::optional<Dims> kernel = kernel_of(in, x->size() - 2, nullptr);
  if (!kernel) return outputs;
  std::optional<Dims> spatial = windowed_spatial(in, *x, *kernel);
  if (!spatial) return outputs;
  Dims result{(*x)[0], (*x)[1]};
  result.insert(result.end(), spatial->begin(), spatial->end());
  outputs[0] = shaped(in.type(0), result);
  if (outputs.size() > 1) outputs[1] = shaped(kInt64, result);  // MaxPool's indices
  return outputs;
}

Outputs global_pool_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x || x->size() < 2) return outputs;
  Dims result(x->size(), 1);
  result[0] = (*x)[0];
  result[1] = (*x)[1];
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

// LSTM, GRU and RNN: Y [seq, dirs, batch, hidden], Y_h (and LSTM's Y_c) [dirs, batch, hidden];
// layout 1 puts batch first.
Outputs recurrent_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  const Dims* w = in.shape(1);
  if (outputs.empty() || !x || x->size() != 3) return outputs;
  std::string direction = in.string_attribute("direction").value_or("forward");
  std::int64_t dirs = direction == "bidirectional" ? 2 : (direction == "forward" || direction == "reverse") ? 1 : 0;
  if (dirs == 0) return outputs;
  std::int64_t hidden = in.int_attribute("hidden_size", -1);
  if (hidden < 0) {
    const Dims* r = in.shape(2);
    if (!r || r->size() != 3) return outputs;
    hidden = (*r)[2];
  }
  if (w && (w->size() != 3 || (*w)[0] != dirs)) return outputs;
  bool batch_first = in.int_attribute("layout", 0) != 0;
  std::int64_t seq = batch_first ? (*x)[1] : (*x)[0];
  std::int64_t batch = batch_first ? (*x)[0] : (*x)[1];
  Dims y = batch_first ? Dims{batch, seq, dirs, hidden} : Dims{seq, dirs, batch, hidden};
  Dims state = batch_first ? Dims{batch, dirs, hidden} : Dims{dirs, batch, hidden};
  outputs[0] = shaped(in.type(0), y);
  for (std::size_t k = 1; k < outputs.size() && k < 3; ++k) outputs[k] = shaped(in.type(0), state);
  return outputs;
}

// Two-operand (or one-operand) Einsum with letter subscripts and no ellipsis.
Outputs einsum_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  std::optional<std::string> equation = in.string_attribute("equation");
  if (outputs.empty() || !equation || in.inputs.empty() || in.inputs.size() > 2) return outputs;
  std::string text;
  for (char c : *equation)
    if (c != ' ') text += c;
  if (text.find('.') != std::string::npos) return outputs;
  std::size_t arrow = text.find("->");
  std::string left = text.substr(0, arrow);
  std::vector<std::string> terms;
  for (std::size_t start = 0;;) {
    std::size_t comma = left.find(',', start);
    terms.push_back(left.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (terms.size() != in.inputs.size()) return outputs;
  std::map<char, std::int64_t> sizes;
  std::map<char, int> uses;
  for (std::size_t t = 0; t < terms.size(); ++t) {
    const Dims* shape = in.shape(t);
    if (!shape || shape->size() != terms[t].size()) return outputs;
    for (std::size_t k = 0; k < terms[t].size(); ++k) {
      char letter = terms[t][k];
      auto [it, inserted] = sizes.emplace(letter, (*shape)[k]);
      if (!inserted && it->second != (*shape)[k]) {
        if (it->second == 1) it->second = (*shape)[k];
        else if ((*shape)[k] != 1) return outputs;
      }
      ++uses[letter];
    }
  }
  std::string result_letters;
  if (arrow != std::string::npos) {
    result_letters = text.substr(arrow + 2);
  } else {
    for (const auto& [letter, count] : uses)
      if (count == 1) result_letters += letter;
  }
  Dims result;
  for (char letter : result_letters) {
    auto found = sizes.find(letter);
    if (found == sizes.end()) return outputs;
    result.push_back(found->second);
  }
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

constexpr std::array kDenseRules{
    RuleEntry{"MatMul", matmul_rule},         RuleEntry{"Gemm", gemm_rule},
    RuleEntry{"Conv", conv_rule},             RuleEntry{"ConvTranspose", conv_transpose_rule},
    RuleEntry{"MaxPool", pool_rule},          RuleEntry{"AveragePool", pool_rule},
    RuleEntry{"LpPool", pool_rule},           RuleEntry{"GlobalAveragePool", global_pool_rule},
    RuleEntry{"GlobalMaxPool", global_pool_rule}, RuleEntry{"GlobalLpPool", global_pool_rule},
    RuleEntry{"LSTM", recurrent_rule},        RuleEntry{"GRU", recurrent_rule},
    RuleEntry{"RNN", recurrent_rule},         RuleEntry{"Einsum", einsum_rule},
};

}  // namespace

ShapeRule find_dense_rule(std::string_view op_type) { return find_rule_in(kDenseRules, op_type); }

}  // namespace tarnwick
