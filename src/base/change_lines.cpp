#include "base/change_lines.h"

#include <cmath>
#include <limits>

#include "base/format.h"
#include "base/real_equality.h"
#include "base/text.h"

namespace tarnwick {

void print_title(std::ostream& out, std::string_view title) {
  out << title << "\n" << std::string(title.size(), '-') << "\n";
}

void print_rest_count(std::ostream& out, std::uint64_t total, std::uint64_t limit) {
  if (total > limit) out << "  ... " << total - limit << " more\n";
}

void print_field(std::ostream& out, std::string_view label, const std::optional<std::string>& text) {
  out << "  " << label << ": " << (text ? escape_control(*text) : "unknown") << "\n";
}

void print_size_change(std::ostream& out, std::string_view label, std::uint64_t old_bytes, std::uint64_t new_bytes) {
  out << label << ":\n  " << format_bytes(old_bytes) << " -> " << format_bytes(new_bytes) << " ("
      << format_delta(old_bytes, new_bytes) << ")\n";
}

void print_count_change(std::ostream& out, std::string_view label, std::uint64_t old_count, std::uint64_t new_count) {
  out << label << ":\n  " << old_count << " -> " << new_count << " (" << format_delta(old_count, new_count) << ")\n";
}

void print_optional_count_change(std::ostream& out, std::string_view label, std::optional<std::uint64_t> old_count,
                                 std::optional<std::uint64_t> new_count) {
  if (old_count && new_count) {
    print_count_change(out, label, *old_count, *new_count);
  } else {
    out << label << ":\n  unknown\n";
  }
}

void print_float_change(std::ostream& out, std::string_view label, std::optional<double> old_value,
                        std::optional<double> new_value) {
  if (!old_value || !new_value) {
    out << label << ":\n  unknown\n";
    return;
  }
  double difference = *new_value - *old_value;
  out << label << ":\n  " << format_fixed(*old_value, 6) << " -> " << format_fixed(*new_value, 6);
  if (same_real(*old_value, *new_value) || std::fabs(difference) < std::numeric_limits<double>::epsilon()) {
    out << " (same)\n";
  } else {
    out << " (" << format_signed_fixed(difference, 6) << ")\n";
  }
}

namespace {

void print_optional_pair_change(std::ostream& out, std::string_view label, const std::optional<std::string>& old_text,
                                const std::optional<std::string>& new_text, bool equal) {
  out << label << ":\n  ";
  if (!old_text && !new_text) {
    out << "unknown\n";
  } else if (!old_text) {
    out << "unknown -> " << escape_control(*new_text) << "\n";
  } else if (!new_text) {
    out << escape_control(*old_text) << " -> unknown\n";
  } else {
    out << escape_control(*old_text) << " -> " << escape_control(*new_text) << (equal ? " (same)\n" : " (changed)\n");
  }
}

std::optional<std::string> fingerprint_text(std::optional<std::uint64_t> fingerprint) {
  if (!fingerprint) return std::nullopt;
  return format_fingerprint(*fingerprint);
}

}  // namespace

void print_text_change(std::ostream& out, std::string_view label, const std::optional<std::string>& old_text,
                       const std::optional<std::string>& new_text) {
  print_optional_pair_change(out, label, old_text, new_text, old_text == new_text);
}

void print_fingerprint_change(std::ostream& out, std::string_view label, std::optional<std::uint64_t> old_fingerprint,
                              std::optional<std::uint64_t> new_fingerprint) {
  print_optional_pair_change(out, label, fingerprint_text(old_fingerprint), fingerprint_text(new_fingerprint),
                             old_fingerprint == new_fingerprint);
}

namespace {

template <class Names>
void print_first_names(std::ostream& out, std::string_view count_label, const Names& names, std::uint64_t limit) {
  out << "  " << count_label << ": " << names.size() << "\n";
  std::uint64_t shown = 0;
  for (auto name = names.begin(); name != names.end() && shown < limit; ++name, ++shown) {
    out << "  " << escape_control(*name) << "\n";
  }
  print_rest_count(out, names.size(), limit);
}

}  // namespace

void print_limited_names(std::ostream& out, std::string_view count_label, const std::vector<std::string>& names,
                         std::uint64_t limit) {
  print_first_names(out, count_label, names, limit);
}

void print_limited_names(std::ostream& out, std::string_view count_label, const WordList& names, std::uint64_t limit) {
  print_first_names(out, count_label, names, limit);
}

void print_name_list(std::ostream& out, std::string_view label, const std::vector<std::string>& names) {
  if (names.empty()) return;
  constexpr std::size_t kShown = 8;
  out << label << " ";
  std::size_t shown = names.size() <= kShown ? names.size() : kShown;
  for (std::size_t i = 0; i < shown; ++i) out << (i ? ", " : "") << escape_control(names[i]);
  if (names.size() > kShown) out << ", ... " << names.size() - kShown << " more";
  out << "\n";
}

}  // namespace tarnwick
