#include "xgboost/xgboost_document.h"

#include <optional>

#include "base/decode_budget.h"
#include "xgboost/json_events.h"
#include "xgboost/ubjson.h"

namespace tarnwick {

namespace {

// The word XGBoost wrote for a non-finite float at the start of `rest`, if any.
std::string_view non_finite_word(std::string_view rest) {
  for (std::string_view word : {"NaN", "Infinity", "-Infinity"}) {
    if (rest.starts_with(word)) return word;
  }
  return {};
}

// XGBoost writes non-finite floats as the bare words NaN, Infinity and -Infinity, which JSON does
// not have: outside strings they become the strings "NaN", "Infinity" and "-Infinity". The text
// is copied only when it holds one.
std::optional<std::string> quote_non_finite_words(std::string_view text) {
  std::optional<std::string> quoted;
  std::size_t copied = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (c == '"') {
      // Skip the string: to its closing quote, past escaped characters.
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\') ++at;
      }
      continue;
    }
    if (c != 'N' && c != 'I' && c != '-') continue;
    std::string_view word = non_finite_word(text.substr(at));
    if (word.empty()) continue;
    if (!quoted) quoted.emplace();
    quoted->append(text.substr(copied, at - copied)).append("\"").append(word).append("\"");
    at += word.size() - 1;
    copied = at + 1;
  }
  if (quoted) quoted->append(text.substr(copied));
  return quoted;
}

// Passes JSON events on while they stay within the budget and the nesting limit. Past either it
// passes nothing more but lets the parser read on, so a later syntax error is still the one told.
// Only a syntax error stops the parser.
class BoundedEvents final : public Json::json_sax_t {
 public:
  BoundedEvents(DecodeBudget& budget, Json::json_sax_t& events) : budget_(budget), events_(events) {}

  const std::optional<std::string>& refused() const { return refused_; }
  const std::optional<std::string>& syntax_error() const { return syntax_error_; }

  bool null() override {
    if (admit()) events_.null();
    return true;
  }
  bool boolean(bool value) override {
    if (admit()) events_.boolean(value);
    return true;
  }
  bool number_integer(number_integer_t value) override {
    if (admit()) events_.number_integer(value);
    return true;
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (admit()) events_.number_unsigned(value);
    return true;
  }
  bool number_float(number_float_t value, const string_t& text) override {
    if (admit()) events_.number_float(value, text);
    return true;
  }
  bool string(string_t& value) override {
    if (admit()) events_.string(value);
    return true;
  }
  bool binary(binary_t& value) override {
    if (admit()) events_.binary(value);
    return true;
  }
  bool key(string_t& value) override {
    if (admit()) events_.key(value);
    return true;
  }
  bool start_object(std::size_t elements) override {
    if (open()) events_.start_object(elements);
    return true;
  }
  bool start_array(std::size_t elements) override {
    if (open()) events_.start_array(elements);
    return true;
  }
  bool end_object() override {
    if (close()) events_.end_object();
    return true;
  }
  bool end_array() override {
    if (close()) events_.end_array();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    std::string_view message = error.what();
    if (std::size_t tag_end = message.find("] "); tag_end != std::string_view::npos) message.remove_prefix(tag_end + 2);
    syntax_error_ = std::string(message);
    return false;
  }

 private:
  // Whether the event is passed on: not once the document is refused.
  bool admit() {
    if (refused_) return false;
    if (Status drawn = budget_.draw(1, "JSON values"); !drawn.is_ok()) refused_ = drawn.message();
    return !refused_;
  }

  bool open() {
    if (!refused_ && ++depth_ > DecodeBudget::kMaxValueNesting) {
      refused_ = "values nested deeper than " + std::to_string(DecodeBudget::kMaxValueNesting) + " levels";
    }
    return admit();
  }

  bool close() {
    --depth_;
    return admit();
  }

  DecodeBudget& budget_;
  Json::json_sax_t& events_;
  std::size_t depth_ = 0;
  std::optional<std::string> refused_;
  std::optional<std::string> syntax_error_;
};

// The fast reader first; where it declines, nlohmann's parser over the text with XGBoost's words
// quoted, from the start, with a fresh budget.
Status stream_json_text(std::string_view text, DocumentEvents& events) {
  {
    DecodeBudget budget(text.size());
    BoundedEvents bounded(budget, events);
    if (read_plain_json(text, bounded)) {
      if (bounded.refused()) return fail("invalid JSON: " + *bounded.refused());
      return Status::ok();
    }
  }
  events.restart();
  DecodeBudget budget(text.size());
  BoundedEvents bounded(budget, events);
  std::optional<std::string> quoted = quote_non_finite_words(text);
  std::string_view parsed = quoted ? std::string_view(*quoted) : text;
  Json::sax_parse(parsed.data(), parsed.data() + parsed.size(), &bounded, nlohmann::detail::input_format_t::json, true);
  if (bounded.syntax_error()) return fail("invalid JSON: " + *bounded.syntax_error());
  if (bounded.refused()) return fail("invalid JSON: " + *bounded.refused());
  return Status::ok();
}

Status stream_document(std::string_view bytes, DocumentEvents& events) {
  if (!is_ubjson_model(bytes)) return stream_json_text(bytes, events);
  DecodeBudget budget(bytes.size());
  return decode_ubjson(bytes, budget, events);
}

}  // namespace

bool is_ubjson_model(std::string_view bytes) {
  return bytes.size() >= 2 && bytes[0] == '{' && std::string_view("iUIlL$#}N").find(bytes[1]) != std::string_view::npos;
}

Status stream_xgboost_document(const std::string& path, std::string_view bytes, DocumentEvents& events) {
  Status streamed = stream_document(bytes, events);
  if (!streamed.is_ok()) return fail(path + ": " + streamed.message());
  return Status::ok();
}

}  // namespace tarnwick
