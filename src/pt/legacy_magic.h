// The number that opens a legacy (pre-zip) torch.save file: its first pickle holds only this.
#pragma once

#include <string_view>

#include "pickle/value.h"

namespace tarnwick {

inline constexpr std::string_view kLegacyMagicLittleEndian{"\x6c\xfc\x9c\x46\xf9\x20\x6a\xa8\x50\x19", 10};
inline constexpr std::string_view kLegacyMagicDecimal = "119547037146038801333356";
inline constexpr std::int64_t kLegacyProtocolVersion = 1001;

// torch compares the value, so every pickle encoding of the number counts: LONG1/LONG4 bytes with
// extra sign bytes of zero, and the text forms (LONG, INT) with a sign, leading zeros or an L.
inline bool is_legacy_magic(const pickle::Value& value) {
  if (value.kind != pickle::Kind::kBigInt) return false;
  std::string_view text = value.text;
  if (value.big_int_binary) {
    while (text.size() > kLegacyMagicLittleEndian.size() && text.back() == '\0') text.remove_suffix(1);
    return text == kLegacyMagicLittleEndian;
  }
  if (text.ends_with('L')) text.remove_suffix(1);
  if (text.starts_with('+')) text.remove_prefix(1);
  while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
  return text == kLegacyMagicDecimal;
}

}  // namespace tarnwick
