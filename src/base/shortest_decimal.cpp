#include "base/shortest_decimal.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace tarnwick {

ShortestDecimal shortest_decimal(double value) {
  ShortestDecimal decimal;
  decimal.negative = std::signbit(value);
  if (value == 0) {
    decimal.digits = "0";
    decimal.point = 1;
    return decimal;
  }
  // The scientific form of to_chars without a precision is the shortest round-trip one: d.ddde±x.
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::scientific);
  std::string_view scientific(text, static_cast<std::size_t>(result.ptr - text));
  std::size_t e = scientific.find('e');
  for (char c : scientific.substr(0, e)) {
    if (c != '.') decimal.digits += c;
  }
  int exponent = 0;
  std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1), scientific.data() + scientific.size(),
                  exponent);
  decimal.point = exponent + 1;
  return decimal;
}

std::string shortest_positional(double value) {
  ShortestDecimal decimal = shortest_decimal(value);
  std::string text = decimal.negative ? "-" : "";
  const int length = static_cast<int>(decimal.digits.size());
  if (decimal.point <= 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-decimal.point), '0');
    text += decimal.digits;
  } else if (decimal.point >= length) {
    text += decimal.digits;
    text.append(static_cast<std::size_t>(decimal.point - length), '0');
  } else {
    text += decimal.digits.substr(0, static_cast<std::size_t>(decimal.point));
    text += '.';
    text += decimal.digits.substr(static_cast<std::size_t>(decimal.point));
  }
  return text;
}

namespace {

std::string exponent_text(int exponent) {
  std::string text = exponent < 0 ? "-" : "+";
  int magnitude = std::abs(exponent);
  if (magnitude < 10) text += '0';
  return text + std::to_string(magnitude);
}

}  // namespace

std::string shortest_json_number(double value) {
  constexpr int kMinPoint = -4;  // 0.0001 is the smallest magnitude written positionally
  constexpr int kMaxPoint = 15;  // up to fifteen integer digits written positionally
  ShortestDecimal decimal = shortest_decimal(value);
  std::string text = decimal.negative ? "-" : "";
  const int length = static_cast<int>(decimal.digits.size());
  const int point = decimal.point;
  if (value == 0) return text + "0.0";
  if (length <= point && point <= kMaxPoint) {
    text += decimal.digits;
    text.append(static_cast<std::size_t>(point - length), '0');
    return text + ".0";
  }
  if (0 < point && point <= kMaxPoint) {
    return text + decimal.digits.substr(0, static_cast<std::size_t>(point)) + "." +
           decimal.digits.substr(static_cast<std::size_t>(point));
  }
  if (kMinPoint < point && point <= 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-point), '0');
    return text + decimal.digits;
  }
  text += decimal.digits.substr(0, 1);
  if (length > 1) text += "." + decimal.digits.substr(1);
  return text + "e" + exponent_text(point - 1);
}

}  // namespace tarnwick
