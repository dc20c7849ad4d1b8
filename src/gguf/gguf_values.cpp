#include "gguf/gguf_values.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "base/checked_math.h"
#include "base/text.h"

namespace tarnwick {

namespace {

struct ValueType {
  std::string_view name;
  std::uint64_t width;  // bytes of one value; strings and arrays give their smallest size
};

constexpr std::array<ValueType, 13> kValueTypes{{
    {"uint8", 1},
    {"int8", 1},
    {"uint16", 2},
    {"int16", 2},
    {"uint32", 4},
    {"int32", 4},
    {"float32", 4},
    {"bool", 1},
    {"string", 0},
    {"array", 0},
    {"uint64", 8},
    {"int64", 8},
    {"float64", 8},
}};

bool is_known(std::uint32_t type) { return type < kValueTypes.size(); }

std::uint64_t smallest_size(std::uint32_t type, GgufSizes sizes) {
  if (type == kGgufTypeString) return static_cast<std::uint64_t>(sizes.width);
  if (type == kGgufTypeArray) return 4 + static_cast<std::uint64_t>(sizes.width);
  return kValueTypes[type].width;
}

std::int64_t sign_extend(std::uint64_t value, std::uint64_t width) {
  unsigned shift = static_cast<unsigned>(64 - 8 * width);
  return static_cast<std::int64_t>(value << shift) >> shift;
}

Result<Json> read_scalar(GgufCursor& cursor, std::uint32_t type) {
  std::uint64_t width = kValueTypes[type].width;
  Result<std::uint64_t> raw = cursor.read_unsigned(static_cast<int>(width));
  if (!raw.is_ok()) return raw.error();
  std::uint64_t bits = raw.value();
  switch (type) {
    case 1:
    case 3:
    case 5:
    case 11: return Json(sign_extend(bits, width));
    case 6: return Json(static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits))));
    case 12: return Json(std::bit_cast<double>(bits));
    case 7: return Json(bits != 0);
    default: return Json(bits);
  }
}

Status skip_value(GgufCursor& cursor, GgufSizes sizes, std::uint32_t type, int depth);

struct ArrayHead {
  std::uint32_t element_type = 0;
  std::uint64_t count = 0;
};

Result<ArrayHead> read_array_head(GgufCursor& cursor, GgufSizes sizes, int depth) {
  if (depth >= kGgufMaxArrayDepth) {
    return fail("arrays nested deeper than " + std::to_string(kGgufMaxArrayDepth) + " levels");
  }
  Result<std::uint64_t> element_type = cursor.read_unsigned(4);
  if (!element_type.is_ok()) return element_type.error();
  std::uint32_t type = static_cast<std::uint32_t>(element_type.value());
  if (!is_known(type)) return fail("unknown array element type " + std::to_string(type));
  Result<std::uint64_t> count = read_gguf_size(cursor, sizes);
  if (!count.is_ok()) return count.error();
  std::optional<std::uint64_t> least = checked_multiply(count.value(), smallest_size(type, sizes));
  if (!least || *least > cursor.bytes_left()) {
    return fail("array of " + std::to_string(count.value()) + " " + std::string(kValueTypes[type].name) +
                " values runs past the end of the file");
  }
  // Strings and arrays are visited one by one even when skipped; other items only when shown.
  bool visited = type == kGgufTypeString || type == kGgufTypeArray;
  Status drawn =
      cursor.budget().draw(visited ? count.value() : std::min(count.value(), kGgufArrayItemsShown), "GGUF array items");
  if (!drawn.is_ok()) return drawn.error();
  return ArrayHead{type, count.value()};
}

Status skip_elements(GgufCursor& cursor, GgufSizes sizes, const ArrayHead& array, int depth) {
  std::uint32_t type = array.element_type;
  if (type != kGgufTypeString && type != kGgufTypeArray) {
    return cursor.skip(array.count * kValueTypes[type].width);  // checked against the bytes left already
  }
  for (std::uint64_t i = 0; i < array.count; ++i) {
    Status skipped = skip_value(cursor, sizes, type, depth + 1);
    if (!skipped.is_ok()) return skipped;
  }
  return Status::ok();
}

Status skip_array(GgufCursor& cursor, GgufSizes sizes, int depth) {
  Result<ArrayHead> head = read_array_head(cursor, sizes, depth);
  if (!head.is_ok()) return head.error();
  return skip_elements(cursor, sizes, head.value(), depth);
}

Status skip_value(GgufCursor& cursor, GgufSizes sizes, std::uint32_t type, int depth) {
  if (type == kGgufTypeString) {
    Result<std::uint64_t> length = read_gguf_size(cursor, sizes);
    if (!length.is_ok()) return length.error();
    return cursor.skip(length.value());
  }
  if (type == kGgufTypeArray) return skip_array(cursor, sizes, depth);
  return cursor.skip(kValueTypes[type].width);
}

Result<Json> read_array(GgufCursor& cursor, GgufSizes sizes, int depth) {
  Result<ArrayHead> head = read_array_head(cursor, sizes, depth);
  if (!head.is_ok()) return head.error();
  const ArrayHead& array = head.value();
  if (array.count > kGgufArrayItemsShown) {
    Status skipped = skip_elements(cursor, sizes, array, depth);
    if (!skipped.is_ok()) return skipped.error();
    return Json{{"type", std::string(kValueTypes[array.element_type].name)}, {"count", array.count}};
  }
  Json items = Json::array();
  for (std::uint64_t i = 0; i < array.count; ++i) {
    Result<Json> item = read_gguf_value(cursor, sizes, array.element_type, depth + 1);
    if (!item.is_ok()) return item.error();
    items.push_back(item.take());
  }
  return items;
}

}  // namespace

std::string_view gguf_value_type_name(std::uint32_t type) {
  return is_known(type) ? kValueTypes[type].name : std::string_view("unknown");
}

Result<std::uint64_t> read_gguf_size(GgufCursor& cursor, GgufSizes sizes) { return cursor.read_unsigned(sizes.width); }

Result<std::string> read_gguf_string(GgufCursor& cursor, GgufSizes sizes, bool strict_utf8) {
  Result<std::uint64_t> length = read_gguf_size(cursor, sizes);
  if (!length.is_ok()) return length.error();
  if (length.value() > cursor.bytes_left()) {
    return fail("a string of " + std::to_string(length.value()) + " bytes runs past the end of the file");
  }
  Result<std::string_view> bytes = cursor.take(length.value());
  if (!bytes.is_ok()) return bytes.error();
  if (is_valid_utf8(bytes.value())) return std::string(bytes.value());
  if (strict_utf8) return fail("a string is not valid UTF-8");
  return decode_utf8_lossy(bytes.value());
}

Result<Json> read_gguf_value(GgufCursor& cursor, GgufSizes sizes, std::uint32_t type, int depth) {
  if (!is_known(type)) return fail("unknown value type " + std::to_string(type));
  if (type == kGgufTypeString) {
    Result<std::string> text = read_gguf_string(cursor, sizes, false);
    if (!text.is_ok()) return text.error();
    return Json(text.take());
  }
  if (type == kGgufTypeArray) return read_array(cursor, sizes, depth);
  return read_scalar(cursor, type);
}

}  // namespace tarnwick
