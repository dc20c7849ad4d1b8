// Line printers shared by every text report: labelled fields and the two-line change entries.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/word_list.h"

namespace tarnwick {

// "{title}" underlined with as many dashes.
void print_title(std::ostream& out, std::string_view title);
void print_field(std::ostream& out, std::string_view label, const std::optional<std::string>& text);
void print_size_change(std::ostream& out, std::string_view label, std::uint64_t old_bytes, std::uint64_t new_bytes);
void print_count_change(std::ostream& out, std::string_view label, std::uint64_t old_count, std::uint64_t new_count);
void print_optional_count_change(std::ostream& out, std::string_view label, std::optional<std::uint64_t> old_count,
                                 std::optional<std::uint64_t> new_count);
void print_float_change(std::ostream& out, std::string_view label, std::optional<double> old_value,
                        std::optional<double> new_value);
void print_text_change(std::ostream& out, std::string_view label, const std::optional<std::string>& old_text,
                       const std::optional<std::string>& new_text);
void print_fingerprint_change(std::ostream& out, std::string_view label, std::optional<std::uint64_t> old_fingerprint,
                              std::optional<std::uint64_t> new_fingerprint);
// "  {count_label}: {n}", the first `limit` names as "  {}", then "  ... {} more" for the rest.
void print_limited_names(std::ostream& out, std::string_view count_label, const std::vector<std::string>& names,
                         std::uint64_t limit);
void print_limited_names(std::ostream& out, std::string_view count_label, const WordList& names, std::uint64_t limit);
// "  ... {total - limit} more" when a list of `total` entries was cut at `limit`.
void print_rest_count(std::ostream& out, std::uint64_t total, std::uint64_t limit);
// The label is twelve characters wide so that successive lists line up.
void print_name_list(std::ostream& out, std::string_view label, const std::vector<std::string>& names);

}  // namespace tarnwick
