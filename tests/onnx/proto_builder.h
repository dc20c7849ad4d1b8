// Builds protobuf messages byte by byte for the ONNX tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::testing {

inline std::string varint(std::uint64_t value) {
  std::string bytes;
  do {
    std::uint8_t byte = value & 0x7F;
    value >>= 7;
    if (value) byte |= 0x80;
    bytes.push_back(static_cast<char>(byte));
  } while (value);
  return bytes;
}

class Message {
 public:
  Message& add_varint(std::uint32_t field, std::uint64_t value) {
    bytes_ += varint(static_cast<std::uint64_t>(field) << 3) + varint(value);
    return *this;
  }
  Message& add_bytes(std::uint32_t field, const std::string& payload) {
    bytes_ += varint((static_cast<std::uint64_t>(field) << 3) | 2) + varint(payload.size()) + payload;
    return *this;
  }
  Message& add_message(std::uint32_t field, const Message& message) { return add_bytes(field, message.bytes()); }
  Message& add_fixed32(std::uint32_t field, const std::string& four) {
    bytes_ += varint((static_cast<std::uint64_t>(field) << 3) | 5) + four;
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// ONNX pieces by field number.
inline Message tensor_type_info(const std::string& name, int elem_type, const std::vector<std::string>& dims) {
  Message shape;
  for (const std::string& dim : dims) {
    Message dimension;
    bool numeric = !dim.empty() && dim.find_first_not_of("0123456789") == std::string::npos;
    if (numeric) {
      dimension.add_varint(1, std::stoull(dim));
    } else if (dim != "?") {
      dimension.add_bytes(2, dim);
    }
    shape.add_message(1, dimension);
  }
  Message tensor_type;
  tensor_type.add_varint(1, static_cast<std::uint64_t>(elem_type)).add_message(2, shape);
  Message type;
  type.add_message(1, tensor_type);
  Message info;
  info.add_bytes(1, name).add_message(2, type);
  return info;
}

inline Message node(const std::string& op, const std::string& name, const std::vector<std::string>& inputs,
                    const std::vector<std::string>& outputs) {
  Message message;
  for (const std::string& input : inputs) message.add_bytes(1, input);
  for (const std::string& output : outputs) message.add_bytes(2, output);
  if (!name.empty()) message.add_bytes(3, name);
  message.add_bytes(4, op);
  return message;
}

inline Message int_attribute(const std::string& name, std::int64_t value) {
  Message attribute;
  attribute.add_bytes(1, name).add_varint(3, static_cast<std::uint64_t>(value)).add_varint(20, 2);
  return attribute;
}

inline Message ints_attribute(const std::string& name, const std::vector<std::int64_t>& values) {
  Message attribute;
  attribute.add_bytes(1, name);
  for (std::int64_t value : values) attribute.add_varint(8, static_cast<std::uint64_t>(value));
  return attribute.add_varint(20, 7);
}

inline Message graph_attribute(const std::string& name, const Message& graph) {
  return Message().add_bytes(1, name).add_message(6, graph).add_varint(20, 5);
}

// A float tensor whose data lies outside the model, located by `entries` (location, offset, ...).
inline Message external_tensor(const std::string& name, std::vector<std::uint64_t> dims,
                               const std::vector<std::pair<std::string, std::string>>& entries) {
  Message tensor;
  for (std::uint64_t dim : dims) tensor.add_varint(1, dim);
  tensor.add_varint(2, 1).add_bytes(8, name);
  for (const auto& [key, value] : entries) tensor.add_message(13, Message().add_bytes(1, key).add_bytes(2, value));
  return tensor.add_varint(14, 1);
}

inline std::string le64(std::uint64_t value) {
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<char>(value >> (8 * i)));
  return bytes;
}

inline Message initializer(const std::string& name, const std::vector<std::uint64_t>& dims, int data_type,
                           const std::string& raw) {
  Message tensor;
  for (std::uint64_t dim : dims) tensor.add_varint(1, dim);
  tensor.add_varint(2, static_cast<std::uint64_t>(data_type)).add_bytes(8, name).add_bytes(9, raw);
  return tensor;
}

inline std::string model(const Message& graph, std::int64_t ir_version = 8, const std::string& producer = "unit") {
  Message opset;
  opset.add_varint(2, 17);
  Message model;
  model.add_varint(1, static_cast<std::uint64_t>(ir_version))
      .add_bytes(2, producer)
      .add_message(7, graph)
      .add_message(8, opset);
  return model.bytes();
}

}  // namespace tarnwick::testing
