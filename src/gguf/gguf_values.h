// GGUF metadata values: strings, numbers, booleans and (nested) arrays, read with bounds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "gguf/gguf_cursor.h"
#include "base/json_output.h"
#include "base/status.h"

namespace tarnwick {

inline constexpr std::uint32_t kGgufTypeUint32 = 4;
inline constexpr std::uint32_t kGgufTypeString = 8;
inline constexpr std::uint32_t kGgufTypeArray = 9;
inline constexpr int kGgufMaxArrayDepth = 8;
inline constexpr std::uint64_t kGgufArrayItemsShown = 16;

// Version 1 wrote 32-bit lengths and counts; later versions 64-bit.
struct GgufSizes {
  int width = 8;
};

std::string_view gguf_value_type_name(std::uint32_t type);
Result<std::uint64_t> read_gguf_size(GgufCursor& cursor, GgufSizes sizes);
// Strict UTF-8 (keys and tensor names) fails on bad bytes; otherwise they become U+FFFD.
Result<std::string> read_gguf_string(GgufCursor& cursor, GgufSizes sizes, bool strict_utf8);
// A value as JSON; an array of more than 16 items becomes {"type", "count"} and is skipped.
Result<Json> read_gguf_value(GgufCursor& cursor, GgufSizes sizes, std::uint32_t type, int depth = 0);

}  // namespace tarnwick
