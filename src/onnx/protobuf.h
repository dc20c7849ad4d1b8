// Protobuf wire format, one message level at a time, without a schema and without copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tarnwick {

enum WireType : std::uint8_t { kVarint = 0, kFixed64 = 1, kLengthDelimited = 2, kFixed32 = 5 };

struct ProtoField {
  std::uint32_t field_number = 0;
  std::uint8_t wire_type = 0;
  std::string_view payload;  // a view into the decoded buffer
  std::uint64_t varint = 0;
};

// Reads one varint at `position` and moves `position` past it.
Result<std::uint64_t> decode_varint(std::string_view bytes, std::size_t& position);
// Decodes the field at `position` into `field` and moves `position` past it.
Status decode_field(std::string_view bytes, std::size_t& position, ProtoField& field);
// Every field of one message level, in order.
Result<std::vector<ProtoField>> decode_fields(std::string_view bytes);
// Checks that a whole message level decodes, keeping nothing: the same error as decode_fields.
Status check_fields(std::string_view bytes);

// Hands each field of one message level to `visit` without collecting them, so a message of
// millions of fields costs no memory. The level is checked whole first, so a malformed field
// anywhere in it is reported before any field is visited, as with decode_fields.
template <class Visit>
Status for_each_field(std::string_view bytes, Visit&& visit) {
  Status checked = check_fields(bytes);
  if (!checked.is_ok()) return checked;
  std::size_t position = 0;
  ProtoField field;
  while (position < bytes.size()) {
    Status decoded = decode_field(bytes, position, field);
    if (!decoded.is_ok()) return decoded;
    Status visited = visit(field);
    if (!visited.is_ok()) return visited;
  }
  return Status::ok();
}
// A length-delimited payload checked as strict UTF-8.
Result<std::string> decode_string(std::string_view bytes);
// The same, read from a field into `into`.
Status read_string(const ProtoField& field, std::string& into);

inline bool is_field(const ProtoField& field, std::uint32_t number, std::uint8_t wire_type) {
  return field.field_number == number && field.wire_type == wire_type;
}

// An int32 field is written as a varint of its sign-extended value; its low 32 bits are the value.
inline std::int32_t low_32_bits(std::uint64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace tarnwick
