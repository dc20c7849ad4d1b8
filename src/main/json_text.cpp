#include "main/json_text.h"

#include <cmath>
#include <limits>

#include "main/shortest_decimal.h"
#include "main/text.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kDecimalIntegerSubtype = 0xDEC;

void append_escaped(std::string& out, const std::string& raw) {
  static const char* const kHex = "0123456789abcdef";
  std::string text = is_valid_utf8(raw) ? raw : decode_utf8_lossy(raw);
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += kHex[(c >> 4) & 0xF];
          out += kHex[c & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

template <class Value>
void append_value(std::string& out, const Value& value, std::size_t indent) {
  const std::string inner(indent + 2, ' ');
  const std::string outer(indent, ' ');
  switch (value.type()) {
    case nlohmann::json::value_t::object: {
      if (value.empty()) {
        out += "{}";
        return;
      }
      out += "{\n";
      bool first = true;
      for (auto member = value.cbegin(); member != value.cend(); ++member) {
        if (!first) out += ",\n";
        first = false;
        out += inner;
        append_escaped(out, member.key());
        out += ": ";
        append_value(out, member.value(), indent + 2);
      }
      out += "\n" + outer + "}";
      return;
    }
    case nlohmann::json::value_t::array: {
      if (value.empty()) {
        out += "[]";
        return;
      }
      out += "[\n";
      bool first = true;
      for (const auto& element : value) {
        if (!first) out += ",\n";
        first = false;
        out += inner;
        append_value(out, element, indent + 2);
      }
      out += "\n" + outer + "]";
      return;
    }
    case nlohmann::json::value_t::string: append_escaped(out, value.template get_ref<const std::string&>()); return;
    case nlohmann::json::value_t::boolean: out += value.template get<bool>() ? "true" : "false"; return;
    case nlohmann::json::value_t::number_integer: out += std::to_string(value.template get<std::int64_t>()); return;
    case nlohmann::json::value_t::number_unsigned: out += std::to_string(value.template get<std::uint64_t>()); return;
    case nlohmann::json::value_t::number_float: {
      double number = value.template get<double>();
      out += std::isfinite(number) ? shortest_json_number(number) : "null";
      return;
    }
    case nlohmann::json::value_t::binary: {
      const auto& bytes = value.get_binary();
      if (bytes.has_subtype() && bytes.subtype() == kDecimalIntegerSubtype) {
        out.append(bytes.begin(), bytes.end());
      } else {
        out += "null";
      }
      return;
    }
    case nlohmann::json::value_t::null:
    case nlohmann::json::value_t::discarded: out += "null"; return;
  }
}

template <class Value>
std::string pretty_text(const Value& value) {
  std::string out;
  append_value(out, value, 0);
  return out;
}

}  // namespace

std::string pretty_json_text(const Json& value) { return pretty_text(value); }

std::string json_quoted(const std::string& text) {
  std::string quoted;
  append_escaped(quoted, text);
  return quoted;
}

std::string pretty_json_text(const OrderedJson& value) { return pretty_text(value); }

Json json_signed_magnitude(bool negative, std::uint64_t magnitude) {
  if (!negative) return magnitude;
  constexpr std::uint64_t kLargestNegativeMagnitude =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
  if (magnitude < kLargestNegativeMagnitude) return -static_cast<std::int64_t>(magnitude);
  if (magnitude == kLargestNegativeMagnitude) return std::numeric_limits<std::int64_t>::min();
  std::string text = "-" + std::to_string(magnitude);
  return Json::binary(std::vector<std::uint8_t>(text.begin(), text.end()), kDecimalIntegerSubtype);
}

}  // namespace tarnwick
