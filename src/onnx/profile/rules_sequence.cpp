// Sequence ops: a sequence keeps the shape its elements share and, where it is known, its length.
#include <array>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

KnownValue sequence_of(std::optional<std::int32_t> elem_type, std::optional<Dims> element_shape,
                       std::optional<std::int64_t> length) {
  KnownValue value;
  value.elem_type = elem_type;
  value.is_sequence = true;
  value.element_shape = std::move(element_shape);
  value.sequence_length = length;
  return value;
}

const KnownValue* sequence_input(const RuleInput& in) {
  const KnownValue* value = in.input(0);
  return value && value->is_sequence ? value : nullptr;
}

Outputs construct_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty() || in.inputs.empty()) return outputs;
  std::optional<Dims> shared = in.shape(0) ? std::optional(*in.shape(0)) : std::nullopt;
  for (std::size_t k = 1; k < in.inputs.size(); ++k)
    if (!in.shape(k) || *in.shape(k) != shared) shared.reset();
  outputs[0] = sequence_of(in.type(0), shared, static_cast<std::int64_t>(in.inputs.size()));
  return outputs;
}

Outputs empty_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  std::optional<std::int32_t> dtype = static_cast<std::int32_t>(in.int_attribute("dtype", kFloat));
  outputs[0] = sequence_of(dtype, std::nullopt, 0);
  return outputs;
}

Outputs insert_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const KnownValue* sequence = sequence_input(in);
  if (outputs.empty() || !sequence) return outputs;
  std::optional<Dims> shared;
  if (in.shape(1) && (sequence->sequence_length == 0 || sequence->element_shape == *in.shape(1))) shared = *in.shape(1);
  std::optional<std::int64_t> length;
  if (sequence->sequence_length) length = *sequence->sequence_length + 1;
  outputs[0] = sequence_of(sequence->elem_type ? sequence->elem_type : in.type(1), shared, length);
  return outputs;
}

Outputs erase_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const KnownValue* sequence = sequence_input(in);
  if (outputs.empty() || !sequence) return outputs;
  std::optional<std::int64_t> length;
  if (sequence->sequence_length && *sequence->sequence_length > 0) length = *sequence->sequence_length - 1;
  outputs[0] = sequence_of(sequence->elem_type, sequence->element_shape, length);
  return outputs;
}

Outputs at_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const KnownValue* sequence = sequence_input(in);
  if (outputs.empty() || !sequence || !sequence->element_shape) return outputs;
  outputs[0] = shaped(sequence->elem_type, *sequence->element_shape);
  return outputs;
}

Outputs length_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const KnownValue* sequence = sequence_input(in);
  if (outputs.empty() || !sequence) return outputs;
  outputs[0] = shaped(kInt64, Dims{});
  if (sequence->sequence_length) outputs[0].ints = std::vector<std::int64_t>{*sequence->sequence_length};
  return outputs;
}

// Without `split`, pieces of 1 along the axis (kept or dropped by keepdims); a scalar split
// that divides the axis gives equal pieces.
Outputs split_to_sequence_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), x->size());
  if (!axis) return outputs;
  Dims element = *x;
  std::int64_t dim = (*x)[*axis];
  std::optional<std::int64_t> length;
  if (!in.has_input(1)) {
    length = dim;
    if (in.int_attribute("keepdims", 1) != 0) {
      element[*axis] = 1;
    } else {
      element.erase(element.begin() + static_cast<std::ptrdiff_t>(*axis));
    }
  } else {
    const std::vector<std::int64_t>* split = in.ints(1);
    if (!split || !in.shape(1) || !in.shape(1)->empty() || (*split)[0] <= 0 || dim % (*split)[0] != 0) {
      outputs[0] = sequence_of(in.type(0), std::nullopt, std::nullopt);
      return outputs;
    }
    element[*axis] = (*split)[0];
    length = dim / (*split)[0];
  }
  outputs[0] = sequence_of(in.type(0), element, length);
  return outputs;
}

Outputs concat_from_sequence_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const KnownValue* sequence = sequence_input(in);
  if (outputs.empty() || !sequence || !sequence->element_shape || !sequence->sequence_length) return outputs;
  Dims result = *sequence->element_shape;
  bool new_axis = in.int_attribute("new_axis", 0) != 0;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), result.size() + (new_axis ? 1 : 0));
  if (!axis) return outputs;
  if (new_axis) {
    result.insert(result.begin() + static_cast<std::ptrdiff_t>(*axis), *sequence->sequence_length);
  } else {
    result[*axis] *= *sequence->sequence_length;
  }
  outputs[0] = shaped(sequence->elem_type, result);
  return outputs;
}

constexpr std::array kSequenceRules{
    RuleEntry{"SequenceConstruct", construct_rule}, RuleEntry{"SequenceEmpty", empty_rule},
    RuleEntry{"SequenceInsert", insert_rule},       RuleEntry{"SequenceErase", erase_rule},
    RuleEntry{"SequenceAt", at_rule},               RuleEntry{"SequenceLength", length_rule},
    RuleEntry{"SplitToSequence", split_to_sequence_rule}, RuleEntry{"ConcatFromSequence", concat_from_sequence_rule},
};

}  // namespace

ShapeRule find_sequence_rule(std::string_view op_type) { return find_rule_in(kSequenceRules, op_type); }

}  // namespace tarnwick
