#include "cbm/embedded_json.h"

#include <algorithm>
#include <optional>

#include "cbm/brace_matcher.h"
#include "main/text.h"

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
  // An empty object is common enough in crafted files (millions of `{}`) to skip the parser for.
  if (span.size() >= 2 && std::all_of(span.begin() + 1, span.end() - 1, is_json_space)) return nlohmann::json::object();
  if (!is_valid_utf8(span) || json_nesting(span) > kMaxEmbeddedJsonNesting) return std::nullopt;
  nlohmann::json value = nlohmann::json::parse(span, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

// The matches of every brace from some position on, looked up in increasing position order.
class PrecomputedMatches {
 public:
  PrecomputedMatches(std::string_view bytes, std::size_t from)
      : bytes_(bytes), matches_(bytes, from), counted_to_(from) {}

  std::optional<std::size_t> end_of(std::size_t brace) {
    for (; counted_to_ < brace; ++counted_to_) rank_ += bytes_[counted_to_] == '{';
    return matches_.end_of_rank(rank_);
  }

 private:
  std::string_view bytes_;
  BraceMatches matches_;
  std::size_t counted_to_;
  std::size_t rank_ = 0;
};

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
  // Matching brace by brace is linear while braces close; from the first brace that never
  // closes on, all remaining braces are matched in one pass instead of one scan each.
  std::optional<PrecomputedMatches> precomputed;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes[i] != '{') {
      ++i;
      continue;
    }
    // `{}` closes where it opens whatever came before, so a run of them needs no matching.
    std::size_t pairs = 0;
    while (i + 2 * pairs + 1 < bytes.size() && bytes[i + 2 * pairs] == '{' && bytes[i + 2 * pairs + 1] == '}') ++pairs;
    if (pairs > 0) {
      visit({nlohmann::json::object(), i, i + 2 * pairs, pairs});
      i += 2 * pairs;
      continue;
    }
    std::optional<std::size_t> end = precomputed ? precomputed->end_of(i) : match_brace_at(bytes, i);
    if (!end && !precomputed) precomputed.emplace(bytes, i);
    if (!end) {
      ++i;
      continue;
    }
    if (std::optional<nlohmann::json> value = parse_span(bytes.substr(i, *end - i))) {
      visit({std::move(*value), i, *end});
    }
    i = *end;
  }
}

}  // namespace tarnwick
