#include "base/number_parse.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace tarnwick {

namespace {

constexpr const char* kEmpty = "cannot parse integer from empty string";
constexpr const char* kInvalidDigit = "invalid digit found in string";
constexpr const char* kTooLarge = "number too large to fit in target type";
constexpr const char* kTooSmall = "number too small to fit in target type";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Accumulates digits left to right so the first offending character decides the reason.
Result<std::uint64_t> accumulate_digits(std::string_view digits, std::uint64_t limit, const char* overflow_reason) {
  if (digits.empty()) return fail(kInvalidDigit);
  std::uint64_t value = 0;
  for (char c : digits) {
    if (!is_digit(c)) return fail(kInvalidDigit);
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (limit - digit) / 10) return fail(overflow_reason);
    value = value * 10 + digit;
  }
  return value;
}

bool equals_ignoring_case(std::string_view text, std::string_view word) {
  if (text.size() != word.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

bool is_decimal_literal(std::string_view text) {
  std::size_t i = 0;
  std::size_t integer_digits = 0, fraction_digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++integer_digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++fraction_digits;
  }
  if (integer_digits + fraction_digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && is_digit(text[i])) ++i, ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == text.size();
}

}  // namespace

Result<std::uint64_t> parse_unsigned(std::string_view text) {
  if (text.empty()) return fail(kEmpty);
  if (text.front() == '+') text.remove_prefix(1);
  return accumulate_digits(text, std::numeric_limits<std::uint64_t>::max(), kTooLarge);
}

Result<std::int64_t> parse_signed(std::string_view text) {
  if (text.empty()) return fail(kEmpty);
  bool negative = text.front() == '-';
  if (text.front() == '+' || negative) text.remove_prefix(1);
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  Result<std::uint64_t> magnitude =
      accumulate_digits(text, negative ? kMax + 1 : kMax, negative ? kTooSmall : kTooLarge);
  if (!magnitude.is_ok()) return magnitude.error();
  if (!negative) return static_cast<std::int64_t>(magnitude.value());
  if (magnitude.value() == kMax + 1) return std::numeric_limits<std::int64_t>::min();
  return -static_cast<std::int64_t>(magnitude.value());
}

Result<double> parse_real(std::string_view text) {
  if (text.empty()) return fail("cannot parse float from empty string");
  bool negative = false;
  std::string_view body = text;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  double value;
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    value = std::numeric_limits<double>::infinity();
  } else if (equals_ignoring_case(body, "nan")) {
    value = std::numeric_limits<double>::quiet_NaN();
  } else if (is_decimal_literal(body)) {
    auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value);
    if (error == std::errc::result_out_of_range) {
      // strtod saturates to infinity or rounds to zero or a subnormal, as a float parse should.
      value = std::strtod(std::string(body).c_str(), nullptr);
    } else if (error != std::errc() || end != body.data() + body.size()) {
      return fail("invalid float literal");
    }
  } else {
    return fail("invalid float literal");
  }
  return negative ? -value : value;
}

Result<std::uint64_t> parse_byte_size(std::string_view text) {
  static constexpr std::pair<std::string_view, double> kUnits[] = {
      {"kib", 1024.0}, {"mib", 1048576.0}, {"gib", 1073741824.0}, {"tib", 1099511627776.0},
      {"kb", 1e3},     {"mb", 1e6},        {"gb", 1e9},           {"tb", 1e12},
      {"k", 1024.0},   {"m", 1048576.0},   {"g", 1073741824.0},   {"t", 1099511627776.0},
      {"b", 1.0}};
  std::string lower;
  for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  double scale = 1.0;
  std::string_view number = lower;
  for (const auto& [unit, factor] : kUnits) {
    if (number.size() > unit.size() && number.ends_with(unit)) {
      number.remove_suffix(unit.size());
      scale = factor;
      break;
    }
  }
  Result<double> value = parse_real(number);
  double bytes = value.is_ok() ? value.value() * scale : -1.0;
  if (!(bytes >= 0) || bytes >= 18446744073709551615.0) {
    return fail("a size needs a number of bytes with an optional unit (B, KB, MB, GB, KiB, MiB, GiB), got `" +
                std::string(text) + "`");
  }
  return static_cast<std::uint64_t>(bytes);
}

}  // namespace tarnwick
