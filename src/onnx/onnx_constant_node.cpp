#include "onnx/onnx_constant_node.h"

#include <string>
#include <string_view>

#include "base/little_endian.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

// AttributeProto fields.
constexpr std::uint32_t kAttributeName = 1, kAttributeFloat = 2, kAttributeInt = 3, kAttributeString = 4,
                        kAttributeTensor = 5, kAttributeFloats = 7, kAttributeInts = 8, kAttributeStrings = 9,
                        kAttributeSparseTensor = 22;

bool is_constant_op(const std::vector<ProtoField>& node_fields) {
  bool constant = false, default_domain = true;
  for (const ProtoField& field : node_fields) {
    if (field.wire_type != kLengthDelimited) continue;
    if (field.field_number == 4) constant = field.payload == "Constant";
    if (field.field_number == 7) default_domain = field.payload.empty() || field.payload == "ai.onnx";
  }
  return constant && default_domain;
}

std::optional<std::string> first_output(const std::vector<ProtoField>& node_fields) {
  for (const ProtoField& field : node_fields) {
    if (field.field_number == 2 && field.wire_type == kLengthDelimited) return std::string(field.payload);
  }
  return std::nullopt;
}

// Element bytes and count of the attribute fields numbered `number`: fixed32 floats as stored,
// varints as int64, strings each with its length before it.
struct AttributeValues {
  std::string bytes;
  std::uint64_t count = 0;
  std::uint64_t string_bytes = 0;
};

Result<AttributeValues> attribute_values(const std::vector<ProtoField>& attribute, std::uint32_t number) {
  AttributeValues values;
  for (const ProtoField& field : attribute) {
    if (field.field_number != number) continue;
    if (number == kAttributeString || number == kAttributeStrings) {
      if (field.wire_type != kLengthDelimited) continue;
      append_little_endian(values.bytes, field.payload.size(), 8);
      values.bytes.append(field.payload);
      values.string_bytes += field.payload.size();
      ++values.count;
    } else if (field.wire_type == kFixed32) {
      values.bytes.append(field.payload);
      ++values.count;
    } else if (field.wire_type == kVarint) {
      append_little_endian(values.bytes, field.varint, 8);
      ++values.count;
    } else if (field.wire_type == kLengthDelimited && (number == kAttributeFloat || number == kAttributeFloats)) {
      values.bytes.append(field.payload.substr(0, field.payload.size() / 4 * 4));
      values.count += field.payload.size() / 4;
    } else if (field.wire_type == kLengthDelimited) {
      std::size_t position = 0;
      while (position < field.payload.size()) {
        Result<std::uint64_t> value = decode_varint(field.payload, position);
        if (!value.is_ok()) return value.error();
        append_little_endian(values.bytes, value.value(), 8);
        ++values.count;
      }
    }
  }
  return values;
}

struct ValueAttribute {
  std::string_view name;
  std::uint32_t field;
  std::string_view dtype;
  bool scalar;
};

constexpr ValueAttribute kListedValues[] = {
    {"value_float", kAttributeFloat, "float32", true},  {"value_floats", kAttributeFloats, "float32", false},
    {"value_int", kAttributeInt, "int64", true},        {"value_ints", kAttributeInts, "int64", false},
    {"value_string", kAttributeString, "string", true}, {"value_strings", kAttributeStrings, "string", false},
};

Result<TensorEntry> listed_value_tensor(const ValueAttribute& kind, const std::vector<ProtoField>& attribute) {
  Result<AttributeValues> values = attribute_values(attribute, kind.field);
  if (!values.is_ok()) return values.error();
  AttributeValues& found = values.value();
  if (kind.scalar && found.count == 0) {  // an unset scalar reads as its default: 0 or ""
    append_little_endian(found.bytes, 0, kind.dtype == "float32" ? 4 : 8);
    found.count = 1;
  }
  TensorEntry entry;
  entry.dtype = std::string(kind.dtype);
  if (!kind.scalar) entry.shape = {found.count};
  entry.numel = kind.scalar ? 1 : found.count;
  entry.bytes = kind.dtype == "string" ? found.string_bytes : found.bytes.size();
  entry.content_hash = xxh3_64(found.bytes);
  if (kind.dtype != "string") entry.element_bytes = std::make_shared<const std::string>(std::move(found.bytes));
  return entry;
}

Result<std::optional<TensorEntry>> present(Result<TensorEntry> tensor) {
  if (!tensor.is_ok()) return tensor.error();
  return std::optional<TensorEntry>(tensor.take());
}

Result<std::optional<TensorEntry>> attribute_tensor(const OnnxTensorSource& source,
                                                    const std::vector<ProtoField>& attribute) {
  std::string_view name;
  for (const ProtoField& field : attribute) {
    if (field.field_number == kAttributeName && field.wire_type == kLengthDelimited) name = field.payload;
  }
  for (const ProtoField& field : attribute) {
    if (field.wire_type != kLengthDelimited) continue;
    if (name == "value" && field.field_number == kAttributeTensor)
      return present(tensor_proto_entry(source, field.payload));
    if (name == "sparse_value" && field.field_number == kAttributeSparseTensor)
      return present(sparse_tensor_entry(source, field.payload));
  }
  for (const ValueAttribute& kind : kListedValues) {
    if (name == kind.name) return present(listed_value_tensor(kind, attribute));
  }
  return std::optional<TensorEntry>();
}

}  // namespace

Result<std::optional<TensorEntry>> constant_node_tensor(const OnnxTensorSource& source,
                                                        const std::vector<ProtoField>& node_fields) {
  if (!is_constant_op(node_fields)) return std::optional<TensorEntry>();
  for (const ProtoField& field : node_fields) {
    if (field.field_number != 5 || field.wire_type != kLengthDelimited) continue;
    Result<std::vector<ProtoField>> attribute = decode_fields(field.payload);
    if (!attribute.is_ok()) return attribute.error();
    Result<std::optional<TensorEntry>> tensor = attribute_tensor(source, attribute.value());
    if (!tensor.is_ok()) return tensor.error();
    if (!tensor.value()) continue;
    std::optional<std::string> output = first_output(node_fields);
    if (output) tensor.value()->name = *output;
    return tensor;
  }
  return std::optional<TensorEntry>();
}

}  // namespace tarnwick
