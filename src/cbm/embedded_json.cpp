#include "cbm/embedded_json.h"

#include <optional>

#include "main/text.h"

namespace tarnwick {

namespace {

// One past the brace that closes the brace at `open`, or nothing when the bytes run out first.
std::optional<std::size_t> match_braces(std::string_view bytes, std::size_t open) {
  std::size_t depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (std::size_t i = open; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      if (depth < 2) return i + 1;
      --depth;
    }
  }
  return std::nullopt;
}

// Deepest nesting of objects and arrays outside strings.
std::size_t json_nesting(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') in_string = false;
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

std::optional<nlohmann::json> parse_span(std::string_view span) {
  if (!is_valid_utf8(span) || json_nesting(span) > kMaxEmbeddedJsonNesting) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(span, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

}  // namespace

std::vector<EmbeddedJsonObject> find_embedded_json_objects(std::string_view bytes) {
  std::vector<EmbeddedJsonObject> objects;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != '{') {
      ++i;
      continue;
    }
    std::optional<std::size_t> end = match_braces(bytes, i);
    if (!end) {
      ++i;
      continue;
    }
    if (std::optional<nlohmann::json> value = parse_span(bytes.substr(i, *end - i))) {
      objects.push_back({std::move(*value), i, *end});
    }
    i = *end;
  }
  return objects;
}

}  // namespace tarnwick
