#include "xgboost/json_events.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"

namespace tarnwick {

namespace {

bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

class PlainJsonReader {
 public:
  PlainJsonReader(std::string_view text, Json::json_sax_t& events) : text_(text), events_(events) {}

  bool read() {
    if (!value()) return false;
    // Containers close through the loop below: a value, then ',' or the container's end.
    while (!open_.empty()) {
      skip_space();
      if (at_ >= text_.size()) return false;
      char c = text_[at_++];
      bool in_object = open_.back() == '{';
      if (c == (in_object ? '}' : ']')) {
        open_.pop_back();
        in_object ? events_.end_object() : events_.end_array();
        continue;
      }
      if (c != ',') return false;
      if (in_object && !key()) return false;
      if (!value()) return false;
    }
    skip_space();
    return at_ == text_.size();
  }

 private:
  void skip_space() {
    while (at_ < text_.size() && is_space(text_[at_])) ++at_;
  }

  // A key and its colon.
  bool key() {
    skip_space();
    if (!string_text()) return false;
    events_.key(text_buffer_);
    skip_space();
    return at_ < text_.size() && text_[at_++] == ':';
  }

  // A scalar, or the openings of containers down to the first element that is not one (an empty
  // container closes at once). Deep nesting loops here; it never recurses.
  bool value() {
    for (;;) {
      skip_space();
      if (at_ >= text_.size()) return false;
      char c = text_[at_];
      if (c != '{' && c != '[') return scalar(c);
      ++at_;
      bool is_object = c == '{';
      is_object ? events_.start_object(static_cast<std::size_t>(-1))
                : events_.start_array(static_cast<std::size_t>(-1));
      skip_space();
      if (at_ < text_.size() && text_[at_] == (is_object ? '}' : ']')) {
        ++at_;
        is_object ? events_.end_object() : events_.end_array();
        return true;
      }
      open_.push_back(c);
      if (is_object && !key()) return false;
    }
  }

  bool scalar(char c) {
    if (c == '"' || c == 'N' || c == 'I' || (c == '-' && text_.substr(at_).starts_with("-I"))) {
      if (!string_text()) return false;
      events_.string(text_buffer_);
      return true;
    }
    if (c == '-' || is_digit(c)) return number();
    for (auto [word, kind] : {std::pair{"true", 1}, {"false", 0}, {"null", 2}}) {
      if (!text_.substr(at_).starts_with(word)) continue;
      at_ += std::string_view(word).size();
      kind == 2 ? events_.null() : events_.boolean(kind == 1);
      return true;
    }
    return false;
  }

  // A string without escapes or control characters into text_buffer_, or one of XGBoost's bare
  // words for non-finite floats.
  bool string_text() {
    if (at_ >= text_.size()) return false;
    if (text_[at_] != '"') {
      for (std::string_view word : {"NaN", "Infinity", "-Infinity"}) {
        if (!text_.substr(at_).starts_with(word)) continue;
        text_buffer_.assign(word);
        at_ += word.size();
        return true;
      }
      return false;
    }
    std::size_t begin = ++at_;
    bool ascii = true;
    for (; at_ < text_.size(); ++at_) {
      auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') break;
      if (c == '\\' || c < 0x20) return false;
      if (c >= 0x80) ascii = false;
    }
    if (at_ >= text_.size()) return false;
    std::string_view body = text_.substr(begin, at_ - begin);
    ++at_;
    if (!ascii && !is_valid_utf8(body)) return false;  // as nlohmann's lexer requires
    text_buffer_.assign(body);
    return true;
  }

  // A number by JSON's grammar: non-negative integers as unsigned, negative ones as signed,
  // anything with a fraction or exponent as a double, as nlohmann's lexer makes them.
  bool number() {
    std::size_t begin = at_;
    bool negative = text_[at_] == '-';
    if (negative) ++at_;
    if (at_ >= text_.size() || !is_digit(text_[at_])) return false;
    if (text_[at_] == '0') {
      ++at_;
    } else {
      while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    }
    bool integral = true;
    if (at_ < text_.size() && text_[at_] == '.') {
      integral = false;
      if (!digits_after(1)) return false;
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      integral = false;
      std::size_t sign = at_ + 1 < text_.size() && (text_[at_ + 1] == '+' || text_[at_ + 1] == '-') ? 1 : 0;
      if (!digits_after(1 + sign)) return false;
    }
    const char* first = text_.data() + begin;
    const char* last = text_.data() + at_;
    if (!integral) {
      double value = 0;
      auto [end, error] = std::from_chars(first, last, value);
      if (error != std::errc() || end != last) return false;
      events_.number_float(value, no_text_);
    } else if (negative) {
      std::int64_t value = 0;
      auto [end, error] = std::from_chars(first, last, value);
      if (error != std::errc() || end != last) return false;
      events_.number_integer(value);
    } else {
      std::uint64_t value = 0;
      auto [end, error] = std::from_chars(first, last, value);
      if (error != std::errc() || end != last) return false;
      events_.number_unsigned(value);
    }
    return true;
  }

  // Skips `marker` characters, then needs at least one digit and takes them all.
  bool digits_after(std::size_t marker) {
    at_ += marker;
    if (at_ >= text_.size() || !is_digit(text_[at_])) return false;
    while (at_ < text_.size() && is_digit(text_[at_])) ++at_;
    return true;
  }

  std::string_view text_;
  Json::json_sax_t& events_;
  std::size_t at_ = 0;
  std::vector<char> open_;  // '{' or '[' of every container still open
  std::string text_buffer_;
  const std::string no_text_;
};

}  // namespace

bool read_plain_json(std::string_view text, Json::json_sax_t& events) { return PlainJsonReader(text, events).read(); }

}  // namespace tarnwick
