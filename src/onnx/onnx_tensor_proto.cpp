#include "onnx/onnx_tensor_proto.h"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "base/checked_math.h"
#include "base/json_text.h"
#include "base/little_endian.h"
#include "onnx/external_tensor_bytes.h"
#include "onnx/protobuf.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

struct OnnxDtype {
  std::string_view name;
  std::uint32_t bits = 0;  // 0 for strings
};

// TensorProto.DataType codes 0..24.
constexpr std::array<OnnxDtype, 25> kDtypes{{
    {"", 0},
    {"float32", 32},
    {"uint8", 8},
    {"int8", 8},
    {"uint16", 16},
    {"int16", 16},
    {"int32", 32},
    {"int64", 64},
    {"string", 0},
    {"bool", 8},
    {"float16", 16},
    {"float64", 64},
    {"uint32", 32},
    {"uint64", 64},
    {"complex64", 64},
    {"complex128", 128},
    {"bfloat16", 16},
    {"float8_e4m3fn", 8},
    {"float8_e4m3fnuz", 8},
    {"float8_e5m2", 8},
    {"float8_e5m2fnuz", 8},
    {"uint4", 4},
    {"int4", 4},
    {"float4_e2m1", 4},
    {"float8_e8m0", 8},
}};

std::optional<OnnxDtype> find_dtype(std::uint64_t code) {
  if (code == 0 || code >= kDtypes.size()) return std::nullopt;
  return kDtypes[code];
}

// The element bytes of a typed field: varints narrowed to the element width, fixed-width values as stored.
Status append_typed_values(const ProtoField& field, std::size_t varint_width, std::string& out) {
  if (field.wire_type == kFixed32 || field.wire_type == kFixed64) {
    out.append(field.payload);
    return Status::ok();
  }
  if (field.wire_type == kVarint) {
    append_little_endian(out, field.varint, varint_width);
    return Status::ok();
  }
  if (field.wire_type != kLengthDelimited) return Status::ok();
  if (field.field_number == 4 || field.field_number == 10) {  // packed float_data / double_data
    out.append(field.payload);
    return Status::ok();
  }
  std::size_t position = 0;
  while (position < field.payload.size()) {
    Result<std::uint64_t> value = decode_varint(field.payload, position);
    if (!value.is_ok()) return value.error();
    append_little_endian(out, value.value(), varint_width);
  }
  return Status::ok();
}

Status append_varints(const ProtoField& field, std::vector<std::uint64_t>& into) {
  if (field.wire_type == kVarint) into.push_back(field.varint);
  if (field.wire_type != kLengthDelimited) return Status::ok();
  std::size_t position = 0;
  while (position < field.payload.size()) {
    Result<std::uint64_t> value = decode_varint(field.payload, position);
    if (!value.is_ok()) return value.error();
    into.push_back(value.value());
  }
  return Status::ok();
}

Status read_external_entry(std::string_view bytes, std::vector<std::pair<std::string, std::string>>& entries) {
  Result<std::vector<ProtoField>> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  std::pair<std::string, std::string> entry;
  for (const ProtoField& field : fields.value()) {
    if (field.wire_type != kLengthDelimited || (field.field_number != 1 && field.field_number != 2)) continue;
    Result<std::string> text = decode_string(field.payload);
    if (!text.is_ok()) return text.error();
    (field.field_number == 1 ? entry.first : entry.second) = text.take();
  }
  entries.push_back(std::move(entry));
  return Status::ok();
}

struct TensorFields {
  std::vector<std::uint64_t> dims;
  std::uint64_t data_type = 0;
  std::string name;
  std::optional<std::string_view> raw_data;
  std::vector<ProtoField> typed;
  std::vector<std::pair<std::string, std::string>> external_data;
  bool external = false;
};

Result<TensorFields> decode_tensor(std::string_view bytes) {
  Result<std::vector<ProtoField>> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  TensorFields tensor;
  for (const ProtoField& field : fields.value()) {
    Status status = Status::ok();
    switch (field.field_number) {
      case 1: status = append_varints(field, tensor.dims); break;
      case 2:
        if (field.wire_type == kVarint) tensor.data_type = field.varint;
        break;
      case 8:
        if (field.wire_type == kLengthDelimited) {
          Result<std::string> name = decode_string(field.payload);
          if (!name.is_ok()) return name.error();
          tensor.name = name.take();
        }
        break;
      case 9:
        if (field.wire_type == kLengthDelimited) tensor.raw_data = field.payload;
        break;
      case 4:
      case 5:
      case 6:
      case 7:
      case 10:
      case 11: tensor.typed.push_back(field); break;
      case 13:
        tensor.external = true;
        if (field.wire_type == kLengthDelimited) status = read_external_entry(field.payload, tensor.external_data);
        break;
      case 14:
        if (field.wire_type == kVarint && field.varint == 1) tensor.external = true;
        break;
      default: break;
    }
    if (!status.is_ok()) return status.error();
  }
  return tensor;
}

// Width of one integer held in int32_data or uint64_data for this dtype.
std::size_t varint_width(std::uint64_t data_type, const OnnxDtype& dtype) {
  if (data_type == 7 || data_type == 13) return 8;
  return dtype.bits >= 8 ? dtype.bits / 8 : 1;
}

// The typed fields as element bytes; strings each with its length before it. `string_bytes`
// counts the strings' own bytes.
Result<std::string> typed_element_bytes(const TensorFields& tensor, const OnnxDtype& dtype, std::uint64_t& string_bytes) {
  std::string element_bytes;
  for (const ProtoField& field : tensor.typed) {
    if (field.field_number == 6) {  // string_data
      append_little_endian(element_bytes, field.payload.size(), 8);
      element_bytes.append(field.payload);
      string_bytes += field.payload.size();
      continue;
    }
    Status status = append_typed_values(field, varint_width(tensor.data_type, dtype), element_bytes);
    if (!status.is_ok()) return status.error();
  }
  return element_bytes;
}

Result<std::uint64_t> element_count(const std::vector<std::uint64_t>& dims, const std::string& name) {
  std::uint64_t numel = 1;
  for (std::uint64_t dim : dims) {
    std::optional<std::uint64_t> product = checked_multiply(numel, dim);
    if (!product) return fail("tensor " + json_quoted(name) + ": shape product overflows 64 bits");
    numel = *product;
  }
  return numel;
}

// A tensor with its element bytes, when they are in the model file: raw_data as a view, or typed
// fields turned into bytes.
struct DecodedTensor {
  TensorEntry entry;
  std::optional<std::string_view> raw_bytes;
  std::optional<std::string> typed_bytes;

  bool has_element_bytes() const { return raw_bytes || typed_bytes; }
  std::string_view element_bytes() const { return raw_bytes ? *raw_bytes : std::string_view(*typed_bytes); }
};

Result<DecodedTensor> decode_tensor_entry(const OnnxTensorSource& source, std::string_view bytes) {
  Result<TensorFields> decoded = decode_tensor(bytes);
  if (!decoded.is_ok()) return decoded.error();
  const TensorFields& tensor = decoded.value();
  DecodedTensor result;
  TensorEntry& entry = result.entry;
  entry.name = tensor.name;
  entry.shape = tensor.dims;
  Result<std::uint64_t> numel = element_count(tensor.dims, tensor.name);
  if (!numel.is_ok()) return numel.error();
  entry.numel = numel.value();
  std::optional<OnnxDtype> dtype = find_dtype(tensor.data_type);
  entry.dtype = dtype ? std::string(dtype->name) : "unknown(" + std::to_string(tensor.data_type) + ")";
  std::optional<std::uint64_t> own_bytes;
  if (dtype && dtype->bits > 0) {
    std::optional<std::uint64_t> bits = checked_multiply(entry.numel, dtype->bits);
    if (!bits) return fail("tensor " + json_quoted(tensor.name) + ": byte size overflows 64 bits");
    own_bytes = *bits / 8 + (*bits % 8 != 0 ? 1 : 0);
    entry.bytes = *own_bytes;
  }
  if (tensor.external) {
    ExternalTensorBytes external = locate_external_bytes(source.model_dir, tensor.external_data, own_bytes);
    entry.data = external.range;
    if (!external.range) entry.unreadable_reason = external.problem;
    if (external.range && !own_bytes) entry.bytes = external.range->length;
    return result;
  }
  if (tensor.raw_data) {
    std::uint64_t offset = static_cast<std::uint64_t>(tensor.raw_data->data() - source.file.data());
    entry.offset = offset;
    entry.data = TensorBytes{source.path, offset, tensor.raw_data->size()};
    if (!own_bytes) entry.bytes = tensor.raw_data->size();
    result.raw_bytes = tensor.raw_data;
    return result;
  }
  if (!dtype) {
    entry.unreadable_reason = "data type " + std::to_string(tensor.data_type) + " is not known";
    return result;
  }
  std::uint64_t string_bytes = 0;
  Result<std::string> element_bytes = typed_element_bytes(tensor, *dtype, string_bytes);
  if (!element_bytes.is_ok()) return element_bytes.error();
  entry.content_hash = xxh3_64(element_bytes.value());
  if (dtype->bits == 0) entry.bytes = string_bytes;
  result.typed_bytes = element_bytes.take();
  if (dtype->bits != 0) entry.element_bytes = std::make_shared<const std::string>(*result.typed_bytes);
  return result;
}

}  // namespace

Result<TensorEntry> tensor_proto_entry(const OnnxTensorSource& source, std::string_view tensor_proto) {
  Result<DecodedTensor> decoded = decode_tensor_entry(source, tensor_proto);
  if (!decoded.is_ok()) return decoded.error();
  return std::move(decoded.value().entry);
}

Result<TensorEntry> sparse_tensor_entry(const OnnxTensorSource& source, std::string_view sparse_proto) {
  Result<std::vector<ProtoField>> fields = decode_fields(sparse_proto);
  if (!fields.is_ok()) return fields.error();
  std::optional<DecodedTensor> values, indices;
  std::vector<std::uint64_t> dims;
  for (const ProtoField& field : fields.value()) {
    if (field.field_number == 3) {
      Status status = append_varints(field, dims);
      if (!status.is_ok()) return status.error();
      continue;
    }
    if (field.wire_type != kLengthDelimited || (field.field_number != 1 && field.field_number != 2)) continue;
    Result<DecodedTensor> part = decode_tensor_entry(source, field.payload);
    if (!part.is_ok()) return part.error();
    (field.field_number == 1 ? values : indices) = part.take();
  }
  TensorEntry entry;
  if (values) {
    entry.name = values->entry.name;
    entry.dtype = values->entry.dtype;
  }
  entry.shape = dims;
  Result<std::uint64_t> numel = element_count(dims, entry.name);
  if (!numel.is_ok()) return numel.error();
  entry.numel = numel.value();
  std::optional<std::uint64_t> bytes = checked_add(values ? values->entry.bytes : 0, indices ? indices->entry.bytes : 0);
  if (!bytes) return fail("tensor " + json_quoted(entry.name) + ": byte size overflows 64 bits");
  entry.bytes = *bytes;
  if (!values || !indices) {
    entry.unreadable_reason = std::string("sparse tensor without ") + (values ? "indices" : "values");
  } else if (!values->has_element_bytes() || !indices->has_element_bytes()) {
    entry.unreadable_reason = "sparse tensor whose values or indices are not stored in the model file";
  } else {
    Xxh3Stream hash;
    hash.update(values->element_bytes());
    hash.update(indices->element_bytes());
    entry.content_hash = hash.digest();
  }
  return entry;
}

}  // namespace tarnwick
