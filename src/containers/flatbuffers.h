// A bounds-checked reader of FlatBuffers tables, vectors and strings over untrusted bytes.
// Every access returns an error value instead of reading outside the buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

// A table found in the buffer: where it starts and where its vtable says its fields are.
struct FbTable {
  std::uint32_t position = 0;
  std::uint32_t vtable = 0;
  std::uint16_t vtable_size = 0;
  std::uint16_t table_size = 0;
};

// A vector found in the buffer: its element count and where the first element starts.
struct FbVector {
  std::uint32_t count = 0;
  std::uint32_t first = 0;
};

class FlatBuffer {
 public:
  // `what` names the buffer in messages ("model.cbm: CatBoost core").
  FlatBuffer(std::string_view bytes, std::string what) : bytes_(bytes), what_(std::move(what)) {}

  std::size_t size() const { return bytes_.size(); }
  Result<FbTable> root() const;

  // Scalars: the field's value, or `fallback` when the vtable leaves the slot out.
  Result<std::int32_t> int32_field(const FbTable& table, int slot, std::int32_t fallback) const;
  Result<std::uint8_t> byte_field(const FbTable& table, int slot, std::uint8_t fallback) const;
  Result<double> double_field(const FbTable& table, int slot, double fallback) const;
  template <class T>
  Result<T> scalar_field(const FbTable& table, int slot, T fallback) const {
    Result<std::optional<std::uint32_t>> position = field_position(table, slot, sizeof(T));
    if (!position.is_ok()) return position.error();
    return position.value() ? load<T>(*position.value()) : fallback;
  }

  // References: nothing when the slot is absent.
  Result<std::optional<FbTable>> table_field(const FbTable& table, int slot) const;
  Result<std::optional<std::string_view>> string_field(const FbTable& table, int slot) const;
  // A vector of fixed-size elements (scalars or structs) of `element_size` bytes each; an absent
  // slot reads as an empty vector.
  Result<FbVector> vector_field(const FbTable& table, int slot, std::uint32_t element_size) const;

  // Elements of a vector, the index already checked against its count by the caller.
  Result<FbTable> table_element(const FbVector& vector, std::uint32_t index) const;
  Result<std::string_view> string_element(const FbVector& vector, std::uint32_t index) const;
  template <class T>
  T scalar_element(const FbVector& vector, std::uint32_t index) const {
    return load<T>(vector.first + std::uint64_t{index} * sizeof(T));
  }

 private:
  template <class T>
  T load(std::uint64_t position) const {
    T value;
    std::memcpy(&value, bytes_.data() + position, sizeof(T));
    return value;
  }
  Error broken(std::uint64_t position, const std::string& problem) const;
  // The absolute position of a field of `width` bytes, or nothing when the slot is absent.
  Result<std::optional<std::uint32_t>> field_position(const FbTable& table, int slot, std::uint32_t width) const;
  // Follows the unsigned offset stored at `position` (relative to itself).
  Result<std::uint32_t> follow(std::uint32_t position) const;
  Result<FbTable> table_at(std::uint32_t position) const;
  Result<FbVector> vector_at(std::uint32_t position, std::uint32_t element_size) const;
  Result<std::string_view> string_at(std::uint32_t position) const;

  std::string_view bytes_;
  std::string what_;
};

}  // namespace tarnwick
