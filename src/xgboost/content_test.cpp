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

// '{', a length marker and big-endian length 7, then the key's bytes.
bool ubjson_starts_with_learner(std::string_view head) {
  if (head.size() < 2 || head[0] != '{') return false;
  std::size_t width = 0;
  switch (head[1]) {
    case 'i': case 'U': width = 1; break;
    case 'I': width = 2; break;
    case 'l': width = 4; break;
    case 'L': width = 8; break;
    default: return false;
  }
  if (head.size() < 2 + width + kFirstKey.size()) return false;
  std::uint64_t length = 0;
  for (std::size_t i = 0; i < width; ++i) length = length << 8 | static_cast<unsigned char>(head[2 + i]);
  return length == kFirstKey.size() && head.substr(2 + width, kFirstKey.size()) == kFirstKey;
}

}  // namespace

bool looks_like_xgboost_model(std::string_view head) {
  return json_starts_with_learner(head) || ubjson_starts_with_learner(head);
}

}  // namespace tarnwick
