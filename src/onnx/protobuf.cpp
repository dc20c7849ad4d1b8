#include "onnx/protobuf.h"

#include "base/text.h"

namespace tarnwick {

Result<std::uint64_t> decode_varint(std::string_view bytes, std::size_t& position) {
  constexpr const char* kEnded = "protobuf varint ended unexpectedly";
  if (position >= bytes.size()) return fail(kEnded);
  std::uint64_t value = 0;
  for (int k = 0; k < 10; ++k) {
    if (position >= bytes.size()) return fail(kEnded);
    auto byte = static_cast<std::uint8_t>(bytes[position++]);
    if (k == 9) {
      if (byte & 0x80) return fail("protobuf varint exceeded 64 bits");
      return value | (static_cast<std::uint64_t>(byte & 1) << 63);
    }
    value |= static_cast<std::uint64_t>(byte & 0x7F) << (7 * k);
    if (!(byte & 0x80)) return value;
  }
  return value;  // not reached: the tenth byte always ends the loop
}

namespace {

// Takes `length` bytes at `position`, refusing a range that wraps or runs past the input.
Result<std::string_view> take_bytes(std::string_view bytes, std::size_t& position, std::uint64_t length,
                                    const char* overflow_message, const char* past_end_message) {
  std::uint64_t end;
  if (__builtin_add_overflow(static_cast<std::uint64_t>(position), length, &end)) return fail(overflow_message);
  if (end > bytes.size()) return fail(past_end_message);
  std::string_view taken = bytes.substr(position, static_cast<std::size_t>(length));
  position = static_cast<std::size_t>(end);
  return taken;
}

}  // namespace

Status decode_field(std::string_view bytes, std::size_t& position, ProtoField& field) {
  Result<std::uint64_t> tag = decode_varint(bytes, position);
  if (!tag.is_ok()) return tag.error();
  field = ProtoField();
  field.field_number = static_cast<std::uint32_t>(tag.value() >> 3);
  field.wire_type = static_cast<std::uint8_t>(tag.value() & 7);
  Result<std::string_view> payload = std::string_view();
  switch (field.wire_type) {
    case kVarint: {
      Result<std::uint64_t> value = decode_varint(bytes, position);
      if (!value.is_ok()) return value.error();
      field.varint = value.value();
      break;
    }
    case kFixed64:
      payload = take_bytes(bytes, position, 8, "protobuf fixed64 index overflow",
                           "protobuf fixed64 field exceeded input length");
      break;
    case kLengthDelimited: {
      Result<std::uint64_t> length = decode_varint(bytes, position);
      if (!length.is_ok()) return length.error();
      payload = take_bytes(bytes, position, length.value(), "protobuf length-delimited index overflow",
                           "protobuf length-delimited field exceeded input length");
      break;
    }
    case kFixed32:
      payload = take_bytes(bytes, position, 4, "protobuf fixed32 index overflow",
                           "protobuf fixed32 field exceeded input length");
      break;
    default: return fail("unsupported protobuf wire type " + std::to_string(field.wire_type));
  }
  if (!payload.is_ok()) return payload.error();
  field.payload = payload.value();
  return Status::ok();
}

Result<std::vector<ProtoField>> decode_fields(std::string_view bytes) {
  std::vector<ProtoField> fields;
  std::size_t position = 0;
  while (position < bytes.size()) {
    Status decoded = decode_field(bytes, position, fields.emplace_back());
    if (!decoded.is_ok()) return decoded.error();
  }
  return fields;
}

Status check_fields(std::string_view bytes) {
  std::size_t position = 0;
  ProtoField field;
  while (position < bytes.size()) {
    Status decoded = decode_field(bytes, position, field);
    if (!decoded.is_ok()) return decoded;
  }
  return Status::ok();
}

Result<std::string> decode_string(std::string_view bytes) {
  std::optional<Utf8Problem> problem = find_utf8_problem(bytes);
  if (!problem) return std::string(bytes);
  std::string detail = problem->error_length
                           ? "invalid utf-8 sequence of " + std::to_string(*problem->error_length) +
                                 " bytes from index " + std::to_string(problem->valid_up_to)
                           : "incomplete utf-8 byte sequence from index " + std::to_string(problem->valid_up_to);
  return fail("invalid UTF-8 string in ONNX protobuf: " + detail);
}

Status read_string(const ProtoField& field, std::string& into) {
  Result<std::string> text = decode_string(field.payload);
  if (!text.is_ok()) return text.error();
  into = text.take();
  return Status::ok();
}

}  // namespace tarnwick
