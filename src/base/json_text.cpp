#include "base/json_text.h"

#include <cmath>
#include <limits>
#include <ostream>
#include <string_view>

#include "base/shortest_decimal.h"
#include "base/text.h"
#include "base/word_list.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kDecimalIntegerSubtype = 0xDEC;
constexpr std::uint64_t kWordArraySubtype = 0x30D;

// Text is handed to the stream, when there is one, in pieces of about this size, so a document
// with millions of entries never lies in memory as a whole.
constexpr std::size_t kChunkBytes = 1 << 16;

struct TextSink {
  std::string text;
  std::ostream* stream = nullptr;

  void flush_if_full() {
    if (stream == nullptr || text.size() < kChunkBytes) return;
    stream->write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  }
  void flush() {
    if (stream != nullptr) stream->write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  }
};

void append_escaped(std::string& out, std::string_view raw) {
  static const char* const kHex = "0123456789abcdef";
  std::string decoded;
  std::string_view text = raw;
  if (!is_valid_utf8(raw)) text = decoded = decode_utf8_lossy(raw);
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

// The words of a word array, joined by single spaces, as an array of strings.
void append_words(TextSink& sink, std::string_view joined, std::size_t indent) {
  std::string& out = sink.text;
  if (joined.empty()) {
    out += "[]";
    return;
  }
  const std::string inner(indent + 2, ' ');
  out += "[\n";
  for (WordList::Iterator word(joined); word != WordList::Iterator(); ++word) {
    if (word->data() != joined.data()) out += ",\n";
    out += inner;
    append_escaped(out, *word);
    sink.flush_if_full();
  }
  out += "\n" + std::string(indent, ' ') + "]";
}

template <class Value>
void append_value(TextSink& sink, const Value& value, std::size_t indent) {
  std::string& out = sink.text;
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
        append_value(sink, member.value(), indent + 2);
        sink.flush_if_full();
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
        append_value(sink, element, indent + 2);
        sink.flush_if_full();
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
      } else if (bytes.has_subtype() && bytes.subtype() == kWordArraySubtype) {
        append_words(sink, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), indent);
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
  TextSink sink;
  append_value(sink, value, 0);
  return std::move(sink.text);
}

template <class Value>
void write_pretty(std::ostream& out, const Value& value) {
  TextSink sink{{}, &out};
  append_value(sink, value, 0);
  sink.flush();
}

template <class Document>
Document word_array(const WordList& words) {
  const std::string& joined = words.joined();
  return Document::binary(std::vector<std::uint8_t>(joined.begin(), joined.end()), kWordArraySubtype);
}

}  // namespace

std::string pretty_json_text(const Json& value) { return pretty_text(value); }

void write_pretty_json(std::ostream& out, const Json& value) { write_pretty(out, value); }

void write_pretty_json(std::ostream& out, const OrderedJson& value) { write_pretty(out, value); }

Json json_word_array(const WordList& words) { return word_array<Json>(words); }

OrderedJson ordered_word_array(const WordList& words) { return word_array<OrderedJson>(words); }

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
