// The number that opens a legacy (pre-zip) torch.save file: its first pickle holds only this.
#pragma once

#include <string_view>

#include "pickle/value.h"

namespace tarnwick {

inline constexpr std::string_view kLegacyMagicLittleEndian{"\x6c\xfc\x9c\x46\xf9\x20\x6a\xa8\x50\x19", 10};
inline constexpr std::string_view kLegacyMagicDecimal = "119547037146038801333356";
inline constexpr std::int64_t kLegacyProtocolVersion = 1001;

inline bool is_legacy_magic(const pickle::Value& value) {
  if (value.kind != pickle::Kind::kBigInt) return false;
  return value.big_int_binary ? value.text == kLegacyMagicLittleEndian : value.text == kLegacyMagicDecimal;
}

}  // namespace tarnwick
