#include "base/file_read.h"
#include "model/model.h"
#include "model/plan_spec.h"

namespace tarnwick {

namespace {

// The spec's values move into the tensor: a plan may hold millions of them.
Result<Tensor> convert(TensorSpec& spec, const char* name) {
  Result<Tensor> tensor = Tensor::create(spec.shape, std::move(spec.data));
  if (!tensor.is_ok()) return fail(std::string(name) + ": " + tensor.message());
  return tensor;
}

const char* kLinearNeedsOut = "shape-only linear layer needs `out`";

Result<Tensor> zero_tensor(const Shape& shape, const char* name) {
  std::optional<std::uint64_t> values = checked_shape_product(shape);
  if (!values || *values > kMaxShapeValues) {
    return fail(std::string(name) + ": shape " + shape_text(shape) + " is too large for the tensor lab (more than " +
                std::to_string(kMaxShapeValues) + " values)");
  }
  return Tensor::deferred(shape);
}

Result<Shape> derived_input_shape(const LayerSpec& first) {
  switch (first.type) {
    case LayerType::Linear: {
      if (first.in) return Shape{1, *first.in};
      if (first.weights && !first.weights->shape.empty()) return Shape{1, first.weights->shape[0]};
      return fail("shape-only linear first layer needs `in` or weights shape");
    }
    case LayerType::SelfAttention: {
      if (!first.tokens) return fail("shape-only self_attention first layer needs `tokens` or input_shape");
      if (first.features) return Shape{*first.tokens, *first.features};
      if (first.head_dim) return Shape{*first.tokens, *first.head_dim};
      if (first.wq && !first.wq->shape.empty()) return Shape{*first.tokens, first.wq->shape[0]};
      return fail("shape-only self_attention first layer needs `features`, `head_dim`, or Wq shape");
    }
    default: return fail("first layer needs input, input_shape, or a shape-bearing linear/self_attention layer");
  }
}

Result<Tensor> resolve_input(ModelSpec& spec) {
  if (spec.input) return convert(*spec.input, "input");
  if (spec.input_shape) return zero_tensor(*spec.input_shape, "input");
  if (spec.layers.empty()) return fail("model must define input, input_shape, or at least one layer");
  Result<Shape> shape = derived_input_shape(spec.layers.front());
  if (!shape.is_ok()) return shape.error();
  return zero_tensor(shape.value(), "input");
}

// The activation shape between layers. It can be lost when a layer leaves nothing to take a
// dimension from (a rank-0 input, a weight matrix with fewer than two dimensions); a later
// shape-only layer that needs it then fails with `lost_reason`.
struct RunningShape {
  std::optional<Shape> shape;
  std::string lost_reason;
};

Result<Shape> rank2(const RunningShape& running, const char* message) {
  if (!running.shape) return fail(running.lost_reason);
  if (running.shape->size() != 2) return fail(message);
  return *running.shape;
}

Result<LinearLayer> resolve_linear(LayerSpec& spec, const RunningShape& running) {
  std::optional<std::uint64_t> out = spec.out ? spec.out : spec.out_features;
  LinearLayer layer;
  if (spec.weights) {
    Result<Tensor> weights = convert(*spec.weights, "weights");
    if (!weights.is_ok()) return weights.error();
    layer.weights = weights.take();
  } else {
    Result<Shape> input = rank2(running, "shape-only linear layer needs rank-2 input [batch, in_features]");
    if (!input.is_ok()) return input.error();
    if (!out) return fail(kLinearNeedsOut);
    Result<Tensor> weights = zero_tensor({spec.in ? *spec.in : input.value()[1], *out}, "weights");
    if (!weights.is_ok()) return weights.error();
    layer.weights = weights.take();
  }
  if (spec.bias) {
    Result<Tensor> bias = convert(*spec.bias, "bias");
    if (!bias.is_ok()) return bias.error();
    layer.bias = bias.take();
  } else {
    if (!out) return fail(kLinearNeedsOut);
    Result<Tensor> bias = zero_tensor({*out}, "bias");
    if (!bias.is_ok()) return bias.error();
    layer.bias = bias.take();
  }
  return layer;
}

Result<Tensor> resolve_projection(std::optional<TensorSpec>& given, const char* name, const LayerSpec& spec,
                                  std::optional<std::uint64_t> dimension, const RunningShape& running) {
  if (given) return convert(*given, name);
  Result<Shape> input = rank2(running, "shape-only self_attention layer needs rank-2 input [tokens, features]");
  if (!input.is_ok()) return input.error();
  if (spec.tokens && *spec.tokens != input.value()[0]) {
    return fail("shape-only self_attention tokens=" + std::to_string(*spec.tokens) +
                " does not match input tokens=" + std::to_string(input.value()[0]));
  }
  if (!dimension) return fail("shape-only self_attention layer needs `head_dim`");
  return zero_tensor({spec.features ? *spec.features : input.value()[1], *dimension}, name);
}

Result<AttentionLayer> resolve_attention(LayerSpec& spec, const RunningShape& running) {
  AttentionLayer layer;
  Result<Tensor> wq = resolve_projection(spec.wq, "wq", spec, spec.head_dim, running);
  if (!wq.is_ok()) return wq.error();
  Result<Tensor> wk = resolve_projection(spec.wk, "wk", spec, spec.head_dim, running);
  if (!wk.is_ok()) return wk.error();
  Result<Tensor> wv = resolve_projection(spec.wv, "wv", spec, spec.value_dim ? spec.value_dim : spec.head_dim, running);
  if (!wv.is_ok()) return wv.error();
  return AttentionLayer{wq.take(), wk.take(), wv.take()};
}

// [S[0], matrix columns], when both exist.
void advance(RunningShape& running, const Tensor& matrix, const std::string& layer_name, const char* matrix_name) {
  if (!running.shape) return;
  if (running.shape->empty() || matrix.shape.size() < 2) {
    running.lost_reason = "cannot follow the shape after layer `" + layer_name + "`: its input " +
                          shape_text(*running.shape) + " and " + matrix_name + " " + shape_text(matrix.shape) +
                          " leave no [rows, columns] to continue from";
    running.shape.reset();
    return;
  }
  running.shape = Shape{running.shape->front(), matrix.shape[1]};
}

Result<Layer> resolve_layer(LayerSpec& spec, std::size_t position, RunningShape& running) {
  Layer layer;
  layer.name = spec.name ? *spec.name : "layer_" + std::to_string(position);
  layer.explain = spec.explain;
  switch (spec.type) {
    case LayerType::Linear: {
      Result<LinearLayer> linear = resolve_linear(spec, running);
      if (!linear.is_ok()) return linear.error();
      advance(running, linear.value().weights, layer.name, "weights");
      layer.kind = linear.take();
      break;
    }
    case LayerType::SelfAttention: {
      Result<AttentionLayer> attention = resolve_attention(spec, running);
      if (!attention.is_ok()) return attention.error();
      advance(running, attention.value().wv, layer.name, "wv");
      layer.kind = attention.take();
      break;
    }
    case LayerType::Relu: layer.kind = ReluLayer{}; break;
    case LayerType::Gelu: layer.kind = GeluLayer{}; break;
    case LayerType::Softmax: layer.kind = SoftmaxLayer{}; break;
  }
  return layer;
}

}  // namespace

Result<Model> load_model_text(const std::string& path, std::string_view text) {
  Result<ModelSpec> spec = [&]() -> Result<ModelSpec> {
    Result<PlanValue> root = parse_plan_json(text);
    if (!root.is_ok()) return fail("parse " + path + ": " + root.message());
    Result<ModelSpec> read = read_model_spec(root.value());
    if (!read.is_ok()) return fail("parse " + path + ": " + read.message());
    return read;
  }();  // the value tree is gone before the tensors are made
  if (!spec.is_ok()) return spec.error();
  ModelSpec plan = spec.take();

  Model model;
  Result<Tensor> input = resolve_input(plan);
  if (!input.is_ok()) return input.error();
  model.input = input.take();
  RunningShape running{model.input.shape, ""};
  for (std::size_t i = 0; i < plan.layers.size(); ++i) {
    Result<Layer> layer = resolve_layer(plan.layers[i], i + 1, running);
    if (!layer.is_ok()) return layer.error();
    model.layers.push_back(layer.take());
  }
  if (plan.name) model.name = *plan.name;
  model.description = plan.description;
  model.labels = plan.labels;
  return model;
}

Result<Model> load_model(const std::string& path) {
  Result<FileBytes> text = read_whole_file(path);
  if (!text.is_ok()) return text.error();
  return load_model_text(path, text.value().view());
}

}  // namespace tarnwick
