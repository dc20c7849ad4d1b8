#include "cbm/embedded_json.h"

#include <algorithm>
#include <optional>

#include "cbm/brace_matcher.h"
#include "base/text.h"

namespace tarnwick {

namespace {

// Deepest nesting of objects and arrays outside strings.
std::size_t json_nesting(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::optional<nlohmann::json> parse_span(std::string_view span) {
  // After the opening brace an object holds a key or ends: anything else is no object, and
  // noise full of braces is mostly that, so the parser is spared those spans.
  auto first = std::find_if_not(span.begin() + 1, span.end(), is_json_space);
  if (first == span.end() - 1) return nlohmann::json::object();  // the closing brace: an empty object
  if (*first != '"') return std::nullopt;
  if (!is_valid_utf8(span) || json_nesting(span) > kMaxEmbeddedJsonNesting) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(span, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<EmbeddedJsonObject> find_embedded_json_objects(std::string_view bytes) {
  std::vector<EmbeddedJsonObject> objects;
  for_each_embedded_json_object(bytes, [&](EmbeddedJsonObject&& object) {
    std::size_t width = (object.end - object.start) / object.repeats;
    for (std::size_t k = 0; k < object.repeats; ++k) {
      objects.push_back({object.value, object.start + k * width, object.start + (k + 1) * width, 1});
    }
  });
  return objects;
}

void for_each_embedded_json_object(std::string_view bytes, const std::function<void(EmbeddedJsonObject&&)>& visit) {
  for_each_brace_span(bytes, [&](std::size_t start, std::size_t end) {
    if (bytes[start + 1] == '}') {  // a run of `{}`
      visit({nlohmann::json::object(), start, end, (end - start) / 2});
    } else if (std::optional<nlohmann::json> value = parse_span(bytes.substr(start, end - start))) {
      visit({std::move(*value), start, end});
    }
  });
}

}  // namespace tarnwick
