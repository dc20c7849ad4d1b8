// The printed form of a JSON value tree: two-space pretty print, shortest round-trip doubles,
// strings with invalid UTF-8 replaced by U+FFFD, and integers beyond the 64-bit types exact.
#pragma once

#include <cstdint>
#include <string>

#include "main/json_output.h"

namespace tarnwick {

std::string pretty_json_text(const Json& value);
std::string pretty_json_text(const OrderedJson& value);
// A string as a JSON string literal, for messages that quote a name taken from a file.
std::string json_quoted(const std::string& text);

// An integer that may lie outside both 64-bit types: negative magnitudes above 2^63 are held as
// a tagged binary value whose bytes are the decimal text, printed as a bare number.
Json json_signed_magnitude(bool negative, std::uint64_t magnitude);

}  // namespace tarnwick
