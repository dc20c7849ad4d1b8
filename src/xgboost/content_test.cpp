#include "xgboost/content_test.h"

#include <cstdint>

namespace tarnwick {

namespace {

constexpr std::string_view kFirstKey = "learner";

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool json_starts_with_learner(std::string_view head) {
  std::size_t at = 0;
  auto skip_space = [&] {
    while (at < head.size() && is_json_space(head[at])) ++at;
  };
  skip_space();
  if (at >= head.size() || head[at] != '{') return false;
  ++at;
  skip_space();
  return head.substr(at).starts_with("\"learner\"");
}

// A UBJSON integer at `at`: its marker and big-endian value; false when there is none.
bool read_integer(std::string_view head, std::size_t& at, std::uint64_t& value) {
  if (at >= head.size()) return false;
  std::size_t width = 0;
  switch (head[at]) {
    case 'i':
    case 'U': width = 1; break;
    case 'I': width = 2; break;
    case 'l': width = 4; break;
    case 'L': width = 8; break;
    default: return false;
  }
  if (head.size() - at - 1 < width) return false;
  value = 0;
  for (std::size_t i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(head[at + 1 + i]);
  at += 1 + width;
  return true;
}

// '{', an optional count ('#' and an integer), then the key: its length 7 and its bytes.
bool ubjson_starts_with_learner(std::string_view head) {
  if (head.empty() || head[0] != '{') return false;
  std::size_t at = 1;
  std::uint64_t value = 0;
  if (at < head.size() && head[at] == '#') {
    ++at;
    if (!read_integer(head, at, value)) return false;
  }
  return read_integer(head, at, value) && value == kFirstKey.size() && head.substr(at).starts_with(kFirstKey);
}

}  // namespace

bool looks_like_xgboost_model(std::string_view head) {
  return json_starts_with_learner(head) || ubjson_starts_with_learner(head);
}

}  // namespace tarnwick
