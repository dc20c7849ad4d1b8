#include "model/plan_json.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <nlohmann/json.hpp>

#include "base/format.h"

namespace tarnwick {

namespace {

// A character iterator that reports how far the parser has read, for line and column numbers.
class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator() = default;
  CountingIterator(const char* at, std::size_t* furthest) : at_(at), furthest_(furthest) {}
  reference operator*() const { return *at_; }
  CountingIterator& operator++() {
    ++at_;
    if (furthest_) ++*furthest_;
    return *this;
  }
  CountingIterator operator++(int) {
    CountingIterator copy = *this;
    ++*this;
    return copy;
  }
  bool operator==(const CountingIterator& other) const { return at_ == other.at_; }
  bool operator!=(const CountingIterator& other) const { return at_ != other.at_; }

 private:
  const char* at_ = nullptr;
  std::size_t* furthest_ = nullptr;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_number_char(char c) { return is_digit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

class TreeBuilder : public nlohmann::json_sax<nlohmann::json> {
 public:
  TreeBuilder(std::string_view text, const std::size_t& consumed) : text_(text), consumed_(consumed) {}

  bool null() override { return leaf(PlanValue{}); }
  bool boolean(bool value) override {
    PlanValue v;
    v.type = PlanValue::Type::Boolean;
    v.boolean = value;
    return leaf(std::move(v));
  }
  bool number_integer(number_integer_t value) override {
    PlanValue v;
    v.type = PlanValue::Type::Integer;
    v.integer = value;
    return leaf(std::move(v));
  }
  bool number_unsigned(number_unsigned_t value) override {
    PlanValue v;
    v.type = PlanValue::Type::Unsigned;
    v.unsigned_integer = value;
    return leaf(std::move(v));
  }
  bool number_float(number_float_t value, const string_t& written) override {
    PlanValue v;
    v.type = PlanValue::Type::Float;
    v.real = value;
    v.text = written;
    return leaf(std::move(v));
  }
  bool string(string_t& value) override {
    PlanValue v;
    v.type = PlanValue::Type::String;
    v.text = std::move(value);
    return leaf(std::move(v));
  }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override { return open(PlanValue::Type::Object); }
  bool key(string_t& key) override {
    pending_keys_.back() = std::move(key);
    return true;
  }
  bool end_object() override { return close(); }
  bool start_array(std::size_t) override { return open(PlanValue::Type::Array); }
  bool end_array() override { return close(); }
  // Every message ends "at line L column C": the parser's own "parse error at line L, column C: "
  // prefix is moved there, and a message without one gets the position read so far.
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
    std::string message = error.what();
    std::size_t bracket = message.find("] ");
    if (message.starts_with("[json.exception.") && bracket != std::string::npos) message = message.substr(bracket + 2);
    std::size_t line = 0, column = 0;
    int prefix_length = 0;
    if (std::sscanf(message.c_str(), "parse error at line %zu, column %zu: %n", &line, &column, &prefix_length) == 2 &&
        prefix_length > 0) {
      error_ = message.substr(static_cast<std::size_t>(prefix_length)) + " at line " + std::to_string(line) +
               " column " + std::to_string(column);
      return false;
    }
    PlanValue here;
    mark_position(here, false);
    error_ = message + " at line " + std::to_string(here.line) + " column " + std::to_string(here.column);
    return false;
  }

  Result<PlanValue> finish() {
    if (!error_.empty()) return fail(error_);
    return std::move(root_);
  }

 private:
  // Positions only move forward, so lines are counted incrementally. A number is placed where it
  // starts; any other value where its last character is. Returns that offset.
  std::size_t mark_position(PlanValue& value, bool number) {
    std::size_t end = std::min(consumed_ == 0 ? 0 : consumed_ - 1, text_.size());
    if (number) end = number_start(end);
    for (; scanned_ < end; ++scanned_) {
      if (text_[scanned_] == '\n') {
        ++line_;
        line_start_ = scanned_ + 1;
      }
    }
    value.line = line_;
    value.column = end - line_start_ + 1;
    return end;
  }

  // The parser has read one character past a number (or stopped at the end of the text): step
  // back to the number's last digit, then over its characters to its first.
  std::size_t number_start(std::size_t after) const {
    std::size_t at = std::min(after + 1, text_.size());
    while (at > scanned_ && !is_digit(text_[at - 1])) --at;
    while (at > scanned_ && is_number_char(text_[at - 1])) --at;
    return at;
  }

  bool leaf(PlanValue value) {
    bool number = value.type == PlanValue::Type::Integer || value.type == PlanValue::Type::Unsigned ||
                  value.type == PlanValue::Type::Float;
    std::size_t start = mark_position(value, number);
    if (number && !stack_.empty() && stack_.back().type == PlanValue::Type::Array) {
      add_to_run(stack_.back(), value, start);
    } else {
      attach(std::move(value));
    }
    return true;
  }

  // A number in an array joins the run that ends the array so far, or starts one.
  void add_to_run(PlanValue& array, const PlanValue& number, std::size_t start) {
    std::size_t end = start;
    while (end < text_.size() && is_number_char(text_[end])) ++end;
    if (!array.number_runs.empty() && array.number_runs.back().before == array.items.size()) {
      NumberRun& run = array.number_runs.back();
      std::size_t run_start = static_cast<std::size_t>(run.text.data() - text_.data());
      run.text = text_.substr(run_start, end - run_start);
      ++run.count;
      return;
    }
    array.number_runs.push_back({array.items.size(), text_.substr(start, end - start), 1, number.line, number.column});
  }

  void attach(PlanValue value) {
    if (stack_.empty()) {
      root_ = std::move(value);
    } else if (stack_.back().type == PlanValue::Type::Array) {
      stack_.back().items.push_back(std::move(value));
    } else {
      stack_.back().members.push_back({std::move(pending_keys_.back()), std::move(value)});
    }
  }

  bool open(PlanValue::Type type) {
    if (stack_.size() >= kMaxPlanNesting) {
      PlanValue here;
      mark_position(here, false);
      error_ =
          "recursion limit exceeded at line " + std::to_string(here.line) + " column " + std::to_string(here.column);
      return false;
    }
    PlanValue container;
    container.type = type;
    stack_.push_back(std::move(container));
    pending_keys_.emplace_back();
    return true;
  }

  bool close() {
    PlanValue done = std::move(stack_.back());
    stack_.pop_back();
    pending_keys_.pop_back();
    mark_position(done, false);
    attach(std::move(done));
    return true;
  }

  std::string_view text_;
  const std::size_t& consumed_;
  std::size_t scanned_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;
  std::vector<PlanValue> stack_;
  std::vector<std::string> pending_keys_;
  PlanValue root_;
  std::string error_;
};

std::string describe(const PlanValue& value) {
  switch (value.type) {
    case PlanValue::Type::Null: return "null";
    case PlanValue::Type::Boolean: return std::string("boolean `") + (value.boolean ? "true" : "false") + "`";
    case PlanValue::Type::Integer: return "integer `" + std::to_string(value.integer) + "`";
    case PlanValue::Type::Unsigned: return "integer `" + std::to_string(value.unsigned_integer) + "`";
    case PlanValue::Type::Float: return "floating point `" + format_real(value.real) + "`";
    case PlanValue::Type::String: return "string \"" + value.text + "\"";
    case PlanValue::Type::Array: return "sequence";
    case PlanValue::Type::Object: return "map";
  }
  return "value";
}

// A number read as the parser reads it: without a fraction or an exponent it is a signed (when
// negative) or unsigned integer if it fits, and otherwise a double.
void decode_number(std::string_view token, PlanValue& value) {
  value.text.clear();
  const char* first = token.data();
  const char* last = token.data() + token.size();
  if (token.find_first_of(".eE") == std::string_view::npos) {
    if (token.front() == '-') {
      auto [end, error] = std::from_chars(first, last, value.integer);
      if (error == std::errc() && end == last) {
        value.type = PlanValue::Type::Integer;
        return;
      }
    } else {
      auto [end, error] = std::from_chars(first, last, value.unsigned_integer);
      if (error == std::errc() && end == last) {
        value.type = PlanValue::Type::Unsigned;
        return;
      }
    }
  }
  // The token is followed by a separator in the text, so the conversion stops at its end.
  value.type = PlanValue::Type::Float;
  value.real = std::strtod(first, nullptr);
  value.text.assign(token);
}

Status visit_run(const NumberRun& run, const std::function<Status(const PlanValue&)>& visit) {
  PlanValue number;
  std::string_view text = run.text;
  std::size_t line = run.line;
  // Where the current line starts, as an offset into the run's text (before it, on the first line).
  std::ptrdiff_t line_start = 1 - static_cast<std::ptrdiff_t>(run.column);
  std::size_t at = 0;
  for (std::size_t n = 0; n < run.count; ++n) {
    for (; at < text.size() && !is_number_char(text[at]); ++at) {
      if (text[at] == '\n') {
        ++line;
        line_start = static_cast<std::ptrdiff_t>(at) + 1;
      }
    }
    std::size_t start = at;
    while (at < text.size() && is_number_char(text[at])) ++at;
    decode_number(text.substr(start, at - start), number);
    number.line = line;
    number.column = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(start) - line_start + 1);
    if (Status status = visit(number); !status.is_ok()) return status;
  }
  return Status::ok();
}

}  // namespace

std::size_t item_count(const PlanValue& array) {
  std::size_t count = array.items.size();
  for (const NumberRun& run : array.number_runs) count += run.count;
  return count;
}

Status for_each_item(const PlanValue& array, const std::function<Status(const PlanValue&)>& visit) {
  std::size_t next = 0;
  auto visit_items_before = [&](std::size_t end) -> Status {
    for (; next < end; ++next) {
      if (Status status = visit(array.items[next]); !status.is_ok()) return status;
    }
    return Status::ok();
  };
  for (const NumberRun& run : array.number_runs) {
    if (Status status = visit_items_before(run.before); !status.is_ok()) return status;
    if (Status status = visit_run(run, visit); !status.is_ok()) return status;
  }
  return visit_items_before(array.items.size());
}

Result<PlanValue> parse_plan_json(std::string_view text) {
  std::size_t consumed = 0;
  TreeBuilder builder(text, consumed);
  CountingIterator begin(text.data(), &consumed), end(text.data() + text.size(), nullptr);
  nlohmann::json::sax_parse(begin, end, &builder, nlohmann::detail::input_format_t::json, true);
  return builder.finish();
}

Error error_at(const PlanValue& value, const std::string& message) {
  return fail(message + " at line " + std::to_string(value.line) + " column " + std::to_string(value.column));
}

Error invalid_type(const PlanValue& value, const std::string& expected) {
  return error_at(value, "invalid type: " + describe(value) + ", expected " + expected);
}

}  // namespace tarnwick
