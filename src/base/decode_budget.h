// How much a reader may decode from one input: elements (table entries, vector items, messages,
// dimensions, pickle objects, JSON values, archive entries) drawn from an allowance proportional
// to the input's bytes. A structure reached twice through aliases is drawn twice, so no input can
// make its reader decode more than a constant multiple of its own size.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

class DecodeBudget {
 public:
  // Every element an honest input decodes takes at least a byte of it (an opcode, a tag and its
  // length, a comma); only aliases and repeated references make more. The constant covers the
  // records a reader keeps whatever the input, so tiny inputs never meet the limit.
  static constexpr std::uint64_t kElementsPerByte = 1;
  static constexpr std::uint64_t kBaseElements = 1 << 16;

  // Nesting limits of the recursive readers: subgraphs inside attributes, and values inside
  // values (pickle containers, JSON arrays and objects).
  static constexpr int kMaxGraphNesting = 64;
  static constexpr std::size_t kMaxValueNesting = 512;

  explicit DecodeBudget(std::uint64_t input_bytes);

  // Takes `elements` from the allowance, or fails naming `what` was being decoded.
  [[nodiscard]] Status draw(std::uint64_t elements, std::string_view what);

  std::uint64_t allowance() const { return allowance_; }
  std::uint64_t drawn() const { return drawn_; }

 private:
  std::uint64_t input_bytes_;
  std::uint64_t allowance_;
  std::uint64_t drawn_ = 0;
};

}  // namespace tarnwick
