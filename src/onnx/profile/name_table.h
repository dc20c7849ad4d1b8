// A flat hash table from names to small integers, for graphs of hundreds of thousands of
// values: one allocation per growth instead of one per name. The names are views: the strings
// must outlive the table.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace tarnwick {

class NameTable {
 public:
  explicit NameTable(std::size_t expected = 0) { rehash(capacity_for(expected)); }

  // Adds `name` with `value` unless present; returns the stored value and whether it was added.
  std::pair<std::uint32_t, bool> insert(std::string_view name, std::uint32_t value) {
    if (2 * (size_ + 1) > keys_.size()) rehash(keys_.size() * 2);
    std::size_t slot = probe(name);
    if (used_[slot]) return {values_[slot], false};
    used_[slot] = true;
    keys_[slot] = name;
    values_[slot] = value;
    ++size_;
    return {value, true};
  }

  std::optional<std::uint32_t> find(std::string_view name) const {
    std::size_t slot = probe(name);
    if (!used_[slot]) return std::nullopt;
    return values_[slot];
  }

  // Sets the value of `name`, adding it when new.
  void assign(std::string_view name, std::uint32_t value) {
    auto [stored, added] = insert(name, value);
    if (!added) values_[probe(name)] = value;
    (void)stored;
  }

 private:
  static std::size_t capacity_for(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < 2 * expected + 2) capacity *= 2;
    return capacity;
  }

  std::size_t probe(std::string_view name) const {
    std::size_t mask = keys_.size() - 1;
    std::size_t slot = std::hash<std::string_view>{}(name) & mask;
    while (used_[slot] && keys_[slot] != name) slot = (slot + 1) & mask;
    return slot;
  }

  void rehash(std::size_t capacity) {
    std::vector<std::string_view> keys = std::move(keys_);
    std::vector<std::uint32_t> values = std::move(values_);
    std::vector<bool> used = std::move(used_);
    keys_.assign(capacity, {});
    values_.assign(capacity, 0);
    used_.assign(capacity, false);
    size_ = 0;
    for (std::size_t k = 0; k < keys.size(); ++k)
      if (used[k]) insert(keys[k], values[k]);
  }

  std::vector<std::string_view> keys_;
  std::vector<std::uint32_t> values_;
  std::vector<bool> used_;
  std::size_t size_ = 0;
};

}  // namespace tarnwick
