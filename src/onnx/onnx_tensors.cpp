#include "onnx/onnx_tensors.h"

#include <array>

#include "base/checked_math.h"
#include "base/decode_budget.h"
#include "base/json_text.h"
#include "base/file_read.h"
#include "onnx/protobuf.h"
#include "tables/content_hash.h"

namespace tarnwick {

namespace {

constexpr int kMaxGraphDepth = DecodeBudget::kMaxGraphNesting;

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

void append_little_endian(std::string& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
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

struct TensorFields {
  std::vector<std::uint64_t> dims;
  std::uint64_t data_type = 0;
  std::string name;
  std::optional<std::string_view> raw_data;
  std::vector<ProtoField> typed;
  bool external = false;
};

Result<TensorFields> decode_tensor(std::string_view bytes) {
  Result<std::vector<ProtoField>> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  TensorFields tensor;
  for (const ProtoField& field : fields.value()) {
    switch (field.field_number) {
      case 1:
        if (field.wire_type == kVarint) tensor.dims.push_back(field.varint);
        if (field.wire_type == kLengthDelimited) {
          std::size_t position = 0;
          while (position < field.payload.size()) {
            Result<std::uint64_t> dim = decode_varint(field.payload, position);
            if (!dim.is_ok()) return dim.error();
            tensor.dims.push_back(dim.value());
          }
        }
        break;
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
      case 13: tensor.external = true; break;
      case 14:
        if (field.wire_type == kVarint && field.varint == 1) tensor.external = true;
        break;
      default: break;
    }
  }
  return tensor;
}

// Width of one integer held in int32_data or uint64_data for this dtype.
std::size_t varint_width(std::uint64_t data_type, const OnnxDtype& dtype) {
  if (data_type == 7 || data_type == 13) return 8;
  return dtype.bits >= 8 ? dtype.bits / 8 : 1;
}

Result<std::uint64_t> typed_fingerprint(const TensorFields& tensor, const OnnxDtype& dtype, std::uint64_t& bytes) {
  std::string element_bytes;
  for (const ProtoField& field : tensor.typed) {
    if (field.field_number == 6) {  // string_data: each string with its length
      append_little_endian(element_bytes, field.payload.size(), 8);
      element_bytes.append(field.payload);
      bytes += field.payload.size();
      continue;
    }
    Status status = append_typed_values(field, varint_width(tensor.data_type, dtype), element_bytes);
    if (!status.is_ok()) return status.error();
  }
  return xxh3_64(element_bytes);
}

Result<TensorEntry> tensor_entry(const std::string& path, std::string_view file, std::string_view bytes) {
  Result<TensorFields> decoded = decode_tensor(bytes);
  if (!decoded.is_ok()) return decoded.error();
  const TensorFields& tensor = decoded.value();
  TensorEntry entry;
  entry.name = tensor.name;
  entry.shape = tensor.dims;
  std::uint64_t numel = 1;
  for (std::uint64_t dim : tensor.dims) {
    std::optional<std::uint64_t> product = checked_multiply(numel, dim);
    if (!product) return fail("initializer " + json_quoted(tensor.name) + ": shape product overflows 64 bits");
    numel = *product;
  }
  entry.numel = numel;
  std::optional<OnnxDtype> dtype = find_dtype(tensor.data_type);
  entry.dtype = dtype ? std::string(dtype->name) : "unknown(" + std::to_string(tensor.data_type) + ")";
  if (dtype && dtype->bits > 0) {
    std::optional<std::uint64_t> bits = checked_multiply(numel, dtype->bits);
    if (!bits) return fail("initializer " + json_quoted(tensor.name) + ": byte size overflows 64 bits");
    entry.bytes = *bits / 8 + (*bits % 8 != 0 ? 1 : 0);
  }
  if (tensor.external) return entry;
  if (tensor.raw_data) {
    std::uint64_t offset = static_cast<std::uint64_t>(tensor.raw_data->data() - file.data());
    entry.offset = offset;
    entry.data = TensorBytes{path, offset, tensor.raw_data->size()};
    if (!dtype || dtype->bits == 0) entry.bytes = tensor.raw_data->size();
    return entry;
  }
  if (dtype) {
    std::uint64_t string_bytes = 0;
    Result<std::uint64_t> hash = typed_fingerprint(tensor, *dtype, string_bytes);
    if (!hash.is_ok()) return hash.error();
    entry.content_hash = hash.value();
    if (dtype->bits == 0) entry.bytes = string_bytes;
  }
  return entry;
}

Status read_graph(const std::string& path, std::string_view file, std::string_view graph, int depth,
                  std::vector<TensorEntry>& tensors);

// Subgraphs hang off node attributes: g (one graph) and graphs (a list).
Status read_node_subgraphs(const std::string& path, std::string_view file, std::string_view node, int depth,
                           std::vector<TensorEntry>& tensors) {
  Result<std::vector<ProtoField>> fields = decode_fields(node);
  if (!fields.is_ok()) return fields.error();
  for (const ProtoField& field : fields.value()) {
    if (field.field_number != 5 || field.wire_type != kLengthDelimited) continue;
    Result<std::vector<ProtoField>> attribute = decode_fields(field.payload);
    if (!attribute.is_ok()) return attribute.error();
    for (const ProtoField& part : attribute.value()) {
      if ((part.field_number == 6 || part.field_number == 11) && part.wire_type == kLengthDelimited) {
        Status status = read_graph(path, file, part.payload, depth + 1, tensors);
        if (!status.is_ok()) return status;
      }
    }
  }
  return Status::ok();
}

Status read_graph(const std::string& path, std::string_view file, std::string_view graph, int depth,
                  std::vector<TensorEntry>& tensors) {
  if (depth > kMaxGraphDepth) return fail("subgraphs nested deeper than " + std::to_string(kMaxGraphDepth) + " levels");
  Result<std::vector<ProtoField>> fields = decode_fields(graph);
  if (!fields.is_ok()) return fields.error();
  for (const ProtoField& field : fields.value()) {
    if (field.wire_type != kLengthDelimited) continue;
    if (field.field_number == 5) {
      Result<TensorEntry> entry = tensor_entry(path, file, field.payload);
      if (!entry.is_ok()) return entry.error();
      tensors.push_back(entry.take());
    } else if (field.field_number == 1) {
      Status status = read_node_subgraphs(path, file, field.payload, depth, tensors);
      if (!status.is_ok()) return status;
    }
  }
  return Status::ok();
}

}  // namespace

Result<TensorTable> onnx_tensor_table_from_bytes(const std::string& path, std::string_view bytes) {
  Result<std::vector<ProtoField>> fields = decode_fields(bytes);
  if (!fields.is_ok()) return fields.error();
  TensorTable table;
  table.path = path;
  table.format = "onnx";
  bool has_graph = false;
  for (const ProtoField& field : fields.value()) {
    if (field.field_number == 7 && field.wire_type == kLengthDelimited) {
      has_graph = true;
      Status status = read_graph(path, bytes, field.payload, 0, table.tensors);
      if (!status.is_ok()) return status.error();
    }
  }
  if (!has_graph) return fail("ONNX ModelProto did not contain graph field");
  return table;
}

Result<TensorTable> read_onnx_tensor_table(const std::string& path) {
  Result<FileBytes> bytes = read_whole_file(path);
  if (!bytes.is_ok()) return bytes.error();
  return onnx_tensor_table_from_bytes(path, bytes.value().view());
}

}  // namespace tarnwick
