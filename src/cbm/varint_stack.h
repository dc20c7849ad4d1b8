// Stacks of small numbers held as varints, a byte for most entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarnwick {

// Unsigned numbers as LEB128 varints. The last byte of each has its top bit clear and every
// other byte has it set, so the stack can be read from the back as well as from the front.
class VarintStack {
 public:
  [[gnu::always_inline]] void push(std::uint64_t value) {
    if (value < 0x80) {
      bytes_.push_back(static_cast<std::uint8_t>(value));
      return;
    }
    push_long(value);
  }

  [[gnu::always_inline]] std::uint64_t pop() {
    if (bytes_.size() < 2 || (bytes_[bytes_.size() - 2] & 0x80) == 0) {
      std::uint64_t value = bytes_.back();
      bytes_.pop_back();
      return value;
    }
    return pop_long();
  }

  // The last value, left in place.
  std::uint64_t last() const {
    std::size_t begin = bytes_.size() - 1;
    while (begin > 0 && (bytes_[begin - 1] & 0x80) != 0) --begin;
    return read(begin);
  }

  // The value at `cursor`, moving it past; for reading front to back.
  std::uint64_t read(std::size_t& cursor) const {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      std::uint8_t byte = bytes_[cursor++];
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) return value;
    }
  }

  // `count` zeros, each a byte.
  void push_zeros(std::size_t count) { bytes_.resize(bytes_.size() + count, 0); }

  bool empty() const { return bytes_.empty(); }
  std::size_t byte_size() const { return bytes_.size(); }
  void clear() { bytes_.clear(); }

 private:
  void push_long(std::uint64_t value) {
    while (value >= 0x80) {
      bytes_.push_back(static_cast<std::uint8_t>(value | 0x80));
      value >>= 7;
    }
    bytes_.push_back(static_cast<std::uint8_t>(value));
  }

  std::uint64_t pop_long() {
    std::size_t end = bytes_.size();
    std::size_t begin = end - 1;
    while (begin > 0 && (bytes_[begin - 1] & 0x80) != 0) --begin;
    std::size_t cursor = begin;
    std::uint64_t value = read(cursor);
    bytes_.resize(begin);
    return value;
  }

  std::vector<std::uint8_t> bytes_;
};

// Pairs (a, b) where each pushed pair is greater in both than the one below it. The top is kept
// whole; below it only the steps between neighbours, one byte for a step of (up to 64, 1).
class IncreasingPairStack {
 public:
  struct Pair {
    std::int64_t a = 0;
    std::int64_t b = 0;
  };

  bool empty() const { return count_ == 0; }
  std::size_t size() const { return count_; }
  const Pair& top() const { return top_; }
  std::size_t byte_size() const { return steps_.byte_size(); }

  [[gnu::always_inline]] void push(Pair pair) {
    if (count_++ > 0) {
      auto step_a = static_cast<std::uint64_t>(pair.a - top_.a);
      auto step_b = static_cast<std::uint64_t>(pair.b - top_.b);
      // The step of b is almost always 1: it is written only when it is not, flagged in the step of a.
      if (step_b != 1) steps_.push(step_b - 2);
      steps_.push(((step_a - 1) << 1) | (step_b != 1 ? 1 : 0));
    }
    top_ = pair;
  }

  // `count` pairs (a, b), (a + 1, b + 1), ...: a byte each.
  void push_steps_of_one(Pair first, std::size_t count) {
    push(first);
    steps_.push_zeros(count - 1);
    count_ += count - 1;
    top_ = {first.a + static_cast<std::int64_t>(count - 1), first.b + static_cast<std::int64_t>(count - 1)};
  }

  [[gnu::always_inline]] Pair pop() {
    Pair popped = top_;
    if (--count_ > 0) {
      std::uint64_t head = steps_.pop();
      std::uint64_t step_b = (head & 1) != 0 ? steps_.pop() + 2 : 1;
      top_.a -= static_cast<std::int64_t>((head >> 1) + 1);
      top_.b -= static_cast<std::int64_t>(step_b);
    }
    return popped;
  }

  void clear() {
    steps_.clear();
    count_ = 0;
  }

 private:
  VarintStack steps_;
  std::size_t count_ = 0;
  Pair top_;
};

}  // namespace tarnwick
