#include "xgboost/xgboost_document.h"

#include <optional>

#include "base/decode_budget.h"
#include "xgboost/ubjson.h"

namespace tarnwick {

namespace {

// XGBoost writes non-finite floats as the bare words NaN, Infinity and -Infinity, which JSON does
// not have: outside strings they become the strings "NaN", "Infinity" and "-Infinity". The text
// is copied only when it holds one.
std::optional<std::string> quote_non_finite_words(std::string_view text) {
  std::optional<std::string> quoted;
  std::size_t copied = 0;
  bool in_string = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (in_string) {
      if (c == '\\')
        ++at;
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"') {
      in_string = true;
      continue;
    }
    for (std::string_view word : {"NaN", "Infinity", "-Infinity"}) {
      if (!text.substr(at).starts_with(word)) continue;
      if (!quoted) quoted.emplace();
      quoted->append(text.substr(copied, at - copied)).append("\"").append(word).append("\"");
      at += word.size() - 1;
      copied = at + 1;
      break;
    }
  }
  if (quoted) quoted->append(text.substr(copied));
  return quoted;
}

Result<Json> parse_json_text(std::string_view text, DecodeBudget& budget) {
  std::optional<std::string> refused;
  std::size_t depth = 0;
  auto bounded = [&](int, Json::parse_event_t event, Json&) {
    using Event = Json::parse_event_t;
    if (refused) return false;
    if (event == Event::object_start || event == Event::array_start) {
      if (++depth > DecodeBudget::kMaxValueNesting) {
        refused = "values nested deeper than " + std::to_string(DecodeBudget::kMaxValueNesting) + " levels";
        return false;
      }
    }
    if (event == Event::object_end || event == Event::array_end) --depth;
    if (Status drawn = budget.draw(1, "JSON values"); !drawn.is_ok()) {
      refused = drawn.message();
      return false;
    }
    return true;
  };
  try {
    Json document = Json::parse(text, bounded);
    if (refused) return fail("invalid JSON: " + *refused);
    return document;
  } catch (const Json::exception& error) {
    std::string_view message = error.what();
    if (std::size_t tag_end = message.find("] "); tag_end != std::string_view::npos) message.remove_prefix(tag_end + 2);
    return fail("invalid JSON: " + std::string(message));
  }
}

Result<Json> decode_document(std::string_view bytes, DecodeBudget& budget) {
  if (is_ubjson_model(bytes)) return decode_ubjson(bytes, budget);
  std::optional<std::string> quoted = quote_non_finite_words(bytes);
  return parse_json_text(quoted ? std::string_view(*quoted) : bytes, budget);
}

}  // namespace

bool is_ubjson_model(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == '{' && std::string_view("iUIlL$#}N").find(bytes[1]) != std::string_view::npos;
}

Result<Json> parse_xgboost_document(const std::string& path, std::string_view bytes) {
  DecodeBudget budget(bytes.size());
  Result<Json> document = decode_document(bytes, budget);
  if (!document.is_ok()) return fail(path + ": " + document.message());
  return document;
}

}  // namespace tarnwick
