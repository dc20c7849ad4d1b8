#include "onnx/onnx_graph.h"

#include <bit>
#include <cstring>

#include "base/little_endian.h"

namespace tarnwick {

namespace {

float float_from_bits(std::uint32_t bits) { return std::bit_cast<float>(bits); }

// Repeated scalars arrive packed (one length-delimited field) or one field per value.
Status read_varints(const ProtoField& field, std::vector<std::int64_t>& into) {
  if (field.wire_type == kVarint) {
    into.push_back(static_cast<std::int64_t>(field.varint));
    return Status::ok();
  }
  if (field.wire_type != kLengthDelimited) return Status::ok();
  std::size_t position = 0;
  while (position < field.payload.size()) {
    Result<std::uint64_t> value = decode_varint(field.payload, position);
    if (!value.is_ok()) return value.error();
    into.push_back(static_cast<std::int64_t>(value.value()));
  }
  return Status::ok();
}

void read_floats(const ProtoField& field, std::vector<float>& into) {
  if (field.wire_type == kFixed32)
    into.push_back(float_from_bits(static_cast<std::uint32_t>(little_endian(field.payload, 0, 4))));
  if (field.wire_type != kLengthDelimited) return;
  for (std::size_t at = 0; at + 4 <= field.payload.size(); at += 4)
    into.push_back(float_from_bits(static_cast<std::uint32_t>(little_endian(field.payload, at, 4))));
}

Status read_graph(std::string_view bytes, OnnxGraph& graph, int depth, DecodeBudget& budget);

Status read_external_entry(std::string_view bytes, OnnxTensor& tensor) {
  std::pair<std::string, std::string> entry;
  Status status = for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, entry.first);
    if (is_field(field, 2, kLengthDelimited)) return read_string(field, entry.second);
    return Status::ok();
  });
  if (status.is_ok()) tensor.external_data.push_back(std::move(entry));
  return status;
}

Status read_tensor(std::string_view bytes, OnnxTensor& tensor, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    switch (field.field_number) {
      case 1: {
        std::size_t before = tensor.dims.size();
        Status status = read_varints(field, tensor.dims);
        if (!status.is_ok()) return status;
        return budget.draw(tensor.dims.size() - before, "ONNX tensor dimensions");
      }
      case 2:
        if (field.wire_type == kVarint) tensor.data_type = low_32_bits(field.varint);
        return Status::ok();
      case 8:
        if (field.wire_type == kLengthDelimited) return read_string(field, tensor.name);
        return Status::ok();
      case 9:
        if (field.wire_type == kLengthDelimited) {
          tensor.raw_data = field.payload;
          tensor.has_raw_data = true;
        }
        return Status::ok();
      case 4:
      case 5:
      case 7:
      case 10:
      case 11: tensor.typed_data.push_back(field); return Status::ok();
      case 13:
        if (field.wire_type == kLengthDelimited) return read_external_entry(field.payload, tensor);
        return Status::ok();
      case 14:
        if (field.wire_type == kVarint) tensor.data_location = low_32_bits(field.varint);
        return Status::ok();
      default: return Status::ok();
    }
  });
}

Status read_attribute(std::string_view bytes, OnnxAttribute& attribute, int depth, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    switch (field.field_number) {
      case 1:
        if (field.wire_type == kLengthDelimited) return read_string(field, attribute.name);
        return Status::ok();
      case 2:
        if (field.wire_type == kFixed32)
          attribute.f = float_from_bits(static_cast<std::uint32_t>(little_endian(field.payload, 0, 4)));
        return Status::ok();
      case 3:
        if (field.wire_type == kVarint) attribute.i = static_cast<std::int64_t>(field.varint);
        return Status::ok();
      case 4:
        if (field.wire_type == kLengthDelimited) attribute.s = std::string(field.payload);
        return Status::ok();
      case 5:
        if (field.wire_type == kLengthDelimited) return read_tensor(field.payload, attribute.t.emplace(), budget);
        return Status::ok();
      case 6:
      case 11:
        if (field.wire_type == kLengthDelimited)
          return read_graph(field.payload, attribute.graphs.emplace_back(), depth + 1, budget);
        return Status::ok();
      case 7: {
        std::size_t before = attribute.floats.size();
        read_floats(field, attribute.floats);
        return budget.draw(attribute.floats.size() - before, "ONNX attribute values");
      }
      case 8: {
        std::size_t before = attribute.ints.size();
        Status status = read_varints(field, attribute.ints);
        if (!status.is_ok()) return status;
        return budget.draw(attribute.ints.size() - before, "ONNX attribute values");
      }
      default: return Status::ok();
    }
  });
}

Status read_node(std::string_view bytes, OnnxGraphNode& node, int depth, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    if (field.field_number == 1 || field.field_number == 2 || field.field_number == 5) {
      Status drawn = budget.draw(1, "ONNX node inputs, outputs and attributes");
      if (!drawn.is_ok()) return drawn;
    }
    switch (field.field_number) {
      case 1: return read_string(field, node.inputs.emplace_back());
      case 2: return read_string(field, node.outputs.emplace_back());
      case 3: return read_string(field, node.name);
      case 4: return read_string(field, node.op_type);
      case 5: return read_attribute(field.payload, node.attributes.emplace_back(), depth, budget);
      case 7: return read_string(field, node.domain);
      default: return Status::ok();
    }
  });
}

Status read_tensor_type(std::string_view bytes, OnnxValueInfo& info, bool& has_shape, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kVarint)) info.elem_type = low_32_bits(field.varint);
    if (!is_field(field, 2, kLengthDelimited)) return Status::ok();
    has_shape = true;
    info.shape.clear();
    return for_each_field(field.payload, [&](const ProtoField& dim) {
      if (!is_field(dim, 1, kLengthDelimited)) return Status::ok();
      Status drawn = budget.draw(1, "ONNX shape dimensions");
      if (!drawn.is_ok()) return drawn;
      return read_dimension(dim.payload, info.shape.emplace_back());
    });
  });
}

// A value without a shape field (rank unknown) keeps one "*" entry so that it differs from a scalar.
Status read_value_info_or_unknown_rank(std::string_view bytes, OnnxValueInfo& info, DecodeBudget& budget) {
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, info.name);
    if (!is_field(field, 2, kLengthDelimited)) return Status::ok();
    return for_each_field(field.payload, [&](const ProtoField& type) -> Status {
      if (!is_field(type, 1, kLengthDelimited)) return Status::ok();
      bool has_shape = false;
      Status status = read_tensor_type(type.payload, info, has_shape, budget);
      if (status.is_ok() && !has_shape) info.shape = {"*"};
      return status;
    });
  });
}

Status read_graph(std::string_view bytes, OnnxGraph& graph, int depth, DecodeBudget& budget) {
  if (depth > kMaxGraphNesting)
    return fail("ONNX graph nesting exceeded " + std::to_string(kMaxGraphNesting) + " levels");
  Status drawn = draw_value_infos(bytes, budget);
  if (!drawn.is_ok()) return drawn;
  return for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (field.wire_type != kLengthDelimited) return Status::ok();
    if (field.field_number == 1 || field.field_number == 5) {
      Status entry_drawn = budget.draw(1, field.field_number == 1 ? "ONNX graph nodes" : "ONNX initializers");
      if (!entry_drawn.is_ok()) return entry_drawn;
    }
    switch (field.field_number) {
      case 1: return read_node(field.payload, graph.nodes.emplace_back(), depth, budget);
      case 2: return read_string(field, graph.name);
      case 5: return read_tensor(field.payload, graph.initializers.emplace_back(), budget);
      case 11: return read_value_info_or_unknown_rank(field.payload, graph.inputs.emplace_back(), budget);
      case 12: return read_value_info_or_unknown_rank(field.payload, graph.outputs.emplace_back(), budget);
      case 13: return read_value_info_or_unknown_rank(field.payload, graph.value_info.emplace_back(), budget);
      default: return Status::ok();
    }
  });
}

std::optional<std::size_t> element_count_within(const std::vector<std::int64_t>& dims, std::size_t limit) {
  std::size_t count = 1;
  for (std::int64_t dim : dims) {
    if (dim < 0) return std::nullopt;
    if (dim == 0) return 0;
    if (static_cast<std::uint64_t>(dim) > limit) return std::nullopt;
    count *= static_cast<std::size_t>(dim);
    if (count > limit) return std::nullopt;
  }
  return count;
}

struct RawLayout {
  std::size_t width = 0;
  bool is_signed = false;
  bool is_real = false;
};

RawLayout raw_layout(std::optional<std::int32_t> data_type) {
  switch (data_type.value_or(0)) {
    case 1: return {4, false, true};
    case 2: return {1, false, false};
    case 3: return {1, true, false};
    case 4: return {2, false, false};
    case 5: return {2, true, false};
    case 6: return {4, true, false};
    case 7: return {8, true, false};
    case 9: return {1, false, false};
    case 11: return {8, false, true};
    case 12: return {4, false, false};
    case 13: return {8, false, false};
    default: return {};
  }
}

std::int64_t sign_extend(std::uint64_t value, std::size_t width) {
  if (width == 8) return static_cast<std::int64_t>(value);
  std::uint64_t sign = 1ULL << (8 * width - 1);
  return static_cast<std::int64_t>((value ^ sign) - sign);
}

double raw_real(std::string_view raw, std::size_t at, std::size_t width) {
  std::uint64_t bits = little_endian(raw, at, width);
  if (width == 4) return float_from_bits(static_cast<std::uint32_t>(bits));
  return std::bit_cast<double>(bits);
}

// Values of the typed fields, as integers (int32_data, int64_data, uint64_data) or reals.
std::optional<std::vector<double>> typed_values(const OnnxTensor& tensor, bool& integral) {
  std::vector<double> values;
  integral = true;
  for (const ProtoField& field : tensor.typed_data) {
    if (field.field_number == 4) {
      std::vector<float> floats;
      read_floats(field, floats);
      values.insert(values.end(), floats.begin(), floats.end());
      integral = false;
    } else if (field.field_number == 10) {
      if (field.wire_type == kFixed64) values.push_back(raw_real(field.payload, 0, 8));
      if (field.wire_type == kLengthDelimited)
        for (std::size_t at = 0; at + 8 <= field.payload.size(); at += 8)
          values.push_back(raw_real(field.payload, at, 8));
      integral = false;
    } else {
      std::vector<std::int64_t> ints;
      if (!read_varints(field, ints).is_ok()) return std::nullopt;
      for (std::int64_t value : ints) {
        if (field.field_number == 5) value = low_32_bits(static_cast<std::uint64_t>(value));
        values.push_back(static_cast<double>(value));
      }
    }
  }
  return values;
}

}  // namespace

Status read_dimension(std::string_view bytes, std::string& text) {
  text = "?";
  return for_each_field(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kVarint)) text = std::to_string(static_cast<std::int64_t>(field.varint));
    if (is_field(field, 2, kLengthDelimited)) return read_string(field, text);
    return Status::ok();
  });
}

Status read_opset(std::string_view bytes, OpsetImport& opset) {
  return for_each_field(bytes, [&](const ProtoField& field) {
    if (is_field(field, 1, kLengthDelimited)) return read_string(field, opset.domain);
    if (is_field(field, 2, kVarint)) opset.version = static_cast<std::int64_t>(field.varint);
    return Status::ok();
  });
}

const OnnxAttribute* OnnxGraphNode::attribute(std::string_view attribute_name) const {
  for (const OnnxAttribute& attribute : attributes) {
    if (attribute.name == attribute_name) return &attribute;
  }
  return nullptr;
}

Result<OnnxModel> decode_onnx_model(std::string_view bytes) {
  DecodeBudget budget(bytes.size());
  return decode_onnx_model(bytes, budget);
}

Result<OnnxModel> decode_onnx_model(std::string_view bytes, DecodeBudget& budget) {
  OnnxModel model;
  bool has_graph = false;
  Status status = for_each_field(bytes, [&](const ProtoField& field) -> Status {
    if (is_field(field, 7, kLengthDelimited)) {
      has_graph = true;
      model.graph = OnnxGraph();
      return read_graph(field.payload, model.graph, 0, budget);
    }
    if (is_field(field, 8, kLengthDelimited)) {
      Status drawn = budget.draw(1, "ONNX opset imports");
      if (!drawn.is_ok()) return drawn;
      return read_opset(field.payload, model.opset_imports.emplace_back());
    }
    return Status::ok();
  });
  if (!status.is_ok()) return status.error();
  if (!has_graph) return fail("ONNX ModelProto did not contain graph field");
  return model;
}

std::optional<std::int64_t> default_opset(const OnnxModel& model) {
  for (const OpsetImport& opset : model.opset_imports) {
    if (opset.domain.empty() || opset.domain == "ai.onnx") return opset.version;
  }
  return std::nullopt;
}

std::optional<std::vector<std::int64_t>> tensor_int_values(const OnnxTensor& tensor, std::size_t max_elements) {
  if (tensor.data_location == 1) return std::nullopt;
  std::optional<std::size_t> count = element_count_within(tensor.dims, max_elements);
  if (!count) return std::nullopt;
  RawLayout layout = raw_layout(tensor.data_type);
  if (layout.width == 0 || layout.is_real) return std::nullopt;
  std::vector<std::int64_t> values;
  if (tensor.has_raw_data) {
    if (tensor.raw_data.size() != *count * layout.width) return std::nullopt;
    for (std::size_t k = 0; k < *count; ++k) {
      std::uint64_t value = little_endian(tensor.raw_data, k * layout.width, layout.width);
      if (!layout.is_signed && layout.width == 8 && value > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
      values.push_back(layout.is_signed ? sign_extend(value, layout.width) : static_cast<std::int64_t>(value));
    }
    return values;
  }
  for (const ProtoField& field : tensor.typed_data) {
    if (field.field_number != 5 && field.field_number != 7 && field.field_number != 11) return std::nullopt;
    std::vector<std::int64_t> ints;
    if (!read_varints(field, ints).is_ok()) return std::nullopt;
    for (std::int64_t value : ints)
      values.push_back(field.field_number == 5 ? low_32_bits(static_cast<std::uint64_t>(value)) : value);
  }
  if (values.size() != *count) return std::nullopt;
  return values;
}

std::optional<std::vector<double>> tensor_real_values(const OnnxTensor& tensor, std::size_t max_elements) {
  if (tensor.data_location == 1) return std::nullopt;
  std::optional<std::size_t> count = element_count_within(tensor.dims, max_elements);
  if (!count) return std::nullopt;
  RawLayout layout = raw_layout(tensor.data_type);
  if (layout.width == 0) return std::nullopt;
  if (!layout.is_real) {
    std::optional<std::vector<std::int64_t>> ints = tensor_int_values(tensor, max_elements);
    if (!ints) return std::nullopt;
    return std::vector<double>(ints->begin(), ints->end());
  }
  std::vector<double> values;
  if (tensor.has_raw_data) {
    if (tensor.raw_data.size() != *count * layout.width) return std::nullopt;
    for (std::size_t k = 0; k < *count; ++k)
      values.push_back(raw_real(tensor.raw_data, k * layout.width, layout.width));
    return values;
  }
  bool integral = false;
  std::optional<std::vector<double>> typed = typed_values(tensor, integral);
  if (!typed || typed->size() != *count) return std::nullopt;
  return typed;
}

}  // namespace tarnwick
