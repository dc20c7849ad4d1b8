#include "base/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "base/shortest_decimal.h"

namespace tarnwick {

std::uint64_t fnv1a64(std::string_view bytes) {
  Fnv1a64 hash;
  hash.update(bytes);
  return hash.digest();
}

std::string format_fingerprint(std::uint64_t fingerprint) {
  char text[19];
  std::snprintf(text, sizeof text, "0x%016llx", static_cast<unsigned long long>(fingerprint));
  return text;
}

std::string format_non_finite(double value) {
  if (std::isnan(value)) return "NaN";
  return value < 0 ? "-inf" : "inf";
}

void append_fixed(std::string& text, double value, int decimals) {
  if (!std::isfinite(value)) {
    text += format_non_finite(value);
    return;
  }
  // std::to_chars writes the digits printf's "%.*f" writes (the exact binary value rounded to
  // nearest, ties to even), several times faster: tensors print millions of values.
  char digits[400];
  std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
  if (written.ec == std::errc{}) {
    text.append(digits, written.ptr);
    return;
  }
  std::vector<char> wide(static_cast<std::size_t>(std::max(decimals, 0)) + 400);
  std::snprintf(wide.data(), wide.size(), "%.*f", decimals, value);
  text += wide.data();
}

std::string format_fixed(double value, int decimals) {
  std::string text;
  append_fixed(text, value, decimals);
  return text;
}

std::string format_signed_fixed(double value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "+inf";
  char text[400];
  std::snprintf(text, sizeof text, "%+.*f", decimals, value);
  return text;
}

std::string format_bytes(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  if (bytes < 1048576) return format_fixed(static_cast<double>(bytes) / 1024.0, 1) + " KiB";
  return format_fixed(static_cast<double>(bytes) / 1048576.0, 1) + " MiB";
}

std::string format_count_short(std::uint64_t count) {
  if (count <= 999) return std::to_string(count);
  if (count <= 999999) return format_fixed(static_cast<double>(count) / 1e3, 1) + "K";
  if (count <= 999999999) return format_fixed(static_cast<double>(count) / 1e6, 1) + "M";
  return format_fixed(static_cast<double>(count) / 1e9, 1) + "B";
}

std::string format_delta(std::uint64_t old_value, std::uint64_t new_value) {
  if (old_value == new_value) return "same";
  if (new_value > old_value) return "+" + std::to_string(new_value - old_value);
  return "-" + std::to_string(old_value - new_value);
}

std::string format_max_depth(std::int64_t depth) { return depth < 0 ? "unlimited" : std::to_string(depth); }

std::string format_real(double value) {
  if (!std::isfinite(value)) return format_non_finite(value);
  return shortest_positional(value);
}

std::string format_significant(double value, int digits) {
  if (!std::isfinite(value)) return format_non_finite(value);
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

std::string format_optional_count(std::optional<std::uint64_t> count) {
  return count ? std::to_string(*count) : "unknown";
}

std::string format_percent_change(std::uint64_t old_value, std::uint64_t new_value) {
  if (old_value == 0 && new_value != 0) return "n/a (from zero)";
  double percent = 0.0;
  if (old_value != 0) {
    percent =
        (static_cast<double>(new_value) - static_cast<double>(old_value)) * 100.0 / static_cast<double>(old_value);
  }
  if (std::fabs(percent) < 0.005) return "same";
  return format_signed_fixed(percent, 0) + "%";
}

std::string optional_text_or_unknown(const std::optional<std::string>& text) { return text ? *text : "unknown"; }

std::optional<std::string> optional_count_text(std::optional<std::uint64_t> count) {
  if (!count) return std::nullopt;
  return std::to_string(*count);
}

std::optional<std::string> optional_fixed_text(std::optional<double> value, int decimals) {
  if (!value) return std::nullopt;
  return format_fixed(*value, decimals);
}

std::optional<std::string> optional_real_text(std::optional<double> value) {
  if (!value) return std::nullopt;
  return format_real(*value);
}

}  // namespace tarnwick
