// Text helpers: UTF-8 validation and lossy decoding, white-space trimming, path names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

bool is_valid_utf8(std::string_view bytes);
// Replaces each maximal invalid subsequence with U+FFFD, as UTF-8 decoders with replacement do.
std::string decode_utf8_lossy(std::string_view bytes);
// Trims Unicode white space from both ends of valid UTF-8 text.
std::string_view trim(std::string_view text);
std::vector<std::string_view> split_whitespace(std::string_view text);
bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);

// The last component of a path, when it has one and it is valid UTF-8; else the path as given.
std::string display_file_name(const std::string& path);
// The text after the last dot of the last component; empty when there is none.
std::string path_extension(const std::string& path);

}  // namespace tarnwick
