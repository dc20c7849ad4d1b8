// The printed form of a JSON value tree: two-space pretty print, shortest round-trip doubles,
// strings with invalid UTF-8 replaced by U+FFFD, and integers beyond the 64-bit types exact.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "base/json_output.h"

namespace tarnwick {

class WordList;

std::string pretty_json_text(const Json& value);
std::string pretty_json_text(const OrderedJson& value);
// The same text written to `out` piece by piece, never held whole.
void write_pretty_json(std::ostream& out, const Json& value);
void write_pretty_json(std::ostream& out, const OrderedJson& value);
// A string as a JSON string literal, for messages that quote a name taken from a file.
std::string json_quoted(const std::string& text);

// An integer that may lie outside both 64-bit types: negative magnitudes above 2^63 are held as
// a tagged binary value whose bytes are the decimal text, printed as a bare number.
Json json_signed_magnitude(bool negative, std::uint64_t magnitude);

// A list of words printed as an array of strings. It is held as the list's one joined text (a
// tagged binary value), not a string value per word, so millions of names stay small.
Json json_word_array(const WordList& words);
OrderedJson ordered_word_array(const WordList& words);

}  // namespace tarnwick
