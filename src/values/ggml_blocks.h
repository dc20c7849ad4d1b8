// ggml's block-quantized types, dequantized exactly as ggml's own to_float does (float32
// arithmetic in the same order), block by block.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "values/ggml_block_sums.h"

namespace tarnwick {

struct GgmlBlockLayout {
  std::uint64_t elements = 0;  // values per block
  std::uint64_t bytes = 0;     // bytes per block
  // Writes `elements` values for each of `blocks` consecutive blocks.
  void (*dequantize)(const unsigned char* blocks_bytes, std::uint64_t blocks, float* out) = nullptr;
  // Statistics straight from the blocks, for the types that have them (see ggml_block_sums.h).
  GgmlBlockSums sums = nullptr;
};

// The layout of a block type by its dtype name ("q4_k"); nothing for types not decoded.
std::optional<GgmlBlockLayout> ggml_block_layout(std::string_view dtype);

}  // namespace tarnwick
