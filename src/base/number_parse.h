// Strict number parsing for option values and model fields, with the usual failure reasons.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/status.h"

namespace tarnwick {

// Digits with one optional leading '+'. Reasons: "cannot parse integer from empty string",
// "invalid digit found in string", "number too large to fit in target type".
Result<std::uint64_t> parse_unsigned(std::string_view text);
// As above with an optional '-' too; "number too small to fit in target type" below the range.
Result<std::int64_t> parse_signed(std::string_view text);
// A decimal floating-point literal (also inf, infinity, nan in any case), no white space.
// Reasons: "cannot parse float from empty string", "invalid float literal".
Result<double> parse_real(std::string_view text);
// A size in bytes: a whole or decimal number with an optional unit, B, KB/MB/GB/TB (powers of
// 1000) or KiB/MiB/GiB/TiB and K/M/G/T (powers of 1024), any case ("24GiB", "1.5GB", "4096").
Result<std::uint64_t> parse_byte_size(std::string_view text);

}  // namespace tarnwick
