#include "model/plan_spec.h"

#include <algorithm>
#include <array>
#include <map>

namespace tarnwick {

namespace {

using Type = PlanValue::Type;

// The members of one JSON object that a record knows, checked for duplicates.
class Fields {
 public:
  static Result<Fields> open(const PlanValue& value, const std::string& expected,
                             std::initializer_list<const char*> known) {
    if (value.type != Type::Object) return invalid_type(value, expected);
    Fields fields(value);
    for (const PlanMember& member : value.members) {
      auto is_key = [&](const char* k) { return member.key == k; };
      if (std::find_if(known.begin(), known.end(), is_key) == known.end()) continue;
      if (!fields.present_.emplace(member.key, &member.value).second) {
        return error_at(member.value, "duplicate field `" + member.key + "`");
      }
    }
    return fields;
  }

  // The member, or nullptr when it is absent or null (an optional field left out).
  const PlanValue* optional(const char* key) const {
    auto found = present_.find(key);
    if (found == present_.end() || found->second->type == Type::Null) return nullptr;
    return found->second;
  }
  Result<const PlanValue*> required(const char* key) const {
    auto found = present_.find(key);
    if (found == present_.end()) return error_at(object_, std::string("missing field `") + key + "`");
    return found->second;
  }

 private:
  explicit Fields(const PlanValue& object) : object_(object) {}
  const PlanValue& object_;
  std::map<std::string, const PlanValue*, std::less<>> present_;
};

Result<std::string> read_string(const PlanValue& value) {
  if (value.type != Type::String) return invalid_type(value, "a string");
  return value.text;
}

Result<std::uint64_t> read_count(const PlanValue& value) {
  if (value.type == Type::Unsigned) return value.unsigned_integer;
  if (value.type == Type::Integer) {
    if (value.integer >= 0) return static_cast<std::uint64_t>(value.integer);
    return error_at(value, "invalid value: integer `" + std::to_string(value.integer) + "`, expected u64");
  }
  return invalid_type(value, "u64");
}

Result<float> read_f32(const PlanValue& value) {
  switch (value.type) {
    case Type::Unsigned: return static_cast<float>(value.unsigned_integer);
    case Type::Integer: return static_cast<float>(value.integer);
    case Type::Float: return static_cast<float>(value.real);
    default: return invalid_type(value, "f32");
  }
}

template <class T, class Read>
Result<std::vector<T>> read_sequence(const PlanValue& value, Read read) {
  if (value.type != Type::Array) return invalid_type(value, "a sequence");
  std::vector<T> items;
  items.reserve(item_count(value));
  Status read_all = for_each_item(value, [&](const PlanValue& item) -> Status {
    Result<T> read_item = read(item);
    if (!read_item.is_ok()) return read_item.error();
    items.push_back(read_item.take());
    return Status::ok();
  });
  if (!read_all.is_ok()) return read_all.error();
  return items;
}

// Reads an optional member into `into`; a present value of the wrong type is an error.
template <class T, class Read>
Status read_optional(const Fields& fields, const char* key, std::optional<T>& into, Read read) {
  const PlanValue* value = fields.optional(key);
  if (value == nullptr) return Status::ok();
  Result<T> read_value = read(*value);
  if (!read_value.is_ok()) return read_value.error();
  into = read_value.take();
  return Status::ok();
}

Result<TensorSpec> read_tensor_spec(const PlanValue& value) {
  Result<Fields> fields = Fields::open(value, "struct TensorSpec", {"shape", "data"});
  if (!fields.is_ok()) return fields.error();
  Result<const PlanValue*> shape = fields.value().required("shape");
  if (!shape.is_ok()) return shape.error();
  Result<const PlanValue*> data = fields.value().required("data");
  if (!data.is_ok()) return data.error();
  Result<Shape> dims = read_sequence<std::uint64_t>(*shape.value(), read_count);
  if (!dims.is_ok()) return dims.error();
  Result<std::vector<float>> values = read_sequence<float>(*data.value(), read_f32);
  if (!values.is_ok()) return values.error();
  return TensorSpec{dims.take(), values.take()};
}

Result<LayerType> read_layer_type(const PlanValue& value) {
  static constexpr std::array<std::pair<const char*, LayerType>, 5> kTypes = {{
      {"linear", LayerType::Linear},
      {"self_attention", LayerType::SelfAttention},
      {"relu", LayerType::Relu},
      {"gelu", LayerType::Gelu},
      {"softmax", LayerType::Softmax},
  }};
  Result<std::string> word = read_string(value);
  if (!word.is_ok()) return word.error();
  for (const auto& [name, type] : kTypes) {
    if (word.value() == name) return type;
  }
  return error_at(value, "unknown variant `" + word.value() +
                             "`, expected one of `linear`, `self_attention`, `relu`, `gelu`, `softmax`");
}

Result<LayerSpec> read_layer_spec(const PlanValue& value) {
  Result<Fields> opened = Fields::open(value, "internally tagged enum LayerSpec",
                                       {"type", "name", "explain", "weights", "bias", "in", "out", "out_features", "wq",
                                        "wk", "wv", "tokens", "features", "head_dim", "value_dim"});
  if (!opened.is_ok()) return opened.error();
  const Fields& fields = opened.value();
  Result<const PlanValue*> type_value = fields.required("type");
  if (!type_value.is_ok()) return type_value.error();
  Result<LayerType> type = read_layer_type(*type_value.value());
  if (!type.is_ok()) return type.error();

  LayerSpec layer;
  layer.type = type.value();
  // Keys of another variant are ignored, as any unknown key is.
  bool linear = layer.type == LayerType::Linear, attention = layer.type == LayerType::SelfAttention;
  std::vector<Status> reads = {read_optional(fields, "name", layer.name, read_string),
                               read_optional(fields, "explain", layer.explain, read_string)};
  if (linear) {
    reads.push_back(read_optional(fields, "weights", layer.weights, read_tensor_spec));
    reads.push_back(read_optional(fields, "bias", layer.bias, read_tensor_spec));
    reads.push_back(read_optional(fields, "in", layer.in, read_count));
    reads.push_back(read_optional(fields, "out", layer.out, read_count));
    reads.push_back(read_optional(fields, "out_features", layer.out_features, read_count));
  }
  if (attention) {
    reads.push_back(read_optional(fields, "wq", layer.wq, read_tensor_spec));
    reads.push_back(read_optional(fields, "wk", layer.wk, read_tensor_spec));
    reads.push_back(read_optional(fields, "wv", layer.wv, read_tensor_spec));
    reads.push_back(read_optional(fields, "tokens", layer.tokens, read_count));
    reads.push_back(read_optional(fields, "features", layer.features, read_count));
    reads.push_back(read_optional(fields, "head_dim", layer.head_dim, read_count));
    reads.push_back(read_optional(fields, "value_dim", layer.value_dim, read_count));
  }
  for (const Status& status : reads) {
    if (!status.is_ok()) return status.error();
  }
  return layer;
}

}  // namespace

Result<ModelSpec> read_model_spec(const PlanValue& root) {
  Result<Fields> opened =
      Fields::open(root, "struct ModelSpec", {"name", "description", "input", "input_shape", "layers", "labels"});
  if (!opened.is_ok()) return opened.error();
  const Fields& fields = opened.value();
  ModelSpec spec;
  for (Status status : {read_optional(fields, "name", spec.name, read_string),
                        read_optional(fields, "description", spec.description, read_string),
                        read_optional(fields, "input", spec.input, read_tensor_spec),
                        read_optional(fields, "input_shape", spec.input_shape, [](const PlanValue& v) {
                          return read_sequence<std::uint64_t>(v, read_count);
                        })}) {
    if (!status.is_ok()) return status.error();
  }
  Result<const PlanValue*> layers = fields.required("layers");
  if (!layers.is_ok()) return layers.error();
  Result<std::vector<LayerSpec>> read_layers = read_sequence<LayerSpec>(*layers.value(), read_layer_spec);
  if (!read_layers.is_ok()) return read_layers.error();
  spec.layers = read_layers.take();
  Status labels = read_optional(fields, "labels", spec.labels,
                                [](const PlanValue& v) { return read_sequence<std::string>(v, read_string); });
  if (!labels.is_ok()) return labels.error();
  return spec;
}

}  // namespace tarnwick
