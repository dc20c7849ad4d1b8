#include "containers/flatbuffers.h"

#include <bit>

namespace tarnwick {

static_assert(std::endian::native == std::endian::little, "the reader loads little-endian values directly");

Error FlatBuffer::broken(std::uint64_t position, const std::string& problem) const {
  return fail(what_ + ": " + problem + " at byte " + std::to_string(position) + " of " + std::to_string(bytes_.size()));
}

Result<std::uint32_t> FlatBuffer::follow(std::uint32_t position) const {
  if (std::uint64_t{position} + 4 > bytes_.size()) return broken(position, "offset past the end");
  std::uint32_t offset = load<std::uint32_t>(position);
  // Offsets only point forward; one of zero would point at itself.
  if (offset == 0) return broken(position, "offset pointing at itself");
  std::uint64_t target = std::uint64_t{position} + offset;
  if (target >= bytes_.size()) return broken(position, "offset " + std::to_string(offset) + " out of range");
  return static_cast<std::uint32_t>(target);
}

Result<FbTable> FlatBuffer::table_at(std::uint32_t position) const {
  if (std::uint64_t{position} + 4 > bytes_.size()) return broken(position, "table past the end");
  std::int64_t vtable = std::int64_t{position} - load<std::int32_t>(position);
  if (vtable < 0 || vtable + 4 > static_cast<std::int64_t>(bytes_.size())) {
    return broken(position, "vtable out of range");
  }
  FbTable table;
  table.position = position;
  table.vtable = static_cast<std::uint32_t>(vtable);
  table.vtable_size = load<std::uint16_t>(table.vtable);
  table.table_size = load<std::uint16_t>(table.vtable + 2);
  if (table.vtable_size < 4 || table.vtable_size % 2 != 0 ||
      std::uint64_t{table.vtable} + table.vtable_size > bytes_.size()) {
    return broken(table.vtable, "vtable of " + std::to_string(table.vtable_size) + " bytes past the end");
  }
  if (table.table_size < 4 || std::uint64_t{position} + table.table_size > bytes_.size()) {
    return broken(position, "table of " + std::to_string(table.table_size) + " bytes past the end");
  }
  return table;
}

Result<FbTable> FlatBuffer::root() const {
  Result<std::uint32_t> position = follow(0);
  if (!position.is_ok()) return position.error();
  return table_at(position.value());
}

Result<std::optional<std::uint32_t>> FlatBuffer::field_position(const FbTable& table, int slot,
                                                                std::uint32_t width) const {
  std::uint32_t entry = 4 + 2 * static_cast<std::uint32_t>(slot);
  if (entry + 2 > table.vtable_size) return std::optional<std::uint32_t>();
  std::uint16_t offset = load<std::uint16_t>(table.vtable + entry);
  if (offset == 0) return std::optional<std::uint32_t>();
  if (offset < 4 || std::uint32_t{offset} + width > table.table_size) {
    return broken(table.position, "field " + std::to_string(slot) + " outside its table");
  }
  return std::optional<std::uint32_t>(table.position + offset);
}

Result<std::int32_t> FlatBuffer::int32_field(const FbTable& table, int slot, std::int32_t fallback) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 4);
  if (!position.is_ok()) return position.error();
  return position.value() ? load<std::int32_t>(*position.value()) : fallback;
}

Result<std::uint8_t> FlatBuffer::byte_field(const FbTable& table, int slot, std::uint8_t fallback) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 1);
  if (!position.is_ok()) return position.error();
  return position.value() ? load<std::uint8_t>(*position.value()) : fallback;
}

Result<double> FlatBuffer::double_field(const FbTable& table, int slot, double fallback) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 8);
  if (!position.is_ok()) return position.error();
  return position.value() ? load<double>(*position.value()) : fallback;
}

Result<std::optional<FbTable>> FlatBuffer::table_field(const FbTable& table, int slot) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 4);
  if (!position.is_ok()) return position.error();
  if (!position.value()) return std::optional<FbTable>();
  Result<std::uint32_t> target = follow(*position.value());
  if (!target.is_ok()) return target.error();
  Result<FbTable> found = table_at(target.value());
  if (!found.is_ok()) return found.error();
  return std::optional<FbTable>(found.value());
}

Result<FbVector> FlatBuffer::vector_at(std::uint32_t position, std::uint32_t element_size) const {
  if (std::uint64_t{position} + 4 > bytes_.size()) return broken(position, "vector past the end");
  FbVector vector;
  vector.count = load<std::uint32_t>(position);
  vector.first = position + 4;
  std::uint64_t length = std::uint64_t{vector.count} * element_size;
  if (vector.first + length > bytes_.size()) {
    return broken(position, "vector of " + std::to_string(vector.count) + " elements past the end");
  }
  return vector;
}

Result<FbVector> FlatBuffer::vector_field(const FbTable& table, int slot, std::uint32_t element_size) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 4);
  if (!position.is_ok()) return position.error();
  if (!position.value()) return FbVector{};
  Result<std::uint32_t> target = follow(*position.value());
  if (!target.is_ok()) return target.error();
  return vector_at(target.value(), element_size);
}

// A string is a byte vector followed by a zero byte, which the FlatBuffers verifier requires
// too: a buffer cut right after a string's last character is not whole.
Result<std::string_view> FlatBuffer::string_at(std::uint32_t position) const {
  Result<FbVector> text = vector_at(position, 1);
  if (!text.is_ok()) return text.error();
  std::uint64_t end = std::uint64_t{text.value().first} + text.value().count;
  if (end >= bytes_.size() || bytes_[end] != '\0') return broken(position, "string without its closing zero byte");
  return bytes_.substr(text.value().first, text.value().count);
}

Result<std::optional<std::string_view>> FlatBuffer::string_field(const FbTable& table, int slot) const {
  Result<std::optional<std::uint32_t>> position = field_position(table, slot, 4);
  if (!position.is_ok()) return position.error();
  if (!position.value()) return std::optional<std::string_view>();
  Result<std::uint32_t> target = follow(*position.value());
  if (!target.is_ok()) return target.error();
  Result<std::string_view> text = string_at(target.value());
  if (!text.is_ok()) return text.error();
  return std::optional<std::string_view>(text.value());
}

Result<FbTable> FlatBuffer::table_element(const FbVector& vector, std::uint32_t index) const {
  Result<std::uint32_t> target = follow(vector.first + index * 4);
  if (!target.is_ok()) return target.error();
  return table_at(target.value());
}

Result<std::string_view> FlatBuffer::string_element(const FbVector& vector, std::uint32_t index) const {
  Result<std::uint32_t> target = follow(vector.first + index * 4);
  if (!target.is_ok()) return target.error();
  return string_at(target.value());
}

}  // namespace tarnwick
