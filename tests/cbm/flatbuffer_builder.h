// Writes small FlatBuffers by hand for the core reader's tests: parents first, children after, so
// every reference points forward as the format requires; a test may then break any byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tarnwick::testing {

class FlatBufferBuilder {
 public:
  struct Table {
    std::size_t position = 0;
    std::map<int, std::size_t> fields;  // slot -> absolute position of the field
  };

  FlatBufferBuilder() { bytes_.resize(4); }

  // A table whose fields are given as raw bytes per slot (4 zero bytes for a reference to patch).
  Table table(const std::map<int, std::string>& fields) {
    int slots = fields.empty() ? 0 : fields.rbegin()->first + 1;
    std::size_t vtable = bytes_.size();
    std::vector<std::uint16_t> entries(static_cast<std::size_t>(2 + slots), 0);
    std::uint16_t offset = 4;
    for (const auto& [slot, value] : fields) {
      entries[2 + static_cast<std::size_t>(slot)] = offset;
      offset = static_cast<std::uint16_t>(offset + value.size());
    }
    entries[0] = static_cast<std::uint16_t>(entries.size() * 2);
    entries[1] = offset;
    for (std::uint16_t entry : entries) put(entry);
    Table table;
    table.position = bytes_.size();
    put(static_cast<std::int32_t>(table.position - vtable));
    for (const auto& [slot, value] : fields) {
      table.fields[slot] = bytes_.size();
      bytes_ += value;
    }
    return table;
  }

  template <class T>
  std::size_t vector(const std::vector<T>& values) {
    std::size_t position = bytes_.size();
    put(static_cast<std::uint32_t>(values.size()));
    for (const T& value : values) put(value);
    return position;
  }

  std::size_t string(const std::string& text) {
    std::size_t position = bytes_.size();
    put(static_cast<std::uint32_t>(text.size()));
    bytes_ += text;
    bytes_.push_back('\0');
    return position;
  }

  // A vector of `count` table references, to be patched with `point` as the tables are written.
  std::size_t reference_vector(std::size_t count) { return vector(std::vector<std::uint32_t>(count, 0)); }

  // Stores at `field` the forward offset to `target`.
  void point(std::size_t field, std::size_t target) {
    auto offset = static_cast<std::uint32_t>(target - field);
    std::memcpy(bytes_.data() + field, &offset, 4);
  }
  void set_root(const Table& root) { point(0, root.position); }

  template <class T>
  void overwrite(std::size_t position, T value) {
    std::memcpy(bytes_.data() + position, &value, sizeof(T));
  }

  std::string& bytes() { return bytes_; }

  template <class T>
  static std::string raw(T value) {
    std::string text(sizeof(T), '\0');
    std::memcpy(text.data(), &value, sizeof(T));
    return text;
  }
  static std::string reference() { return std::string(4, '\0'); }

 private:
  template <class T>
  void put(T value) {
    bytes_ += raw(value);
  }

  std::string bytes_;
};

}  // namespace tarnwick::testing
