// The dimensions of a shape, held as varints: a byte for each dimension below 128 instead of
// eight, so that a crafted shape of millions of dimensions costs about what it took in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace tarnwick {

class DimList {
 public:
  DimList() = default;
  DimList(std::initializer_list<std::uint64_t> dims) {
    for (std::uint64_t dim : dims) push_back(dim);
  }

  void push_back(std::uint64_t dim) {
    while (dim >= 0x80) {
      bytes_.push_back(static_cast<char>(dim | 0x80));
      dim >>= 7;
    }
    bytes_.push_back(static_cast<char>(dim));
    ++count_;
  }
  void reserve_bytes(std::size_t bytes) { bytes_.reserve(bytes); }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // Bytes held for the dimensions, for tests of the memory a shape keeps.
  std::size_t byte_size() const { return bytes_.size(); }

  class const_iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = std::uint64_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const std::uint64_t*;
    using reference = std::uint64_t;

    const_iterator(const char* at, const char* end) : at_(at), end_(end) { decode(); }
    std::uint64_t operator*() const { return value_; }
    const_iterator& operator++() {
      at_ = next_;
      decode();
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    void decode() {
      value_ = 0;
      next_ = at_;
      for (int shift = 0; next_ != end_; shift += 7) {
        auto byte = static_cast<unsigned char>(*next_++);
        value_ |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) break;
      }
    }
    const char* at_;
    const char* end_;
    const char* next_ = nullptr;
    std::uint64_t value_ = 0;
  };

  const_iterator begin() const { return {bytes_.data(), bytes_.data() + bytes_.size()}; }
  const_iterator end() const { return {bytes_.data() + bytes_.size(), bytes_.data() + bytes_.size()}; }

  std::vector<std::uint64_t> to_vector() const { return {begin(), end()}; }

  // The encoding is canonical, so equal lists hold equal bytes.
  bool operator==(const DimList& other) const = default;

 private:
  std::string bytes_;
  std::size_t count_ = 0;
};

}  // namespace tarnwick
