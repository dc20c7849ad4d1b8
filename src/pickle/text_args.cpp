#include "pickle/text_args.h"

#include <cerrno>
#include <cstdlib>

namespace tarnwick::pickle {

namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::uint32_t> parse_hex(std::string_view digits) {
  std::uint32_t value = 0;
  for (char c : digits) {
    int digit = hex_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string_view strip_long_suffix(std::string_view text) {
  if (!text.empty() && text.back() == 'L') text.remove_suffix(1);
  return text;
}

}  // namespace

bool is_decimal_integer(std::string_view text) {
  text = strip_long_suffix(text);
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::optional<std::int64_t> parse_decimal(std::string_view text) {
  text = strip_long_suffix(text);
  if (!is_decimal_integer(text)) return std::nullopt;
  bool negative = text[0] == '-';
  if (text[0] == '-' || text[0] == '+') text.remove_prefix(1);
  std::uint64_t magnitude = 0;
  constexpr std::uint64_t kLimit = 9223372036854775808ULL;  // |INT64_MIN|
  for (char c : text) {
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (kLimit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative && magnitude == kLimit) return std::nullopt;
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

std::optional<double> parse_float_line(std::string_view text) {
  std::string copy(text);
  if (copy.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size()) return std::nullopt;
  return value;
}

void append_utf8(std::string& out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

Result<std::string> unquote_string_literal(std::string_view text) {
  if (text.size() < 2 || (text[0] != '\'' && text[0] != '"') || text.back() != text[0]) {
    return fail("STRING argument is not a quoted literal");
  }
  std::string_view body = text.substr(1, text.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\') {
      out.push_back(body[i]);
      continue;
    }
    if (++i == body.size()) return fail("STRING literal ends with a backslash");
    char c = body[i];
    switch (c) {
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case 'r': out.push_back('\r'); break;
      case 'a': out.push_back('\a'); break;
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'v': out.push_back('\v'); break;
      case '\n': break;
      case 'x': {
        std::optional<std::uint32_t> value =
            body.size() - i - 1 >= 2 ? parse_hex(body.substr(i + 1, 2)) : std::nullopt;
        if (!value) return fail("bad \\x escape in STRING literal");
        out.push_back(static_cast<char>(*value));
        i += 2;
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          std::uint32_t value = 0;
          std::size_t digits = 0;
          while (digits < 3 && i < body.size() && body[i] >= '0' && body[i] <= '7') {
            value = value * 8 + static_cast<std::uint32_t>(body[i] - '0');
            ++i, ++digits;
          }
          --i;
          out.push_back(static_cast<char>(value & 0xFF));
        } else {
          out.push_back('\\');  // Python keeps unknown escapes as written
          out.push_back(c);
        }
    }
  }
  return out;
}

Result<std::string> decode_raw_unicode_escape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == 'u' || text[i + 1] == 'U')) {
      std::size_t width = text[i + 1] == 'u' ? 4 : 8;
      if (text.size() - i - 2 < width) return fail("truncated \\u escape in UNICODE argument");
      std::optional<std::uint32_t> code_point = parse_hex(text.substr(i + 2, width));
      if (!code_point || *code_point > 0x10FFFF) return fail("bad \\u escape in UNICODE argument");
      append_utf8(out, *code_point);
      i += 1 + width;
    } else {
      append_utf8(out, c);
    }
  }
  return out;
}

}  // namespace tarnwick::pickle
