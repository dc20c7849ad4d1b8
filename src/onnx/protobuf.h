// Protobuf wire format, one message level at a time, without a schema and without copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "main/status.h"

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
// Every field of one message level, in order.
Result<std::vector<ProtoField>> decode_fields(std::string_view bytes);
// A length-delimited payload checked as strict UTF-8.
Result<std::string> decode_string(std::string_view bytes);

}  // namespace tarnwick
