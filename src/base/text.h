// Text helpers: UTF-8 validation and lossy decoding, white-space trimming, path names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

bool is_valid_utf8(std::string_view bytes);

// Where strict UTF-8 validation stopped: valid bytes before the problem, and the length of the
// invalid sequence, or nothing when the input ended inside a sequence.
struct Utf8Problem {
  std::size_t valid_up_to = 0;
  std::optional<std::size_t> error_length;
};
std::optional<Utf8Problem> find_utf8_problem(std::string_view bytes);
// Pads with spaces on the right to `width` characters (code points); never cuts.
std::string pad_right(std::string_view text, std::size_t width);
std::string pad_left(std::string_view text, std::size_t width);
// Replaces each maximal invalid subsequence with U+FFFD, as UTF-8 decoders with replacement do.
std::string decode_utf8_lossy(std::string_view bytes);
// Trims Unicode white space from both ends of valid UTF-8 text.
std::string_view trim(std::string_view text);
std::vector<std::string_view> split_whitespace(std::string_view text);
// The first word at or after `from`, split at Unicode white space as split_whitespace splits;
// `word` is empty when none is left. Returns where to continue from.
std::size_t next_word(std::string_view text, std::size_t from, std::string_view& word);
// The text with every white-space character removed: " [ 1, 8 ] " reads "[1,8]".
std::string remove_whitespace(std::string_view text);

// The last component of a path, when it has one and it is valid UTF-8; else the path as given.
std::string display_file_name(const std::string& path);
// The last component of a path whatever its bytes; the path as given when it has none.
std::string last_path_component(const std::string& path);

// Text from a file made safe for a text report: tab, line feed and carriage return read \t, \n
// and \r, other control characters (C0, DEL, C1) read \u{..} with their hexadecimal code, and
// bytes that are not UTF-8 read \x.. ; printable text, valid UTF-8 and backslashes are unchanged.
std::string escape_control(std::string_view text);
// The text after the last dot of the last component; empty when there is none.
std::string path_extension(const std::string& path);

}  // namespace tarnwick
