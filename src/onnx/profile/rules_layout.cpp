// Ops that move or select elements: reshapes, transposes, joins, splits, slices, gathers,
// padding, tiling, resizing and reductions.
#include <algorithm>
#include <array>
#include <cmath>
#include <set>

#include "onnx/profile/shape_rules.h"

namespace tarnwick {

namespace {

// The values of input `k` when they are integers carried by the propagation.
const std::vector<std::int64_t>* carried(const RuleInput& in, std::size_t k) { return in.ints(k); }

// The output keeps the input's element order: values carry over when the count still matches.
Outputs reshaped(const RuleInput& in, Dims result) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty()) return outputs;
  outputs[0] = shaped(in.type(0), result);
  const std::vector<std::int64_t>* values = carried(in, 0);
  std::optional<std::int64_t> count = dims_product(result);
  if (values && count && static_cast<std::size_t>(*count) == values->size()) outputs[0].ints = *values;
  return outputs;
}

Outputs reshape_rule(const RuleInput& in) {
  Outputs unknown(in.node.outputs.size());
  const std::vector<std::int64_t>* target = in.ints(1);
  const Dims* x = in.shape(0);
  if (unknown.empty() || !target) return unknown;
  bool allow_zero = in.opset >= 14 && in.int_attribute("allowzero", 0) != 0;
  Dims result;
  std::optional<std::size_t> inferred;
  for (std::size_t k = 0; k < target->size(); ++k) {
    std::int64_t dim = (*target)[k];
    if (dim == 0 && !allow_zero) {
      if (!x || k >= x->size()) return unknown;
      dim = (*x)[k];
    } else if (dim == -1) {
      if (inferred) return unknown;
      inferred = k;
      dim = 1;
    } else if (dim < 0) {
      return unknown;
    }
    result.push_back(dim);
  }
  if (inferred) {
    if (!x) return unknown;
    std::optional<std::int64_t> total = dims_product(*x);
    std::optional<std::int64_t> known = dims_product(result);
    if (!total || !known || *known == 0 || *total % *known != 0) return unknown;
    result[*inferred] = *total / *known;
  } else if (x) {
    if (dims_product(*x) != dims_product(result)) return unknown;
  }
  return reshaped(in, result);
}

Outputs flatten_rule(const RuleInput& in) {
  const Dims* x = in.shape(0);
  if (!x) return Outputs(in.node.outputs.size());
  std::int64_t axis = in.int_attribute("axis", 1);
  if (axis < 0) axis += static_cast<std::int64_t>(x->size());
  if (axis < 0 || axis > static_cast<std::int64_t>(x->size())) return Outputs(in.node.outputs.size());
  std::optional<std::int64_t> outer = dims_product(Dims(x->begin(), x->begin() + axis));
  std::optional<std::int64_t> inner = dims_product(Dims(x->begin() + axis, x->end()));
  if (!outer || !inner) return Outputs(in.node.outputs.size());
  return reshaped(in, Dims{*outer, *inner});
}

// Squeeze and Unsqueeze take their axes as an attribute before opset 13 and as an input since.
std::optional<std::vector<std::int64_t>> axes_of(const RuleInput& in, std::int64_t input_from_opset,
                                                 std::size_t input_index, bool& given) {
  if (in.opset >= input_from_opset) {
    given = in.has_input(input_index);
    if (!given) return std::vector<std::int64_t>{};
    const std::vector<std::int64_t>* values = in.ints(input_index);
    if (!values) return std::nullopt;
    return *values;
  }
  const std::vector<std::int64_t>* stored = in.ints_attribute("axes");
  given = stored != nullptr;
  return stored ? *stored : std::vector<std::int64_t>{};
}

Outputs squeeze_rule(const RuleInput& in) {
  Outputs unknown(in.node.outputs.size());
  const Dims* x = in.shape(0);
  bool given = false;
  std::optional<std::vector<std::int64_t>> axes = axes_of(in, 13, 1, given);
  if (!x || !axes) return unknown;
  std::set<std::size_t> removed;
  if (axes->empty()) {
    for (std::size_t k = 0; k < x->size(); ++k)
      if ((*x)[k] == 1) removed.insert(k);
  }
  for (std::int64_t axis : *axes) {
    std::optional<std::size_t> normal = normalize_axis(axis, x->size());
    if (!normal || (*x)[*normal] != 1) return unknown;
    removed.insert(*normal);
  }
  Dims result;
  for (std::size_t k = 0; k < x->size(); ++k)
    if (!removed.count(k)) result.push_back((*x)[k]);
  return reshaped(in, result);
}

Outputs unsqueeze_rule(const RuleInput& in) {
  Outputs unknown(in.node.outputs.size());
  const Dims* x = in.shape(0);
  bool given = false;
  std::optional<std::vector<std::int64_t>> axes = axes_of(in, 13, 1, given);
  if (!x || !axes || axes->empty()) return unknown;
  std::size_t rank = x->size() + axes->size();
  std::set<std::size_t> inserted;
  for (std::int64_t axis : *axes) {
    std::optional<std::size_t> normal = normalize_axis(axis, rank);
    if (!normal || !inserted.insert(*normal).second) return unknown;
  }
  Dims result;
  std::size_t next = 0;
  for (std::size_t k = 0; k < rank; ++k) result.push_back(inserted.count(k) ? 1 : (*x)[next++]);
  return reshaped(in, result);
}

Outputs transpose_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::vector<std::int64_t> perm;
  const std::vector<std::int64_t>* stored = in.ints_attribute("perm");
  if (stored && !stored->empty()) {
    perm = *stored;
  } else {
    for (std::size_t k = x->size(); k > 0; --k) perm.push_back(static_cast<std::int64_t>(k - 1));
  }
  if (perm.size() != x->size()) return outputs;
  std::set<std::size_t> seen;
  std::vector<std::size_t> source_axis;
  Dims result;
  for (std::int64_t axis : perm) {
    std::optional<std::size_t> normal = normalize_axis(axis, x->size());
    if (!normal || !seen.insert(*normal).second) return outputs;
    source_axis.push_back(*normal);
    result.push_back((*x)[*normal]);
  }
  outputs[0] = shaped(in.type(0), result);
  const std::vector<std::int64_t>* source = carried(in, 0);
  std::optional<std::size_t> count = trackable_count(result);
  if (!source || !count) return outputs;
  std::vector<std::int64_t> from_strides = strides_of(*x);
  std::vector<std::int64_t> values;
  for (std::size_t flat = 0; flat < *count; ++flat) {
    std::size_t rest = flat, offset = 0;
    for (std::size_t d = result.size(); d > 0; --d) {
      auto dim = static_cast<std::size_t>(result[d - 1]);
      offset += (rest % dim) * static_cast<std::size_t>(from_strides[source_axis[d - 1]]);
      rest /= dim;
    }
    values.push_back((*source)[offset]);
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs concat_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty() || in.inputs.empty()) return outputs;
  for (std::size_t k = 0; k < in.inputs.size(); ++k)
    if (!in.shape(k)) return outputs;
  Dims result = *in.shape(0);
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), result.size());
  if (!axis) return outputs;
  for (std::size_t k = 1; k < in.inputs.size(); ++k) {
    const Dims& shape = *in.shape(k);
    if (shape.size() != result.size()) return outputs;
    for (std::size_t d = 0; d < shape.size(); ++d) {
      if (d == *axis) {
        if (__builtin_add_overflow(result[d], shape[d], &result[d])) return outputs;
      } else if (shape[d] != result[d]) {
        return outputs;
      }
    }
  }
  outputs[0] = shaped(in.type(0), result);
  // Values: each input contributes its block of (axis dim x inner) per outer index.
  std::optional<std::int64_t> count = dims_product(result);
  if (!count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return outputs;
  std::int64_t outer = dims_product(Dims(result.begin(), result.begin() + static_cast<std::ptrdiff_t>(*axis))).value_or(0);
  std::vector<std::int64_t> values;
  for (std::int64_t o = 0; o < outer; ++o) {
    for (std::size_t k = 0; k < in.inputs.size(); ++k) {
      const std::vector<std::int64_t>* source = carried(in, k);
      if (!source) return outputs;
      const Dims& shape = *in.shape(k);
      std::int64_t block = dims_product(Dims(shape.begin() + static_cast<std::ptrdiff_t>(*axis), shape.end())).value_or(0);
      for (std::int64_t e = 0; e < block; ++e) values.push_back((*source)[static_cast<std::size_t>(o * block + e)]);
    }
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs split_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), x->size());
  if (!axis) return outputs;
  std::int64_t total = (*x)[*axis];
  std::vector<std::int64_t> sizes;
  if (in.opset >= 13 && in.has_input(1)) {
    if (!in.ints(1)) return outputs;
    sizes = *in.ints(1);
  } else if (in.opset < 13 && in.ints_attribute("split") && !in.ints_attribute("split")->empty()) {
    sizes = *in.ints_attribute("split");
  } else {
    auto parts = static_cast<std::int64_t>(outputs.size());
    if (in.opset >= 18) {
      parts = in.int_attribute("num_outputs", parts);
      if (parts != static_cast<std::int64_t>(outputs.size()) || parts <= 0) return outputs;
      std::int64_t chunk = (total + parts - 1) / parts;
      for (std::int64_t k = 0; k < parts; ++k) sizes.push_back(std::max<std::int64_t>(0, std::min(chunk, total - k * chunk)));
    } else {
      if (parts <= 0 || total % parts != 0) return outputs;
      sizes.assign(static_cast<std::size_t>(parts), total / parts);
    }
  }
  if (sizes.size() != outputs.size()) return outputs;
  std::int64_t sum = 0;
  for (std::int64_t size : sizes) {
    if (size < 0 || __builtin_add_overflow(sum, size, &sum)) return outputs;
  }
  if (sum != total) return outputs;
  const std::vector<std::int64_t>* source = carried(in, 0);
  std::int64_t outer = dims_product(Dims(x->begin(), x->begin() + static_cast<std::ptrdiff_t>(*axis))).value_or(0);
  std::int64_t inner = dims_product(Dims(x->begin() + static_cast<std::ptrdiff_t>(*axis) + 1, x->end())).value_or(0);
  std::int64_t offset = 0;
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    Dims result = *x;
    result[*axis] = sizes[k];
    outputs[k] = shaped(in.type(0), result);
    if (source) {
      std::vector<std::int64_t> values;
      for (std::int64_t o = 0; o < outer; ++o)
        for (std::int64_t e = 0; e < sizes[k] * inner; ++e)
          values.push_back((*source)[static_cast<std::size_t>((o * total + offset) * inner + e)]);
      outputs[k].ints = std::move(values);
    }
    offset += sizes[k];
  }
  return outputs;
}

Outputs slice_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::vector<std::int64_t> starts, ends, axes, steps;
  if (in.opset < 10) {
    if (!in.ints_attribute("starts") || !in.ints_attribute("ends")) return outputs;
    starts = *in.ints_attribute("starts");
    ends = *in.ints_attribute("ends");
    if (in.ints_attribute("axes")) axes = *in.ints_attribute("axes");
  } else {
    if (!in.ints(1) || !in.ints(2)) return outputs;
    starts = *in.ints(1);
    ends = *in.ints(2);
    if (in.has_input(3)) {
      if (!in.ints(3)) return outputs;
      axes = *in.ints(3);
    }
    if (in.has_input(4)) {
      if (!in.ints(4)) return outputs;
      steps = *in.ints(4);
    }
  }
  if (axes.empty())
    for (std::size_t k = 0; k < starts.size(); ++k) axes.push_back(static_cast<std::int64_t>(k));
  if (steps.empty()) steps.assign(starts.size(), 1);
  if (ends.size() != starts.size() || axes.size() != starts.size() || steps.size() != starts.size()) return outputs;
  Dims result = *x;
  std::vector<std::int64_t> first(x->size(), 0), step(x->size(), 1);
  std::set<std::size_t> seen;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::optional<std::size_t> axis = normalize_axis(axes[k], x->size());
    if (!axis || !seen.insert(*axis).second || steps[k] == 0) return outputs;
    std::int64_t dim = (*x)[*axis];
    std::int64_t start = starts[k], end = ends[k];
    if (start < 0) start += dim;
    if (end < 0) end += dim;
    std::int64_t length = 0;
    if (dim == 0) {
      start = 0;
    } else if (steps[k] > 0) {
      start = std::clamp<std::int64_t>(start, 0, dim);
      end = std::clamp<std::int64_t>(end, 0, dim);
      length = end > start ? 1 + (end - start - 1) / steps[k] : 0;
    } else {
      start = std::clamp<std::int64_t>(start, 0, dim - 1);
      end = std::clamp<std::int64_t>(end, -1, dim - 1);
      length = start <= end ? 0 : steps[k] == INT64_MIN ? 1 : 1 + (start - end - 1) / -steps[k];
    }
    result[*axis] = length;
    first[*axis] = start;
    step[*axis] = steps[k];
  }
  outputs[0] = shaped(in.type(0), result);
  const std::vector<std::int64_t>* source = carried(in, 0);
  std::optional<std::int64_t> count = dims_product(result);
  if (!source || !count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return outputs;
  std::vector<std::int64_t> from_strides = strides_of(*x);
  std::vector<std::int64_t> values;
  for (std::int64_t flat = 0; flat < *count; ++flat) {
    std::int64_t rest = flat, offset = 0;
    for (std::size_t d = result.size(); d > 0; --d) {
      std::int64_t index = rest % result[d - 1];
      rest /= result[d - 1];
      offset += (first[d - 1] + index * step[d - 1]) * from_strides[d - 1];
    }
    values.push_back((*source)[static_cast<std::size_t>(offset)]);
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs gather_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* data = in.shape(0);
  const Dims* indices = in.shape(1);
  if (outputs.empty() || !data || !indices || data->empty()) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), data->size());
  if (!axis) return outputs;
  Dims result(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(*axis));
  result.insert(result.end(), indices->begin(), indices->end());
  result.insert(result.end(), data->begin() + static_cast<std::ptrdiff_t>(*axis) + 1, data->end());
  outputs[0] = shaped(in.type(0), result);
  const std::vector<std::int64_t>* source = carried(in, 0);
  const std::vector<std::int64_t>* picks = in.ints(1);
  std::optional<std::int64_t> count = dims_product(result);
  if (!source || !picks || !count || static_cast<std::size_t>(*count) > kMaxTrackedValues) return outputs;
  std::int64_t dim = (*data)[*axis];
  std::int64_t outer = dims_product(Dims(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(*axis))).value_or(0);
  std::int64_t inner = dims_product(Dims(data->begin() + static_cast<std::ptrdiff_t>(*axis) + 1, data->end())).value_or(0);
  std::vector<std::int64_t> values;
  for (std::int64_t o = 0; o < outer; ++o) {
    for (std::int64_t pick : *picks) {
      if (pick < 0) pick += dim;
      if (pick < 0 || pick >= dim) return outputs;
      for (std::int64_t e = 0; e < inner; ++e)
        values.push_back((*source)[static_cast<std::size_t>((o * dim + pick) * inner + e)]);
    }
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs gather_elements_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty() || !in.shape(1) || !in.shape(0) || in.shape(0)->size() != in.shape(1)->size()) return outputs;
  outputs[0] = shaped(in.type(0), *in.shape(1));
  return outputs;
}

// ScatterND, ScatterElements, Scatter and EyeLike: the data's (or input's) shape and type.
Outputs keep_data_shape(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  if (outputs.empty() || !in.shape(0)) return outputs;
  std::optional<std::int32_t> type = in.type(0);
  if (in.node.op_type == "EyeLike" && in.node.attribute("dtype")) type = static_cast<std::int32_t>(in.int_attribute("dtype", kFloat));
  outputs[0] = shaped(type, *in.shape(0));
  return outputs;
}

// GatherND: indices' leading dims, then the data dims the last index dim does not address.
Outputs gather_nd_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* data = in.shape(0);
  const Dims* indices = in.shape(1);
  if (outputs.empty() || !data || !indices || indices->empty()) return outputs;
  std::int64_t batch = in.int_attribute("batch_dims", 0);
  std::int64_t depth = indices->back();
  if (batch < 0 || depth < 1 || batch + depth > static_cast<std::int64_t>(data->size())) return outputs;
  Dims result(indices->begin(), indices->end() - 1);
  result.insert(result.end(), data->begin() + batch + depth, data->end());
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

Outputs expand_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  const std::vector<std::int64_t>* target = in.ints(1);
  if (outputs.empty() || !x || !target) return outputs;
  for (std::int64_t dim : *target)
    if (dim < 0) return outputs;
  std::optional<Dims> result = broadcast(*x, *target);
  if (!result) return outputs;
  outputs[0] = shaped(in.type(0), *result);
  const std::vector<std::int64_t>* source = carried(in, 0);
  std::optional<std::size_t> count = trackable_count(*result);
  if (!source || !count) return outputs;
  std::vector<std::int64_t> values;
  for (std::size_t flat = 0; flat < *count; ++flat) values.push_back((*source)[broadcast_source(flat, *result, *x)]);
  outputs[0].ints = std::move(values);
  return outputs;
}

Outputs pad_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::vector<std::int64_t> pads;
  if (in.opset < 11) {
    if (!in.ints_attribute("pads")) return outputs;
    pads = *in.ints_attribute("pads");
  } else {
    if (!in.ints(1)) return outputs;
    pads = *in.ints(1);
  }
  std::vector<std::size_t> axes;
  if (in.opset >= 18 && in.has_input(3)) {
    if (!in.ints(3)) return outputs;
    for (std::int64_t axis : *in.ints(3)) {
      std::optional<std::size_t> normal = normalize_axis(axis, x->size());
      if (!normal) return outputs;
      axes.push_back(*normal);
    }
  } else {
    for (std::size_t k = 0; k < x->size(); ++k) axes.push_back(k);
  }
  if (pads.size() != 2 * axes.size()) return outputs;
  Dims result = *x;
  for (std::size_t k = 0; k < axes.size(); ++k) {
      WideInt padded = WideInt(result[axes[k]]) + pads[k] + pads[k + axes.size()];
    if (padded < 0 || padded > INT64_MAX) return outputs;
    result[axes[k]] = static_cast<std::int64_t>(padded);
  }
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

Outputs tile_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  const std::vector<std::int64_t>* repeats = in.ints(1);
  if (outputs.empty() || !x || !repeats || repeats->size() != x->size()) return outputs;
  Dims result = *x;
  for (std::size_t k = 0; k < result.size(); ++k) {
    if ((*repeats)[k] < 0 || __builtin_mul_overflow(result[k], (*repeats)[k], &result[k])) return outputs;
  }
  outputs[0] = shaped(in.type(0), result);
  const std::vector<std::int64_t>* source = carried(in, 0);
  std::optional<std::size_t> count = trackable_count(result);
  if (!source || !count) return outputs;
  std::vector<std::int64_t> from_strides = strides_of(*x);
  std::vector<std::int64_t> values;
  for (std::size_t flat = 0; flat < *count; ++flat) {
    std::size_t rest = flat, offset = 0;
    for (std::size_t d = result.size(); d > 0; --d) {
      auto index = rest % static_cast<std::size_t>(result[d - 1]);
      rest /= static_cast<std::size_t>(result[d - 1]);
      offset += index % static_cast<std::size_t>((*x)[d - 1]) * static_cast<std::size_t>(from_strides[d - 1]);
    }
    values.push_back((*source)[offset]);
  }
  outputs[0].ints = std::move(values);
  return outputs;
}

// Resize (roi, scales, sizes as inputs 1..3 since opset 11; scales as input 1 in opset 10) and
// Upsample (scales as input 1, or an attribute in opset 7).
Outputs resize_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  bool resize = in.node.op_type == "Resize";
  std::size_t scales_index = resize && in.opset >= 11 ? 2 : 1;
  if (resize && in.opset >= 11 && in.has_input(3)) {
    const std::vector<std::int64_t>* sizes = in.ints(3);
    if (!sizes || sizes->size() != x->size() || in.ints_attribute("axes")) return outputs;
    outputs[0] = shaped(in.type(0), *sizes);
    return outputs;
  }
  std::vector<double> scales;
  if (in.has_input(scales_index)) {
    const KnownValue* value = in.input(scales_index);
    if (!value->reals) return outputs;
    scales = *value->reals;
  } else if (const OnnxAttribute* stored = in.node.attribute("scales")) {
    scales.assign(stored->floats.begin(), stored->floats.end());
  }
  if (scales.size() != x->size()) return outputs;
  Dims result;
  for (std::size_t k = 0; k < x->size(); ++k) {
    double size = std::floor(static_cast<double>((*x)[k]) * scales[k]);
    if (!(size >= 0) || size > 9.0e18) return outputs;
    result.push_back(static_cast<std::int64_t>(size));
  }
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

// Sums, products, minima and maxima of small integer tensors over the `reduced` axes.
std::optional<std::vector<std::int64_t>> reduced_values(std::string_view op, const Dims& x, const std::set<std::size_t>& reduced,
                                                        const std::vector<std::int64_t>& source) {
  bool sum = op == "ReduceSum", prod = op == "ReduceProd", min = op == "ReduceMin", max = op == "ReduceMax";
  if (!sum && !prod && !min && !max) return std::nullopt;
  Dims kept = x;
  for (std::size_t axis : reduced) kept[axis] = 1;
  std::optional<std::size_t> count = trackable_count(kept);
  if (!count || source.empty()) return std::nullopt;
  std::vector<std::optional<std::int64_t>> acc(*count);
  std::vector<std::int64_t> kept_strides = strides_of(kept);
  for (std::size_t flat = 0; flat < source.size(); ++flat) {
    std::size_t rest = flat, target = 0;
    for (std::size_t d = x.size(); d > 0; --d) {
      auto index = rest % static_cast<std::size_t>(x[d - 1]);
      rest /= static_cast<std::size_t>(x[d - 1]);
      if (!reduced.count(d - 1)) target += index * static_cast<std::size_t>(kept_strides[d - 1]);
    }
    std::int64_t value = source[flat];
    std::optional<std::int64_t>& slot = acc[target];
    if (!slot) {
      slot = value;
    } else if (sum) {
      if (__builtin_add_overflow(*slot, value, &*slot)) return std::nullopt;
    } else if (prod) {
      if (__builtin_mul_overflow(*slot, value, &*slot)) return std::nullopt;
    } else {
      slot = min ? std::min(*slot, value) : std::max(*slot, value);
    }
  }
  std::vector<std::int64_t> values;
  for (const auto& slot : acc) {
    if (!slot && (min || max)) return std::nullopt;
    values.push_back(slot.value_or(prod ? 1 : 0));
  }
  return values;
}

// Reduce*: axes as an attribute, or as input 1 (ReduceSum from opset 13, the others from 18).
Outputs reduce_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::int64_t axes_input_from = in.node.op_type == "ReduceSum" ? 13 : 18;
  bool given = false;
  std::optional<std::vector<std::int64_t>> axes = axes_of(in, axes_input_from, 1, given);
  if (!axes) return outputs;
  bool keep = in.int_attribute("keepdims", 1) != 0;
  if (axes->empty()) {
    if (in.opset >= axes_input_from && in.int_attribute("noop_with_empty_axes", 0) != 0) {
      outputs[0] = shaped(in.type(0), *x);
      return outputs;
    }
    for (std::size_t k = 0; k < x->size(); ++k) axes->push_back(static_cast<std::int64_t>(k));
  }
  std::set<std::size_t> reduced;
  for (std::int64_t axis : *axes) {
    std::optional<std::size_t> normal = normalize_axis(axis, x->size());
    if (!normal) return outputs;
    reduced.insert(*normal);
  }
  Dims result;
  for (std::size_t k = 0; k < x->size(); ++k) {
    if (!reduced.count(k)) {
      result.push_back((*x)[k]);
    } else if (keep) {
      result.push_back(1);
    }
  }
  outputs[0] = shaped(in.type(0), result);
  if (const std::vector<std::int64_t>* source = carried(in, 0)) outputs[0].ints = reduced_values(in.node.op_type, *x, reduced, *source);
  return outputs;
}

Outputs arg_reduce_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", 0), x->size());
  if (!axis) return outputs;
  Dims result = *x;
  if (in.int_attribute("keepdims", 1) != 0) {
    result[*axis] = 1;
  } else {
    result.erase(result.begin() + static_cast<std::ptrdiff_t>(*axis));
  }
  outputs[0] = shaped(kInt64, result);
  return outputs;
}

Outputs top_k_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  if (outputs.empty() || !x) return outputs;
  std::optional<std::size_t> axis = normalize_axis(in.int_attribute("axis", -1), x->size());
  std::int64_t k = in.opset >= 10 ? (in.ints(1) && in.ints(1)->size() == 1 ? (*in.ints(1))[0] : -1)
                                   : in.int_attribute("k", -1);
  if (!axis || k < 0 || k > (*x)[*axis]) return outputs;
  Dims result = *x;
  result[*axis] = k;
  outputs[0] = shaped(in.type(0), result);
  if (outputs.size() > 1) outputs[1] = shaped(kInt64, result);
  return outputs;
}

Outputs depth_space_rule(const RuleInput& in) {
  Outputs outputs(in.node.outputs.size());
  const Dims* x = in.shape(0);
  std::int64_t block = in.int_attribute("blocksize", 0);
  if (outputs.empty() || !x || x->size() != 4 || block <= 0 || block > (1 << 20)) return outputs;
  Dims result = *x;
  if (in.node.op_type == "DepthToSpace") {
    if (result[1] % (block * block) != 0) return outputs;
    if (result[2] > INT64_MAX / block || result[3] > INT64_MAX / block) return outputs;
    result = {result[0], result[1] / (block * block), result[2] * block, result[3] * block};
  } else {
    if (result[2] % block != 0 || result[3] % block != 0) return outputs;
    if (result[1] > INT64_MAX / (block * block)) return outputs;
    result = {result[0], result[1] * block * block, result[2] / block, result[3] / block};
  }
  outputs[0] = shaped(in.type(0), result);
  return outputs;
}

constexpr std::array kLayoutRules{
    RuleEntry{"Reshape", reshape_rule},
    RuleEntry{"Flatten", flatten_rule},
    RuleEntry{"Squeeze", squeeze_rule},
    RuleEntry{"Unsqueeze", unsqueeze_rule},
    RuleEntry{"Transpose", transpose_rule},
    RuleEntry{"Concat", concat_rule},
    RuleEntry{"Split", split_rule},
    RuleEntry{"Slice", slice_rule},
    RuleEntry{"Gather", gather_rule},
    RuleEntry{"GatherElements", gather_elements_rule},
    RuleEntry{"GatherND", gather_nd_rule},
    RuleEntry{"ScatterND", keep_data_shape},
    RuleEntry{"ScatterElements", keep_data_shape},
    RuleEntry{"Scatter", keep_data_shape},
    RuleEntry{"EyeLike", keep_data_shape},
    RuleEntry{"Expand", expand_rule},
    RuleEntry{"Pad", pad_rule},
    RuleEntry{"Tile", tile_rule},
    RuleEntry{"Resize", resize_rule},
    RuleEntry{"Upsample", resize_rule},
    RuleEntry{"ReduceSum", reduce_rule},
    RuleEntry{"ReduceMean", reduce_rule},
    RuleEntry{"ReduceMax", reduce_rule},
    RuleEntry{"ReduceMin", reduce_rule},
    RuleEntry{"ReduceProd", reduce_rule},
    RuleEntry{"ReduceL1", reduce_rule},
    RuleEntry{"ReduceL2", reduce_rule},
    RuleEntry{"ReduceLogSum", reduce_rule},
    RuleEntry{"ReduceLogSumExp", reduce_rule},
    RuleEntry{"ReduceSumSquare", reduce_rule},
    RuleEntry{"ArgMax", arg_reduce_rule},
    RuleEntry{"ArgMin", arg_reduce_rule},
    RuleEntry{"TopK", top_k_rule},
    RuleEntry{"DepthToSpace", depth_space_rule},
    RuleEntry{"SpaceToDepth", depth_space_rule},
};

}  // namespace

ShapeRule find_layout_rule(std::string_view op_type) { return find_rule_in(kLayoutRules, op_type); }

}  // namespace tarnwick
