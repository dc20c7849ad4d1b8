// The text-line arguments of protocol 0 opcodes, decoded the way Python's unpickler reads them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/status.h"

namespace tarnwick::pickle {

// A decimal integer with optional sign (and LONG's trailing `L`); nothing when it does not fit
// in 64 bits or is no number.
std::optional<std::int64_t> parse_decimal(std::string_view text);
// True when `text` is a well-formed decimal integer of any size (optional sign, trailing `L`).
bool is_decimal_integer(std::string_view text);
std::optional<double> parse_float_line(std::string_view text);
// STRING's quoted Python literal: quotes stripped, backslash escapes resolved.
Result<std::string> unquote_string_literal(std::string_view text);
// UNICODE's raw-unicode-escape text: \uXXXX and \UXXXXXXXX resolved, other bytes latin-1; UTF-8 out.
Result<std::string> decode_raw_unicode_escape(std::string_view text);
// Appends the UTF-8 form of a code point.
void append_utf8(std::string& out, std::uint32_t code_point);

}  // namespace tarnwick::pickle
